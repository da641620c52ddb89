// The main window's bindings on the offscreen platform: the demo set opens into the set view, the
// command dispatch taps and moves through the set, the menus show the active map's keys, and a
// damaged set or song is reported while the window keeps what it had.
#include "gui/MainWindow.h"
#include "app/CommandTable.h"
#include "gui/LyricWidget.h"
#include "gui/SetView.h"
#include "playback/MicrosecondClock.h"
#include "rig/EngineRig.h"
#include "rig/Session.h"
#include "set/Autosave.h"
#include "set/RecentList.h"
#include "song/Song.h"
#include "song/SongFileNames.h"
#include "support/TestContext.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <iostream>
#include <sstream>

using namespace cantivo;

namespace {

const QString DemoSet = QStringLiteral(CANTIVO_SOURCE_DIR "/data/sets/demo/Demo.set");

// A window over the capture device alone, with settings of its own.
struct Rig {
    Rig() : session(std::cout, messages), rig(clock)
    {
        session.UsePrompter(prompter);
        session.options.configPath = folder.filePath("cantivo.ini").toStdString();
        session.options.dataDir = folder.path().toStdString();
        session.Start();
        RigOptions options;
        options.capturePath = folder.filePath("capture.log").toStdString();
        options.portName = "Capture";
        std::string error;
        bool usage = false;
        std::vector<std::string> notices;
        if (!rig.Open(*session.Context().profile, options, error, usage, notices))
            qFatal("the rig did not open: %s", error.c_str());
        window = std::make_unique<MainWindow>(session, messages, rig, clock);
    }
    ~Rig()
    {
        window.reset();
        std::string error;
        (void)rig.Close(error);
    }
    // Runs the play tick by hand (no play thread in a test) and lets the window take its turns.
    void Run(int milliseconds)
    {
        for (int i = 0; i < milliseconds; ++i) {
            rig.Engine().Service(clock.NowMicroseconds());
            QTest::qWait(1);
        }
    }

    QTemporaryDir folder;
    std::ostringstream messages;
    test::ScriptedPrompter prompter;
    Session session;
    SteadyMicrosecondClock clock;
    EngineRig rig;
    std::unique_ptr<MainWindow> window;
};

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void TheDemoSetPlaysAndMovesOnThroughTheDispatch();
    void MenusShowTheActiveMapsKeysAndEnableWhatCanRun();
    void TheKeyboardAlonePerformsTheSet();
    void ACueInsertedFromTheDialogIsUndone();
    void NewMakesASetAndDeleteTakesASongOut();
    void ADamagedFileIsReportedAndTheWindowKeepsItsSet_data();
    void ADamagedFileIsReportedAndTheWindowKeepsItsSet();
    void TheSetViewKeepsTheUsersRowWhilePlaybackMoves();
    void OptionsOkStartsFromTheStoreAndAppliesEveryPage();
    void SongsFoundInTheSetsFolderAreOffered_data();
    void SongsFoundInTheSetsFolderAreOffered();
    void AMissingRecentEntryIsReportedAndLeavesItsMenu_data();
    void AMissingRecentEntryIsReportedAndLeavesItsMenu();
    void AStopSignalQuitsWithoutAskingAndKeepsChangesRecoverable();
    void LyricFollowStylesAndTheSingersWindowPlacementAreStored();
    void ThePlacementIsWrittenWhenTheWindowComesToRestOrCloses();
};

void MainWindowTest::TheDemoSetPlaysAndMovesOnThroughTheDispatch()
{
    Rig r;
    QVERIFY(r.window->OpenPath(DemoSet));
    auto* tree = r.window->findChild<SetView*>("setView");
    QVERIFY(tree != nullptr);
    QCOMPARE(tree->topLevelItemCount(), 4); // three songs and the end of the set
    QTest::qWait(20);
    QVERIFY2(r.window->windowTitle().startsWith("Cantivo - Demo"), qPrintable(r.window->windowTitle()));
    r.window->RunCommand(ToNumber(CommandId::Play));
    r.Run(300);
    QVERIFY(r.rig.Engine().State() != SequencerState::Stopped);
    QVERIFY(r.rig.Engine().Position() > 0);
    r.window->RunCommand(ToNumber(CommandId::NextSong));
    QCOMPARE(r.window->CurrentShow()->View()->Current(), 1);
    r.window->RunCommand(ToNumber(CommandId::TempoFaster));
    QCOMPARE(r.rig.Engine().TempoRatio(), 101000);
    r.window->RunCommand(ToNumber(CommandId::Stop));
    QCOMPARE(r.rig.Engine().State(), SequencerState::Stopped);
}

void MainWindowTest::MenusShowTheActiveMapsKeysAndEnableWhatCanRun()
{
    Rig r;
    auto* play = r.window->findChild<QAction*>(QString("command%1").arg(ToNumber(CommandId::Play)));
    QVERIFY(play != nullptr);
    QCOMPARE(play->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Return));
    QCOMPARE(play->statusTip().isEmpty(), false);
    QTest::qWait(20);
    QVERIFY(!play->isEnabled()); // nothing to play yet
    QVERIFY(r.window->OpenPath(DemoSet));
    QTest::qWait(20);
    QVERIFY(play->isEnabled());
    auto* record = r.window->findChild<QAction*>(QString("command%1").arg(ToNumber(CommandId::Record)));
    QVERIFY(!record->isEnabled());
}

void MainWindowTest::TheKeyboardAlonePerformsTheSet()
{
    Rig r;
    QVERIFY(r.window->OpenPath(DemoSet));
    r.window->show();
    QVERIFY(QTest::qWaitForWindowActive(r.window.get()));
    auto* tree = r.window->findChild<SetView*>("setView");
    tree->setFocus();
    QTest::qWait(20);
    // Ctrl+Enter plays (and taps), Space pauses, Esc stops; Down and Enter go to the next song.
    QTest::keyClick(tree, Qt::Key_Return, Qt::ControlModifier);
    r.Run(100);
    QCOMPARE(r.rig.Engine().State(), SequencerState::Playing);
    QTest::keyClick(tree, Qt::Key_Escape);
    QCOMPARE(r.rig.Engine().State(), SequencerState::Stopped);
    // Down past the current song's cue rows to the next song's row.
    int position = 0, cue = -1;
    for (int i = 0; i < 8 && !(position == 1 && cue == -1); ++i) {
        QTest::keyClick(tree, Qt::Key_Down);
        QVERIFY(tree->CurrentRow(position, cue));
    }
    QTest::keyClick(tree, Qt::Key_Return);
    QTest::qWait(20);
    QCOMPARE(r.window->CurrentShow()->View()->Current(), 1);
}

void MainWindowTest::ACueInsertedFromTheDialogIsUndone()
{
    Rig r;
    QVERIFY(r.window->OpenPath(DemoSet));
    QTest::qWait(20);
    Song& song = *r.window->CurrentShow()->Current();
    const size_t before = song.cues.size();
    QTimer::singleShot(100, [] {
        if (QWidget* dialog = QApplication::activeModalWidget())
            if (auto* buttons = dialog->findChild<QDialogButtonBox*>())
                buttons->button(QDialogButtonBox::Ok)->click();
    });
    r.window->RunCommand(ToNumber(CommandId::InsertCue));
    QCOMPARE(song.cues.size(), before + 1);
    QTest::qWait(20);
    QVERIFY(r.window->IsEnabled(ToNumber(CommandId::Undo)));
    r.window->RunCommand(ToNumber(CommandId::Undo));
    QCOMPARE(song.cues.size(), before);
}

// Answers the dialog in front once it is up: `fill` sets its fields, then OK.
void AnswerDialog(std::function<void(QWidget&)> fill)
{
    QTimer::singleShot(100, [fill] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (dialog == nullptr)
            return;
        fill(*dialog);
        if (auto* buttons = dialog->findChild<QDialogButtonBox*>())
            buttons->button(QDialogButtonBox::Ok)->click();
    });
}

void MainWindowTest::NewMakesASetAndDeleteTakesASongOut()
{
    Rig r;
    // A copy of the demo set, so that nothing in the source tree changes.
    const QString copy = r.folder.filePath("demo");
    QDir().mkpath(copy);
    for (const QString& name : QDir(QStringLiteral(CANTIVO_SOURCE_DIR "/data/sets/demo")).entryList(QDir::Files))
        QVERIFY(QFile::copy(QStringLiteral(CANTIVO_SOURCE_DIR "/data/sets/demo/") + name, copy + "/" + name));
    QVERIFY(r.window->OpenPath(copy + "/Demo.set"));
    auto* tree = r.window->findChild<SetView*>("setView");
    QTest::qWait(20);
    tree->setCurrentItem(tree->topLevelItem(2));
    AnswerDialog([](QWidget& dialog) { dialog.findChild<QRadioButton*>("removeOnly")->setChecked(true); });
    r.window->RunCommand(ToNumber(CommandId::Delete));
    QCOMPARE(r.window->CurrentShow()->Document()->SongCount(), 2);
    QVERIFY2(QFile::exists(copy + "/3 Finale.mid"), "only taken out of the set");

    AnswerDialog([&r](QWidget& dialog) {
        auto* choices = dialog.findChild<QListWidget*>("choices");
        choices->setCurrentItem(choices->findItems("Empty Set", Qt::MatchExactly).front());
        dialog.findChild<QLineEdit*>("name")->setText("Gig");
        dialog.findChild<QLineEdit*>("location")->setText(r.folder.path());
        // The open set's changes are asked about first: the scripted prompter says No.
    });
    r.window->RunCommand(ToNumber(CommandId::NewSongOrSet));
    QTest::qWait(20);
    QVERIFY(QFile::exists(r.folder.filePath("Gig/Gig.set")));
    QVERIFY(r.window->CurrentShow() != nullptr);
    QCOMPARE(r.window->CurrentShow()->Document()->SongCount(), 0);
    QCOMPARE(tree->topLevelItemCount(), 1); // the end of the set alone
}

void MainWindowTest::ADamagedFileIsReportedAndTheWindowKeepsItsSet_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("message");
    QTest::newRow("set") << "Broken.set" << QByteArray("\x05\x00\x00\x00\x65", 5) << "the set can not be opened";
    QTest::newRow("song") << "Broken.mid" << QByteArray("MThd\x00\x00\x00\x06garbage", 15)
                          << "the song can not be opened";
    QTest::newRow("missing") << "Gone.mid" << QByteArray() << "no such file";
    QTest::newRow("unknown type") << "notes.txt" << QByteArray("Intro: C G Am F")
                                  << "Cantivo does not recognize that file type.";
}

void MainWindowTest::ADamagedFileIsReportedAndTheWindowKeepsItsSet()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    Rig r;
    QVERIFY(r.window->OpenPath(DemoSet));
    const QString path = r.folder.filePath(name);
    if (!bytes.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    QVERIFY(!r.window->OpenPath(path));
    QVERIFY(!r.prompter.messages.empty());
    QVERIFY2(QString::fromStdString(r.prompter.messages.back()).contains(message, Qt::CaseInsensitive),
             r.prompter.messages.back().c_str());
    // The set that was open stays open and playable.
    QVERIFY(r.window->CurrentShow() != nullptr);
    QCOMPARE(r.window->CurrentShow()->View()->Current(), 0);
    QVERIFY(r.window->IsEnabled(ToNumber(CommandId::Play)));
}

namespace {

// A copy of the demo set's folder under `folder`, so that nothing in the source tree changes.
QString CopyDemoSet(const QString& folder)
{
    QDir().mkpath(folder);
    for (const QString& name : QDir(QStringLiteral(CANTIVO_SOURCE_DIR "/data/sets/demo")).entryList(QDir::Files))
        QFile::copy(QStringLiteral(CANTIVO_SOURCE_DIR "/data/sets/demo/") + name, folder + "/" + name);
    return folder + "/Demo.set";
}

} // namespace

void MainWindowTest::TheSetViewKeepsTheUsersRowWhilePlaybackMoves()
{
    Rig r;
    QVERIFY(r.window->OpenPath(DemoSet));
    auto* tree = r.window->findChild<SetView*>("setView");
    QTest::qWait(20);
    QTreeWidgetItem* first = tree->topLevelItem(0);
    QTreeWidgetItem* third = tree->topLevelItem(2);
    // The performer arrows down to the third song while the first plays on and its marker moves.
    tree->setCurrentItem(third);
    r.window->RunCommand(ToNumber(CommandId::Play));
    r.Run(300);
    r.window->CurrentShow()->View()->SetExpanded(1, true);
    QTest::qWait(20);
    QCOMPARE(tree->currentItem(), third);
    QCOMPARE(tree->topLevelItem(0), first); // updated in place, not built again
    QVERIFY(tree->topLevelItem(1)->isExpanded());
    // A change of the current song moves the cursor to it.
    r.window->RunCommand(ToNumber(CommandId::NextSong));
    QTest::qWait(20);
    int position = -1, cue = -1;
    QVERIFY(tree->CurrentRow(position, cue));
    QCOMPARE(position, 1);
    QCOMPARE(cue, -1);
    r.window->RunCommand(ToNumber(CommandId::Stop));
}

void MainWindowTest::OptionsOkStartsFromTheStoreAndAppliesEveryPage()
{
    Rig r;
    Profile& profile = *r.session.Context().profile;
    profile.WriteInt("DisplayOptions", "Gradients", 0);
    profile.WriteInt("ClickOptions", "Record", 0);
    profile.WriteInt("SaveOptions", "Backups", 1);
    profile.WriteInt("SaveOptions", "AutoSave", 1);
    profile.WriteInt("SaveOptions", "AutoSaveMin", 5);
    r.window = std::make_unique<MainWindow>(r.session, r.messages, r.rig, r.clock);
    QVERIFY(r.window->OpenPath(DemoSet));
    const Show& show = *r.window->CurrentShow();
    QCOMPARE(r.rig.Engine().Options() & 2u, 2u);                  // "Last vamp" on by default
    QCOMPARE(r.rig.Engine().CurrentClick().whileRecording, true); // as the engine started

    // Every page visited; the display boxes show the store; "Last vamp" and backups are unchecked.
    bool gradientsShown = true, smoothShown = false;
    AnswerDialog([&](QWidget& sheet) {
        auto* pages = sheet.findChild<QTabWidget*>("pages");
        for (int i = 0; i < pages->count(); ++i)
            pages->setCurrentIndex(i);
        gradientsShown = sheet.findChild<QCheckBox*>("gradients")->isChecked();
        smoothShown = sheet.findChild<QCheckBox*>("smoothScroll")->isChecked();
        sheet.findChild<QCheckBox*>("lastVamp")->setChecked(false);
        sheet.findChild<QCheckBox*>("backups")->setChecked(false);
    });
    r.window->RunCommand(ToNumber(CommandId::Options));
    QVERIFY(!gradientsShown);
    QVERIFY(smoothShown);
    QCOMPARE(profile.GetInt("DisplayOptions", "Gradients", -1), 0);
    QCOMPARE(profile.GetInt("DisplayOptions", "SmoothScroll", -1), 1);
    QCOMPARE(r.rig.Engine().Options() & 2u, 0u);
    QCOMPARE(r.rig.Engine().CurrentClick().whileRecording, false);
    QCOMPARE(show.AutosaveTimer()->Countdown(), 0); // stopped until the next start

    // Backups on again: the autosave timer runs with the stored minutes.
    AnswerDialog([](QWidget& sheet) {
        sheet.findChild<QTabWidget*>("pages")->setCurrentIndex(6);
        sheet.findChild<QCheckBox*>("backups")->setChecked(true);
    });
    r.window->RunCommand(ToNumber(CommandId::Options));
    QCOMPARE(show.AutosaveTimer()->Countdown(), 5);
}

void MainWindowTest::SongsFoundInTheSetsFolderAreOffered_data()
{
    QTest::addColumn<bool>("answer");
    QTest::newRow("yes") << true;
    QTest::newRow("no") << false;
}

void MainWindowTest::SongsFoundInTheSetsFolderAreOffered()
{
    QFETCH(bool, answer);
    Rig r;
    const QString set = CopyDemoSet(r.folder.filePath("demo"));
    QDir().mkpath(r.folder.filePath("demo/more"));
    QVERIFY(QFile::copy(QStringLiteral(CANTIVO_SOURCE_DIR "/data/sets/demo/1 Opener.mid"),
                        r.folder.filePath("demo/more/Encore.mid")));
    r.prompter.answers = {answer};
    QVERIFY(r.window->OpenPath(set));
    QCOMPARE(r.prompter.questions.size(), size_t{1});
    QCOMPARE(r.prompter.questions.front(), std::string("Encore was found in the set's folder--add it to the set?"));
    QCOMPARE(r.window->CurrentShow()->Document()->SongCount(), answer ? 4 : 3);
    // A song taken in moves beside the set file.
    QCOMPARE(QFile::exists(r.folder.filePath("demo/Encore.mid")), answer);
    QCOMPARE(QFile::exists(r.folder.filePath("demo/more/Encore.mid")), !answer);
}

void MainWindowTest::AMissingRecentEntryIsReportedAndLeavesItsMenu_data()
{
    QTest::addColumn<bool>("set");
    QTest::addColumn<QString>("message");
    QTest::newRow("set") << true
                         << "Sorry, the set has been moved or deleted--please use the File/Open command to browse "
                            "your system.";
    QTest::newRow("song") << false
                          << "Sorry, the song has been moved or deleted--please use the File/Open command to browse "
                             "your system.";
}

void MainWindowTest::AMissingRecentEntryIsReportedAndLeavesItsMenu()
{
    QFETCH(bool, set);
    QFETCH(QString, message);
    Rig r;
    Profile& profile = *r.session.Context().profile;
    const QString gone = r.folder.filePath(set ? "Gone.set" : "Gone.mid");
    (set ? RecentSets(profile) : RecentSongs(profile)).Add(gone.toStdString());
    QVERIFY(r.window->OpenPath(DemoSet)); // the menus are built again
    auto* menu = r.window->findChild<QMenu*>(set ? "recentSets" : "recentSongs");
    QVERIFY(menu != nullptr);
    QAction* entry = nullptr;
    for (QAction* action : menu->actions())
        if (action->statusTip() == gone)
            entry = action;
    QVERIFY(entry != nullptr);
    entry->trigger();
    QTest::qWait(20);
    QVERIFY(!r.prompter.messages.empty());
    QCOMPARE(QString::fromStdString(r.prompter.messages.back()), message);
    const std::vector<std::string> left = (set ? RecentSets(profile) : RecentSongs(profile)).Entries();
    QVERIFY(std::find(left.begin(), left.end(), gone.toStdString()) == left.end());
    for (QAction* action : menu->actions())
        QVERIFY(action->statusTip() != gone);
    QCOMPARE(r.window->CurrentShow()->View()->Current(), 0); // the set stays open
}

void MainWindowTest::AStopSignalQuitsWithoutAskingAndKeepsChangesRecoverable()
{
    Rig r;
    const QString set = CopyDemoSet(r.folder.filePath("demo"));
    QVERIFY(r.window->OpenPath(set));
    r.window->show();
    Song& song = *r.window->CurrentShow()->Current();
    song.SetModifiedFlag(true);
    r.window->RunCommand(ToNumber(CommandId::Play));
    r.Run(100);
    // The signal comes while the options sheet waits for an answer.
    QTimer::singleShot(100, r.window.get(), [&r] { r.window->QuitBySignal(); });
    r.window->RunCommand(ToNumber(CommandId::Options));
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QVERIFY(r.window->Quitting());
    QVERIFY(!r.window->isVisible());
    QCOMPARE(r.rig.Engine().State(), SequencerState::Stopped);
    QVERIFY(r.prompter.questions.empty()); // no "Save changes" question waits
    QVERIFY(QFile::exists(QString::fromStdString(RecoveryPath(song.pathName))));
}

void MainWindowTest::LyricFollowStylesAndTheSingersWindowPlacementAreStored()
{
    Rig r;
    Profile& profile = *r.session.Context().profile;
    profile.WriteInt("LyricView", "Tool", 2);
    r.window = std::make_unique<MainWindow>(r.session, r.messages, r.rig, r.clock);
    auto* lyrics = r.window->findChild<LyricWidget*>("lyrics");
    QCOMPARE(lyrics->Model().Options().Follow(), LyricFollow::HighlightLines);
    QVERIFY(r.window->findChild<QAction*>("lyricFollow2")->isChecked());
    r.window->findChild<QAction*>("lyricFollow1")->trigger();
    QCOMPARE(profile.GetInt("LyricView", "Tool", -1), 1);
    QCOMPARE(r.window->LyricWindow()->Model().Options().Follow(), LyricFollow::HighlightSyllables);
    QVERIFY(r.window->IsEnabled(ToNumber(CommandId::BouncingBall)));
    r.window->RunCommand(ToNumber(CommandId::BouncingBall));
    QCOMPARE(profile.GetInt("LyricView", "Tool", -1), 0);
    QCOMPARE(lyrics->Model().Options().Follow(), LyricFollow::BouncingBall);

    // The singers' window keeps where it was put.
    r.window->RunCommand(ToNumber(CommandId::ViewLyrics));
    LyricWidget& singers = *r.window->LyricWindow();
    QVERIFY(singers.isVisible());
    singers.setGeometry(QRect(30, 40, 600, 400));
    r.window->RunCommand(ToNumber(CommandId::ViewLyrics));
    QVERIFY(!singers.isVisible());
    QCOMPARE(QRect(profile.GetInt("LyricView", "X", -1), profile.GetInt("LyricView", "Y", -1),
                   profile.GetInt("LyricView", "CX", -1), profile.GetInt("LyricView", "CY", -1)),
             QRect(30, 40, 600, 400));
    QCOMPARE(profile.GetInt("LyricView", "Maximized", -1), 0);
    profile.WriteInt("LyricView", "X", 10);
    profile.WriteInt("LyricView", "CX", 640);
    r.window->RunCommand(ToNumber(CommandId::ViewLyrics));
    QCOMPARE(singers.geometry(), QRect(10, 40, 640, 400));
    r.window->RunCommand(ToNumber(CommandId::ViewLyrics));
}

void MainWindowTest::ThePlacementIsWrittenWhenTheWindowComesToRestOrCloses()
{
    Rig r;
    Profile& profile = *r.session.Context().profile;
    r.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(r.window.get()));
    profile.WriteInt("WindowMetrics", "Width", -1);
    // A drag: many moves and sizes, none of them written while it goes on.
    for (int width = 700; width <= 760; width += 20)
        r.window->resize(width, 500);
    QCOMPARE(profile.GetInt("WindowMetrics", "Width", 0), -1);
    r.window->close();
    QCOMPARE(profile.GetInt("WindowMetrics", "Width", 0), 760);
}

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
