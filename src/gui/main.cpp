// cantivo: the desktop program. Start-up in order: the settings, the synth database, the command
// line's file, the engine and its devices, the play thread, the main window, then the delayed
// start-up step. Closing the window (or SIGTERM, SIGINT) stops the engine, leaves nothing sounding
// and writes the settings.
#include "app/IniProfile.h"
#include "gui/MainWindow.h"
#include "gui/QtPrompter.h"
#include "gui/ScriptRunner.h"
#include "platform/PlayThread.h"
#include "platform/SingleInstance.h"
#include "platform/SynthDevice.h"
#include "playback/MicrosecondClock.h"
#include "rig/EngineRig.h"
#include "rig/Session.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void OnStopSignal(int)
{
    const char byte = 1;
    (void)!write(signalPipe[1], &byte, 1);
}

} // namespace

int main(int argc, char** argv)
{
    using namespace cantivo;
    QApplication app(argc, argv);
    QApplication::setApplicationName("Cantivo");
    QApplication::setApplicationDisplayName("Cantivo");
    QApplication::setApplicationVersion(CANTIVO_VERSION);

    QCommandLineParser parser;
    parser.setApplicationDescription("Cantivo: a MIDI sequencer for live performance");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument("FILE", "A set (.set) or a song (.mid) to open");
    const QCommandLineOption config("config", "The settings file to use.", "FILE");
    const QCommandLineOption dataDir("data-dir", "The folder of the synth database.", "DIR");
    const QCommandLineOption capture("capture", "Also log every MIDI message sent, with its time.", "FILE");
    const QCommandLineOption port("port", "Play through this output device alone.", "NAME");
    const QCommandLineOption script("script", "Drive the program from a script (see the README).", "FILE");
    const QCommandLineOption screenshots("screenshots", "Where the script's screenshots go.", "DIR", ".");
    parser.addOptions({config, dataDir, capture, port, script, screenshots});
    parser.process(app);

    // One program per user and settings file: a second start hands its files to the first and ends.
    SingleInstance instance(SingleInstance::ServerName(IniProfile::ResolvePath(parser.value(config).toStdString())));
    if (!instance.Claim()) {
        if (instance.Error().empty()) {
            std::vector<std::string> paths;
            for (const QString& file : parser.positionalArguments())
                paths.push_back(QFileInfo(file).absoluteFilePath().toStdString());
            if (!instance.HandOver(paths)) {
                std::fprintf(stderr, "cantivo: %s\n", instance.Error().c_str());
                return 1;
            }
            return 0;
        }
        std::fprintf(stderr, "cantivo: %s; going on without handing files to a running Cantivo\n",
                     instance.Error().c_str());
    }

    std::vector<ScriptRunner::Step> steps;
    if (parser.isSet(script)) {
        QFile file(parser.value(script));
        QString error;
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cantivo: --script: cannot read %s\n", parser.value(script).toUtf8().constData());
            return 2;
        }
        if (!ScriptRunner::Parse(QString::fromUtf8(file.readAll()), steps, error)) {
            std::fprintf(stderr, "cantivo: --script: %s\n", error.toUtf8().constData());
            return 2;
        }
    }

    // The engine's own notes go to stderr; what a user must see goes through message boxes.
    std::ostringstream messages;
    Session session(std::cout, messages);
    QtPrompter prompter;
    session.UsePrompter(prompter);
    session.options.configPath = parser.value(config).toStdString();
    session.options.dataDir = parser.value(dataDir).toStdString();
    session.Start();
    SynthDatabase& synths = session.SynthDb();

    SteadyMicrosecondClock clock;
    EngineRig rig(clock);
    RigOptions options;
    options.synths = &synths;
    options.capturePath = parser.value(capture).toStdString();
    options.portName = parser.value(port).toStdString();
    options.inputs = true;
    std::string error;
    bool usageError = false;
    std::vector<std::string> notices;
    if (!rig.Open(*session.Context().profile, options, error, usageError, notices)) {
        for (const std::string& notice : notices)
            std::cerr << notice << "\n";
        prompter.Show("The devices could not be opened: " + error, PromptIcon::Error);
        return usageError ? 2 : 1;
    }
    for (const std::string& notice : notices)
        std::cerr << notice << "\n";
    PlayThread thread(rig.Engine());
    std::string notice;
    thread.Start(notice);
    if (!notice.empty())
        std::cerr << notice << "\n";

    int exitCode = 0;
    {
        MainWindow window(session, messages, rig, clock);
        prompter.SetParent(&window);
        window.show();
        const QStringList files = parser.positionalArguments();
        if (!files.isEmpty())
            window.OpenPath(files.front());
        else
            QTimer::singleShot(static_cast<int>(Show::DelayedStartupMicroseconds / 1000), &window,
                               [&window] { window.OpenLastAtStartup(); });

        // SIGTERM and SIGINT close the window as the user would.
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
            struct sigaction action {};
            action.sa_handler = OnStopSignal;
            sigemptyset(&action.sa_mask);
            sigaction(SIGINT, &action, nullptr);
            sigaction(SIGTERM, &action, nullptr);
        }
        QSocketNotifier stopSignals(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(&stopSignals, &QSocketNotifier::activated, &window, [&window] {
            char byte = 0;
            (void)!read(signalPipe[0], &byte, 1);
            window.close();
        });

        instance.SetPathsHandler([&window](const std::vector<std::string>& paths) {
            window.show();
            window.raise();
            window.activateWindow();
            for (const std::string& path : paths)
                window.OpenPath(QString::fromStdString(path));
        });
        window.CheckForUpdates(false);

        ScriptRunner runner(window, std::move(steps), parser.value(screenshots));
        runner.Start();
        exitCode = QApplication::exec();
        prompter.SetParent(nullptr);
    }
    rig.Engine().Stop();
    thread.Stop();
    if (SynthDevice* synth = rig.LiveSynth())
        synth->Drain();
    if (!rig.Close(error)) {
        std::cerr << "cantivo: " << error << "\n";
        return 1;
    }
    return exitCode;
}
