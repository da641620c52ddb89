#include "app/AccelMap.h"
#include "app/CommandTable.h"
#include "app/ControlMapStore.h"
#include "gui/AccelMapEditor.h"
#include "gui/ControlEntryDialog.h"
#include "gui/ControlMapDialog.h"
#include "gui/CueDialog.h"
#include "gui/HelpButton.h"
#include "gui/NewDialog.h"
#include "gui/OptionsSheet.h"
#include "gui/SyncDialog.h"
#include "gui/SynthDatabaseDialog.h"
#include "playback/MidiInPort.h"
#include "song/Song.h"
#include "support/TestContext.h"
#include "synthdb/SynthDatabase.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <algorithm>

using namespace cantivo;
using cantivo::test::TestContext;

namespace {

constexpr int32_t Bar = 480; // 4/4 at timebase 120

// Four plain 4/4 measures.
struct CueSong {
    CueSong() : song(context.Context())
    {
        song.NewSongDefaults();
        song.timebase = 120;
        song.measures.clear();
        for (int i = 0; i < 4; ++i) {
            Measure measure;
            measure.start = i * Bar;
            measure.length = Bar;
            measure.number = static_cast<uint16_t>(i + 1);
            song.measures.push_back(measure);
        }
        song.songEnd = song.measureTableEnd = 4 * Bar;
    }
    TestContext context;
    Song song;
};

template <typename T> T* Child(QWidget& parent, const char* name)
{
    T* child = parent.findChild<T*>(name);
    if (!child)
        qFatal("no control %s", name);
    return child;
}

} // namespace

class DialogsTest : public QObject {
    Q_OBJECT
  private slots:
    void CueDialogChecksOnOk_data();
    void CueDialogChecksOnOk();
    void CueDialogCancelLeavesTheModel();
    void SyncPortListIsPaddedAndFollowsTheRole_data();
    void SyncPortListIsPaddedAndFollowsTheRole();
    void SyncOkStoresAllFourValues();
    void ControlEntryLearnsTheNextMessage_data();
    void ControlEntryLearnsTheNextMessage();
    void ControlEntryReadsTypedKeyText_data();
    void ControlEntryReadsTypedKeyText();
    void ControlMapsImportAskBeforeReplacing_data();
    void ControlMapsImportAskBeforeReplacing();
    void ControlMapRemoveAsksAndOkStoresTheList();
    void AccelEditorAddsAKeyToANewMap();
    void AccelEditorRefusesWhatCannotBeBound_data();
    void AccelEditorRefusesWhatCannotBeBound();
    void AccelEditorExportsAndImportsTheMaps();
    void HelpOpensTheSectionForEachDialog();
    void OptionsHelpFollowsThePage();
};

void DialogsTest::CueDialogChecksOnOk_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("stopAt");
    QTest::addColumn<QString>("restartAt");
    QTest::addColumn<QString>("message"); // empty: accepted
    QTest::addColumn<int>("storedRestart");
    QTest::addColumn<int>("storedCount");

    const QString hold = "The start time must be AT OR AFTER the end time.";
    const QString vamp = "A vamp's begin time must come before its end time.";
    QTest::newRow("skip backwards") << int(CueSkip) << "3:1:0"
                                    << "2:1:0" << hold << 0 << 0;
    QTest::newRow("skip forwards") << int(CueSkip) << "2:1:0"
                                   << "3:1:0"
                                   << "" << 2 * Bar << 0;
    QTest::newRow("fermata at one time") << int(CueFermata) << "2:1:0"
                                         << "2:1:0"
                                         << "" << Bar << 0;
    QTest::newRow("hold and cut backwards") << int(CueHoldAndCut) << "2:2:0"
                                            << "2:1:0" << hold << 0 << 0;
    QTest::newRow("vamp equal times") << int(CueVamp) << "2:1:0"
                                      << "2:1:0" << vamp << 0 << 0;
    QTest::newRow("advance begin after end") << int(CueAdvance) << "2:1:0"
                                             << "3:1:0" << vamp << 0 << 0;
    QTest::newRow("vamp in order") << int(CueVamp) << "3:1:0"
                                   << "2:1:0"
                                   << "" << Bar << 3;
    QTest::newRow("marker takes its stop time") << int(CueMarker) << "2:1:0"
                                                << "4:1:0"
                                                << "" << Bar << 0;
    QTest::newRow("breath counts two") << int(CueBreath) << "2:1:0"
                                       << "2:1:0"
                                       << "" << Bar << 2;
}

void DialogsTest::CueDialogChecksOnOk()
{
    QFETCH(int, kind);
    QFETCH(QString, stopAt);
    QFETCH(QString, restartAt);
    QFETCH(QString, message);
    QFETCH(int, storedRestart);
    QFETCH(int, storedCount);

    CueSong s;
    CueDialogModel model = CueDialogModel::ForInsertion(s.song);
    CueDialog dialog(model, s.context.prompter);
    QCOMPARE(dialog.windowTitle(), QString("Insert cue..."));
    dialog.show();
    Child<QComboBox>(dialog, "kind")->setCurrentIndex(kind);
    Child<QLineEdit>(dialog, "label")->setText("Verse");
    if (Child<QSpinBox>(dialog, "count")->isEnabled())
        Child<QSpinBox>(dialog, "count")->setValue(3);
    Child<QLineEdit>(dialog, "stopAt")->setText(stopAt);
    Child<QLineEdit>(dialog, "restartAt")->setText(restartAt);
    dialog.accept();

    if (!message.isEmpty()) {
        QCOMPARE(s.context.prompter.messages, std::vector<std::string>{message.toStdString()});
        QVERIFY(dialog.isVisible());
        QVERIFY(!dialog.Result());
        // The fields stay as typed, for the user to correct.
        QCOMPARE(Child<QLineEdit>(dialog, "restartAt")->text(), restartAt);
        return;
    }
    QCOMPARE(s.context.prompter.messages, std::vector<std::string>{});
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(dialog.Result());
    QCOMPARE(dialog.Result()->kind, kind);
    QCOMPARE(dialog.Result()->label, std::string("Verse"));
    QCOMPARE(dialog.Result()->restartAt, storedRestart);
    QCOMPARE(dialog.Result()->count, storedCount);
}

void DialogsTest::CueDialogCancelLeavesTheModel()
{
    CueSong s;
    s.song.currentPosition = Bar;
    CueDialogModel model = CueDialogModel::ForInsertion(s.song);
    CueDialog dialog(model, s.context.prompter);
    dialog.show();
    // A text that is not a position is reported on OK and keeps the dialog open.
    Child<QLineEdit>(dialog, "stopAt")->setText("not a time");
    dialog.accept();
    QCOMPARE(s.context.prompter.messages.size(), size_t{1});
    QVERIFY(dialog.isVisible());
    Child<QLineEdit>(dialog, "label")->setText("Chorus");
    dialog.reject();
    QVERIFY(!dialog.Result());
    QCOMPARE(model.Label(), std::string());
    QCOMPARE(model.StopAt(), Bar);
    // "Restart at:" is off for a marker, "How many:" only for the repeating kinds.
    QVERIFY(!Child<QLineEdit>(dialog, "restartAt")->isEnabled());
    QVERIFY(!Child<QSpinBox>(dialog, "count")->isEnabled());
}

void DialogsTest::SyncPortListIsPaddedAndFollowsTheRole_data()
{
    QTest::addColumn<int>("role");
    QTest::addColumn<QStringList>("expected"); // the entries after "All ports" that name a port
    QTest::addColumn<bool>("enabled");
    QTest::newRow("independent") << 0 << QStringList{"0: Synth", "1: Drums"} << false;
    QTest::newRow("master lists outputs") << 1 << QStringList{"0: Synth", "1: Drums"} << true;
    QTest::newRow("slave lists inputs") << 2 << QStringList{"0: Keys"} << true;
}

void DialogsTest::SyncPortListIsPaddedAndFollowsTheRole()
{
    QFETCH(int, role);
    QFETCH(QStringList, expected);
    QFETCH(bool, enabled);

    TestContext context;
    SyncDialog dialog(context.profile, context.prompter, {"Synth", "Drums"}, {"Keys"});
    Child<QRadioButton>(dialog, QStringLiteral("role%1").arg(role).toUtf8().constData())->setChecked(true);
    auto* ports = Child<QComboBox>(dialog, "ports");
    QCOMPARE(ports->count(), 1 + SyncDialog::PortEntries);
    QCOMPARE(ports->itemText(0), QString("All ports"));
    for (int i = 0; i < SyncDialog::PortEntries; ++i) {
        const QString want = i < expected.size() ? expected[i] : QStringLiteral("%1: ?").arg(i);
        QCOMPARE(ports->itemText(i + 1), want);
    }
    QCOMPARE(ports->isEnabled(), enabled);
}

void DialogsTest::SyncOkStoresAllFourValues()
{
    TestContext context;
    context.profile.WriteInt("SyncOptions", "Port", 2);
    SyncDialog dialog(context.profile, context.prompter, {"Synth"}, {"Keys", "Pads"});
    QCOMPARE(Child<QComboBox>(dialog, "ports")->currentIndex(), 2);
    QVERIFY(Child<QRadioButton>(dialog, "smpte3")->isChecked()); // the default format

    Child<QRadioButton>(dialog, "role2")->setChecked(true);
    QCOMPARE(Child<QComboBox>(dialog, "ports")->currentIndex(), 2); // the index survives the role change
    Child<QComboBox>(dialog, "ports")->setCurrentIndex(1);
    Child<QRadioButton>(dialog, "protocol1")->setChecked(true);
    Child<QRadioButton>(dialog, "smpte1")->setChecked(true);
    dialog.accept();

    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(context.profile.GetInt("SyncOptions", "MasterSlave", -1), 2);
    QCOMPARE(context.profile.GetInt("SyncOptions", "Port", -1), 1);
    QCOMPARE(context.profile.GetInt("SyncOptions", "Protocol", -1), 1);
    QCOMPARE(context.profile.GetInt("SyncOptions", "SMPTE", -1), 1);
    const SyncSettings read = SyncSettings::Read(context.profile);
    QCOMPARE(read.masterSlave, 2);
}

void DialogsTest::ControlEntryLearnsTheNextMessage_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("controller");
    QTest::addColumn<int>("wantKey");
    QTest::addColumn<int>("wantController");
    QTest::newRow("note on sets the key") << 64 << -1 << 64 << 7;
    QTest::newRow("control change sets the controller") << -1 << 64 << 60 << 64;
}

void DialogsTest::ControlEntryLearnsTheNextMessage()
{
    QFETCH(int, key);
    QFETCH(int, controller);
    QFETCH(int, wantKey);
    QFETCH(int, wantController);

    ControlLearner learner;
    const ControlEntry start = ControlEntry::Make(0, 0, 7, 60, ControlAction::NextSong);
    ControlEntryDialog dialog(start, {"Keys", "Pads"}, &learner);
    learner.Hear({1, 9, key, controller}); // before Learn: not armed, not heard
    QVERIFY(!dialog.PollLearner());

    Child<QPushButton>(dialog, "learn")->click();
    QVERIFY(learner.Armed());
    learner.Hear({1, 9, key, controller});
    QTRY_VERIFY(!learner.Armed()); // the timer took it and stopped learning
    const ControlEntry entry = dialog.Entry();
    QCOMPARE(entry.Port(), 1);
    QCOMPARE(entry.Channel(), 9);
    QCOMPARE(entry.Key(), wantKey);
    QCOMPARE(entry.Controller(), wantController);
    QCOMPARE(entry.Action(), ControlAction::NextSong);

    // Closing the dialog disarms a learner still waiting.
    dialog.StartLearning();
    QVERIFY(learner.Armed());
    dialog.reject();
    QVERIFY(!learner.Armed());
}

void DialogsTest::ControlEntryReadsTypedKeyText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("key");
    QTest::newRow("flat name") << "Bb3" << 58;
    QTest::newRow("lowest octave") << "C-1" << 0;
    QTest::newRow("highest key") << "G9" << 127;
    QTest::newRow("past the top keeps the key") << "A9" << 60;
    QTest::newRow("number") << "61" << 61;
    QTest::newRow("empty is no key") << "" << 0;
    QTest::newRow("garbage keeps the key") << "H2" << 60;
}

void DialogsTest::ControlEntryReadsTypedKeyText()
{
    QFETCH(QString, text);
    QFETCH(int, key);

    ControlEntryDialog dialog(ControlEntry::Make(0, 0, 0, 60, ControlAction::PlayTap), {}, nullptr);
    auto* field = Child<QSpinBox>(dialog, "key");
    QCOMPARE(field->text(), QString("C4"));
    QVERIFY(!Child<QPushButton>(dialog, "learn")->isEnabled());
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Delete);
    QTest::keyClicks(field, text);
    field->interpretText();
    QCOMPARE(dialog.Entry().Key(), key);
}

void DialogsTest::ControlMapsImportAskBeforeReplacing_data()
{
    QTest::addColumn<bool>("overwrite");
    QTest::newRow("no keeps the stored map") << false;
    QTest::newRow("yes replaces it") << true;
}

void DialogsTest::ControlMapsImportAskBeforeReplacing()
{
    QFETCH(bool, overwrite);
    TestContext context;
    ControlMapStore store(context.profile);
    const ControlEntry stored = ControlEntry::Make(0, 0, 64, 0, ControlAction::PlayTap);
    const ControlEntry imported = ControlEntry::Make(1, 2, 0, 36, ControlAction::Stop);
    std::string error;
    QVERIFY(store.Write(ControlMap{"MIDI", {stored}}, error));

    QTemporaryDir folder;
    const QString path = folder.filePath("maps.dat");
    std::vector<uint8_t> bytes =
        ControlMapFileBytes({ControlMap{"Pads", {imported}}, ControlMap{"MIDI", {imported, imported}}});
    bytes[4] = 3; // a third map that is not there: the two before it stay and the damage is reported
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    file.close();

    ControlMapDialog dialog(store, context.prompter, {"Foot"}, nullptr);
    context.prompter.answers = {overwrite};
    dialog.ImportFile(path);
    QCOMPARE(context.prompter.questions, std::vector<std::string>{"Map 'MIDI' already exists.  Overwrite?"});
    QCOMPARE(dialog.Maps().size(), size_t{2});
    QCOMPARE(dialog.Maps()[0].name, std::string("MIDI"));
    QCOMPARE(dialog.Maps()[0].entries.size(), overwrite ? size_t{2} : size_t{1});
    QCOMPARE(dialog.Maps()[1], (ControlMap{"Pads", {imported}}));
    QCOMPARE(context.prompter.messages.size(), size_t{1});
    // Nothing reaches the store before OK.
    QCOMPARE(store.Maps().size(), size_t{1});
    QCOMPARE(Child<QTreeWidget>(dialog, "entries")->topLevelItemCount(), int(dialog.Current().entries.size()));
}

void DialogsTest::ControlMapRemoveAsksAndOkStoresTheList()
{
    TestContext context;
    ControlMapStore store(context.profile);
    ControlMapDialog dialog(store, context.prompter, {"Foot"}, nullptr);
    QCOMPARE(dialog.Current().name, std::string("MIDI")); // offered when nothing is stored
    QVERIFY(dialog.AddEntry(ControlEntry::Make(0, 0, 64, 0, ControlAction::PlayTap)));
    QVERIFY(dialog.AddEntry(ControlEntry::Make(0, 9, 0, 36, ControlAction::NextSong)));
    auto* entries = Child<QTreeWidget>(dialog, "entries");
    const QStringList row{entries->topLevelItem(1)->text(0), entries->topLevelItem(1)->text(1),
                          entries->topLevelItem(1)->text(2), entries->topLevelItem(1)->text(3),
                          entries->topLevelItem(1)->text(4)};
    QCOMPARE(row, (QStringList{"Foot", "10", "<None>", "C2", "Next song"}));

    entries->setCurrentItem(entries->topLevelItem(0));
    context.prompter.answers = {false, true};
    dialog.RemoveSelected();
    QCOMPARE(dialog.Current().entries.size(), size_t{2});
    entries->setCurrentItem(entries->topLevelItem(0));
    dialog.RemoveSelected();
    QCOMPARE(context.prompter.questions, (std::vector<std::string>{"Are you sure?", "Are you sure?"}));
    QCOMPARE(dialog.Current().entries.size(), size_t{1});

    dialog.SelectMap("Live");
    Child<QCheckBox>(dialog, "enabled")->setChecked(false);
    dialog.accept();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(store.UseWhich(), std::string("Live"));
    QVERIFY(!store.Enabled());
    QCOMPARE(store.Find("MIDI")->entries,
             std::vector<ControlEntry>{ControlEntry::Make(0, 9, 0, 36, ControlAction::NextSong)});
    QVERIFY(store.Find("Live"));
}

void DialogsTest::AccelEditorAddsAKeyToANewMap()
{
    TestContext context;
    AccelMapStore store(context.profile);
    (void)store.Activate();
    AccelMapEditor editor(store, context.prompter);
    editor.show();
    auto* capture = Child<KeyCaptureEdit>(editor, "keyCapture");
    QCOMPARE(Child<QListWidget>(editor, "functions")->count(), 116);

    // "Default" is only copied: its keys cannot be changed.
    editor.SelectFunction(ToNumber(CommandId::NextMeasure));
    QCOMPARE(Child<QListWidget>(editor, "keys")->item(0)->text(), QString("Ctrl+Right"));
    QVERIFY(!Child<QPushButton>(editor, "addKey")->isEnabled());
    QVERIFY(!Child<QPushButton>(editor, "deleteMap")->isEnabled());
    QVERIFY(!editor.AddCapturedKey());
    QCOMPARE(context.prompter.messages.size(), size_t{1});

    Child<QComboBox>(editor, "mapName")->setEditText("Live");
    QVERIFY(Child<QPushButton>(editor, "saveNewMap")->isEnabled());
    Child<QPushButton>(editor, "saveNewMap")->click();
    QCOMPARE(editor.Model().SelectedMap()->name, std::string("Live"));
    QVERIFY(Child<QPushButton>(editor, "addKey")->isEnabled() == false); // nothing typed yet
    QTest::keyClick(capture, Qt::Key_F9, Qt::ControlModifier);
    QCOMPARE(capture->text(), QString("Ctrl+F9"));
    Child<QPushButton>(editor, "addKey")->click();
    auto* keys = Child<QListWidget>(editor, "keys");
    QCOMPARE(keys->count(), 2);
    QCOMPARE(keys->item(1)->text(), QString("Ctrl+F9"));
    editor.accept();

    QCOMPARE(editor.result(), int(QDialog::Accepted));
    QCOMPARE(store.UseWhich(), std::string("Live"));
    const std::optional<AccelMap> live = store.Load("Live");
    QVERIFY(live);
    QCOMPARE(FindAccelCommand(live->entries, AccelVirtualKey | AccelCtrl, 0x78),
             std::optional<uint16_t>(ToNumber(CommandId::NextMeasure)));
    QVERIFY(store.Load("Default"));
}

void DialogsTest::AccelEditorRefusesWhatCannotBeBound_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("captured");
    QTest::addColumn<QString>("message"); // empty: added
    QTest::newRow("shift alone") << int(Qt::Key_Shift) << int(Qt::ShiftModifier) << false << "";
    QTest::newRow("caps lock") << int(Qt::Key_CapsLock) << 0 << false << "";
    QTest::newRow("taken by open") << int(Qt::Key_O) << int(Qt::ControlModifier) << true
                                   << "Ctrl+O is already assigned to 'Open'.";
    QTest::newRow("free key") << int(Qt::Key_F9) << int(Qt::AltModifier | Qt::ShiftModifier) << true << "";
}

void DialogsTest::AccelEditorRefusesWhatCannotBeBound()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, captured);
    QFETCH(QString, message);

    TestContext context;
    AccelMapStore store(context.profile);
    (void)store.Activate();
    AccelMapEditor editor(store, context.prompter);
    Child<QComboBox>(editor, "mapName")->setEditText("Copy");
    editor.SaveNewMap();
    editor.SelectFunction(ToNumber(CommandId::NextMeasure));
    auto* capture = Child<KeyCaptureEdit>(editor, "keyCapture");
    QCOMPARE(capture->Capture(QKeyCombination(Qt::KeyboardModifiers(modifiers), Qt::Key(key))), captured);
    if (!captured) {
        QVERIFY(!Child<QPushButton>(editor, "addKey")->isEnabled());
        return;
    }
    const size_t before = editor.Model().SelectedMap()->entries.size();
    const bool added = editor.AddCapturedKey();
    QCOMPARE(added, message.isEmpty());
    QCOMPARE(editor.Model().SelectedMap()->entries.size(), before + (added ? 1 : 0));
    if (!added)
        QCOMPARE(context.prompter.messages, std::vector<std::string>{message.toStdString()});
}

void DialogsTest::AccelEditorExportsAndImportsTheMaps()
{
    QTemporaryDir folder;
    const QString path = folder.filePath("maps.dat");
    const AccelEntry ctrlF9{static_cast<uint8_t>(AccelVirtualKey | AccelCtrl), 0x78, ToNumber(CommandId::NextMeasure)};
    {
        TestContext context;
        AccelMapStore store(context.profile);
        (void)store.Activate();
        AccelMapEditor editor(store, context.prompter);
        Child<QComboBox>(editor, "mapName")->setEditText("Live");
        editor.SaveNewMap();
        editor.SelectFunction(ToNumber(CommandId::NextMeasure));
        QVERIFY(Child<KeyCaptureEdit>(editor, "keyCapture")->Capture(QKeyCombination(Qt::ControlModifier, Qt::Key_F9)));
        QVERIFY(editor.AddCapturedKey());
        editor.ExportFile(path);
        // A folder cannot be written to: said, and the file written before stays.
        editor.ExportFile(folder.path());
        QCOMPARE(context.prompter.messages.size(), size_t{1});
        QVERIFY(QFileInfo(path).size() > 0);
    }

    TestContext context;
    AccelMapStore store(context.profile);
    (void)store.Activate();
    AccelMapEditor editor(store, context.prompter);
    // "Live" is new here and comes in without a question; "Default" is kept when the answer is No.
    context.prompter.answers = {false};
    editor.ImportFile(path);
    QCOMPARE(context.prompter.questions, std::vector<std::string>{AccelOverwriteQuestion("Default")});
    auto* names = Child<QComboBox>(editor, "mapName");
    QVERIFY(names->findText("Live") >= 0);
    QVERIFY(!store.Load("Live")); // nothing reaches the store before OK

    // Again: "Live" is there now, and No keeps it as it is.
    context.prompter.answers = {false, false};
    context.prompter.questions.clear();
    editor.ImportFile(path);
    std::vector<std::string> asked = context.prompter.questions;
    std::sort(asked.begin(), asked.end());
    QCOMPARE(asked, (std::vector<std::string>{AccelOverwriteQuestion("Default"), AccelOverwriteQuestion("Live")}));
    QCOMPARE(std::count_if(editor.Model().Maps().begin(), editor.Model().Maps().end(),
                           [](const AccelMap& map) { return map.name == "Live"; }),
             1);

    // A file that is not there or not a map file is said and changes nothing.
    const size_t maps = editor.Model().Maps().size();
    editor.ImportFile(folder.filePath("missing.dat"));
    QFile damaged(folder.filePath("damaged.dat"));
    QVERIFY(damaged.open(QIODevice::WriteOnly));
    damaged.write("not a map file");
    damaged.close();
    editor.ImportFile(damaged.fileName());
    QCOMPARE(context.prompter.messages.size(), size_t{2});
    QCOMPARE(editor.Model().Maps().size(), maps);

    editor.accept();
    QCOMPARE(editor.result(), int(QDialog::Accepted));
    const std::optional<AccelMap> live = store.Load("Live");
    QVERIFY(live);
    QCOMPARE(FindAccelCommand(live->entries, ctrlF9.flags, ctrlF9.key), std::optional<uint16_t>(ctrlF9.command));
}

namespace {

// The file and the section a help address names, when the file holds that section; else why not.
QString MissingSection(const QUrl& url)
{
    if (!url.isLocalFile())
        return "not a file: " + url.toString();
    QFile page(url.toLocalFile());
    if (!page.open(QIODevice::ReadOnly))
        return "no page " + url.toLocalFile();
    const QByteArray html = page.readAll();
    if (url.hasFragment() && !html.contains(QStringLiteral("id=\"%1\"").arg(url.fragment()).toUtf8()))
        return "no section " + url.toString();
    return {};
}

// Clicks the dialog's Help and returns what it asked to open; the browser is never started.
QList<QUrl> ClickHelp(QWidget& dialog)
{
    QList<QUrl> opened;
    SetHelpOpener([&opened](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    Child<QPushButton>(dialog, "help")->click();
    SetHelpOpener({});
    return opened;
}

} // namespace

void DialogsTest::HelpOpensTheSectionForEachDialog()
{
    TestContext context;
    CueSong cueSong;
    CueDialogModel cueModel = CueDialogModel::ForInsertion(cueSong.song);
    AccelMapStore accelStore(context.profile);
    (void)accelStore.Activate();
    ControlMapStore controlStore(context.profile);
    std::string warning;
    std::unique_ptr<SynthDatabase> synths = SynthDatabase::Open({":memory:", ""}, warning);
    QVERIFY(synths);

    const std::vector<std::pair<const char*, std::function<std::unique_ptr<QDialog>()>>> dialogs = {
        {"cues.html#dialog", [&] { return std::make_unique<CueDialog>(cueModel, context.prompter); }},
        {"performing.html#sync",
         [&] {
             return std::make_unique<SyncDialog>(context.profile, context.prompter, std::vector<std::string>{},
                                                 std::vector<std::string>{});
         }},
        {"performing.html#foot-switch",
         [&] {
             return std::make_unique<ControlMapDialog>(controlStore, context.prompter, std::vector<std::string>{},
                                                       nullptr);
         }},
        {"performing.html#foot-switch",
         [&] { return std::make_unique<ControlEntryDialog>(ControlEntry{}, std::vector<std::string>{}, nullptr); }},
        {"performing.html#keys", [&] { return std::make_unique<AccelMapEditor>(accelStore, context.prompter); }},
        {"index.html#synths", [&] { return std::make_unique<SynthDatabaseDialog>(*synths, context.prompter); }},
        {"sets.html#new",
         [&] { return std::make_unique<NewDialog>(std::vector<std::string>{"Empty Set"}, 0, "/tmp", false); }},
    };
    for (const auto& [want, make] : dialogs) {
        const std::unique_ptr<QDialog> dialog = make();
        const QList<QUrl> opened = ClickHelp(*dialog);
        QCOMPARE(opened.size(), 1);
        QCOMPARE(MissingSection(opened[0]), QString());
        QVERIFY2(opened[0].toString().endsWith(QString("/help/") + want), qPrintable(opened[0].toString()));
    }
}

void DialogsTest::OptionsHelpFollowsThePage()
{
    test::MemoryProfile profile;
    test::ScriptedPrompter prompter;
    OptionsSheet sheet(profile, prompter, OptionsLive{});
    auto* tabs = Child<QTabWidget>(sheet, "pages");
    const char* sections[] = {"options.html#startup", "options.html#playback", "options.html#display",
                              "options.html#record",  "options.html#staff",    "options.html#audio",
                              "options.html#save",    "options.html#lyrics",   "conductor.html#settings",
                              "options.html#set",     "options.html#macros"};
    QCOMPARE(tabs->count(), int(std::size(sections)));
    for (int page = 0; page < tabs->count(); ++page) {
        tabs->setCurrentIndex(page);
        const QList<QUrl> opened = ClickHelp(sheet);
        QCOMPARE(opened.size(), 1);
        QCOMPARE(MissingSection(opened[0]), QString());
        QVERIFY2(opened[0].toString().endsWith(QString("/help/") + sections[page]), qPrintable(opened[0].toString()));
    }
    QVERIFY(prompter.messages.empty());
}

QTEST_MAIN(DialogsTest)
#include "DialogsTest.moc"
