// cantivo: the desktop program. Start-up in order: the settings, the synth database, the engine and
// its devices, the play thread, the main window, the command line's files, then the delayed start-up
// step. Closing the window stops the engine, leaves nothing sounding and writes the settings; SIGTERM
// and SIGINT do the same without waiting for an answer (modified songs go to their recovery files).
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

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};
int signalPipeError = 0;

void OnStopSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    (void)!write(signalPipe[1], &byte, 1);
    errno = saved;
}

// From the start on, so that a signal during start-up (a question at the command line's open, say)
// is not the default end that leaves notes sounding. False when there is no pipe to hand it over.
bool CatchStopSignals()
{
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0) {
        signalPipeError = errno;
        signalPipe[0] = signalPipe[1] = -1;
        return false;
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    return true;
}

// The message boxes over the main window until a stop signal came; then nobody is there to answer,
// so every question gets the safe answer (or is declined) and nothing is shown.
class StopAwarePrompter final : public cantivo::Prompter {
  public:
    explicit StopAwarePrompter(cantivo::Prompter& shown) : shown_(shown) {}
    void Silence() { silenced_ = true; }

    bool Ask(const std::string& text, cantivo::PromptButtons buttons, cantivo::PromptIcon icon) override
    {
        return Current().Ask(text, buttons, icon);
    }
    void Show(const std::string& text, cantivo::PromptIcon icon) override { Current().Show(text, icon); }
    cantivo::PromptAnswer AskOrDecline(const std::string& text, cantivo::PromptButtons buttons,
                                       cantivo::PromptIcon icon) override
    {
        return Current().AskOrDecline(text, buttons, icon);
    }

  private:
    cantivo::Prompter& Current() { return silenced_ ? silent_ : shown_; }

    cantivo::Prompter& shown_;
    cantivo::SilentPrompter silent_;
    bool silenced_ = false;
};

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

    // A start that only hands its files over keeps the default end on a signal.
    const bool catchesSignals = CatchStopSignals();

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
    StopAwarePrompter prompts(prompter);
    session.UsePrompter(prompts);
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

        // SIGTERM and SIGINT close the window as the user would, but answer no question on the way.
        std::unique_ptr<QSocketNotifier> stopSignals;
        if (catchesSignals) {
            stopSignals = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
            QObject::connect(stopSignals.get(), &QSocketNotifier::activated, &window, [&window, &prompts] {
                char bytes[16];
                while (read(signalPipe[0], bytes, sizeof bytes) > 0) {
                }
                prompts.Silence();
                window.QuitBySignal();
            });
        } else {
            std::cerr << "cantivo: SIGTERM and SIGINT cannot be caught (" << std::strerror(signalPipeError)
                      << "); they end the program at once\n";
        }

        window.show();
        // Each file in turn, as a second start hands them over: a set or song replaces what was
        // open, so the last one that opens stays; one that cannot be read is reported. They open
        // once the loop runs, so a script's steps and a signal reach the message box one may bring.
        const QStringList files = parser.positionalArguments();
        QTimer::singleShot(0, &window, [&window, files] {
            for (const QString& file : files)
                if (!window.Quitting())
                    window.OpenPath(file);
        });
        if (files.isEmpty())
            QTimer::singleShot(static_cast<int>(Show::DelayedStartupMicroseconds / 1000), &window,
                               [&window] { window.OpenLastAtStartup(); });

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
        exitCode = window.Quitting() ? 0 : QApplication::exec();
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
