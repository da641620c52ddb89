// The main window's bindings on the offscreen platform: the demo set opens into the set view, the
// command dispatch taps and moves through the set, the menus show the active map's keys, and a
// damaged set or song is reported while the window keeps what it had.
#include "gui/MainWindow.h"
#include "app/CommandTable.h"
#include "gui/SetView.h"
#include "playback/MicrosecondClock.h"
#include "rig/EngineRig.h"
#include "rig/Session.h"
#include "song/Song.h"
#include "support/TestContext.h"

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
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
    QTest::newRow("song") << "Broken.mid" << QByteArray("MThd\x00\x00\x00\x06garbage", 17)
                          << "the song can not be opened";
    QTest::newRow("missing") << "Gone.mid" << QByteArray() << "no such file";
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

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
