#include "cli/CliSession.h"
#include "cli/Commands.h"
#include "cli/EngineRig.h"

#include "app/CommandTable.h"
#include "app/TransportCommands.h"
#include "cli/RawTerminal.h"
#include "cli/SongText.h"
#include "cli/TerminalKeys.h"
#include "platform/PlayThread.h"
#include "platform/SynthDevice.h"
#include "playback/Scheduler.h"
#include "song/Song.h"
#include "song/TimeCode.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <ostream>
#include <thread>

namespace cantivo {

namespace {

std::atomic<int> stopSignal{0};

extern "C" void OnStopSignal(int signal)
{
    stopSignal.store(signal);
}

struct PlayArguments {
    std::string song;
    std::string start;
    std::string capture;
    std::string port;
};

const char* StateWord(SequencerState state)
{
    switch (state) {
    case SequencerState::Stopped:
        return "stopped";
    case SequencerState::Holding:
        return "holding";
    case SequencerState::Playing:
    case SequencerState::Starting:
        break;
    }
    return "playing";
}

// The pending cue, its kind and where it stops, and the pass of a vamp being repeated.
std::string CueText(const Song& song, const CueStatus& cue)
{
    if (cue.kind < 0)
        return "";
    std::string text = "  cue: " + PlainKindName(cue.kind) + " at " + TransportPositionText(song, cue.stopAt);
    if (cue.vampPass > 0) {
        text += ", pass " + std::to_string(cue.vampPass);
        if (cue.count > 0)
            text += " of " + std::to_string(cue.count);
        if (cue.lastPass)
            text += " (last)";
    }
    return text;
}

std::string StatusLine(const Song& song, const Sequencer& engine)
{
    const int32_t position = engine.Position();
    const double time = song.TicksToMicroseconds(position);
    const double left = std::max(song.TicksToMicroseconds(engine.EndTick()) - time, 0.0);
    const auto& tempo = song.tempoMap.entries[static_cast<size_t>(song.tempoMap.FindTempo(position))];
    char ratio[16];
    std::snprintf(ratio, sizeof ratio, "%.1f%%", engine.TempoRatio() / 1000.0);
    return std::string(StateWord(engine.State())) + "  " + TransportPositionText(song, position) + "  " +
           TransportTimeText(time, Milliseconds) + "  -" + TransportTimeText(left, Milliseconds) + "  " +
           TransportTempoText(engine.TempoRatio(), tempo.microsecondsPerQuarter) + " (" + ratio + ")" +
           CueText(song, engine.Cues());
}

int RunPlay(CliSession& session, const PlayArguments& arguments)
{
    std::ostream& err = session.Err();
    Song song(session.Context());
    int32_t start = 0;
    if (int exitCode = 0; !OpenSongAt(session, "play", arguments.song, arguments.start, song, start, exitCode))
        return exitCode;

    SteadyMicrosecondClock clock;
    EngineRig rig(clock);
    RigOptions options;
    options.capturePath = arguments.capture;
    options.portName = arguments.port;
    std::string error;
    bool usageError = false;
    std::vector<std::string> notices;
    if (!rig.Open(*session.Context().profile, options, error, usageError, notices)) {
        for (const std::string& notice : notices)
            err << notice << "\n";
        err << "cantivo-cli play: " << error << "\n";
        return usageError ? ExitUsage : ExitFileUnusable;
    }
    for (const std::string& notice : notices)
        err << notice << "\n";

    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    Sequencer& engine = rig.Engine();
    PlayThread thread(engine);
    std::string notice;
    thread.Start(notice);
    if (!notice.empty())
        err << notice << "\n";
    song.currentPosition = start;
    rig.Load(song, start);
    engine.PlayTap();

    ClockScheduler scheduler(clock);
    engine.SetScheduler(&scheduler);
    TransportCommands commands(engine);
    // Keys from the terminal when there is one; without one, stdin is left alone.
    TerminalControl keys;
    const bool terminal = isatty(STDERR_FILENO) != 0;
    if (keys.Active())
        err << "Keys: Enter taps, Space pauses, Esc stops, ? lists the keys, q quits.\n";
    bool ended = false;
    bool quit = false;
    size_t shown = 0;
    while (!ended && !quit && stopSignal.load() == 0) {
        const int64_t wait = std::clamp<int64_t>(scheduler.NextDue() - clock.NowMicroseconds(), 1'000, 50'000);
        if (const std::optional<KeyAction> action = keys.Poll(static_cast<int>(wait / 1000))) {
            switch (action->kind) {
            case KeyActionKind::Command:
                if (commands.Run(action->command) == CommandOutcome::Disabled && terminal)
                    err << "\r\x1b[K\"" << FunctionName(action->command) << "\" is not available now.\n";
                break;
            case KeyActionKind::ShowKeys:
                err << "\r\x1b[K" << KeyHelpText();
                break;
            case KeyActionKind::Quit:
                quit = true;
                break;
            }
        }
        scheduler.RunDue();
        if (const std::optional<HaltOutcome> outcome = rig.HandleNotifications()) {
            ended = *outcome == HaltOutcome::EndOfSong;
            if (*outcome == HaltOutcome::Cue && !keys.Active())
                err << "Waiting at a cue at " << TransportPositionText(song, engine.Position())
                    << " for a tap (Enter on a terminal); Ctrl+C or SIGTERM stops.\n";
        }
        if (terminal) {
            const std::string line = StatusLine(song, engine);
            // Padded over a longer line that came before, so no old text is left at the end.
            err << "\r" << line << std::string(shown > line.size() ? shown - line.size() : 0, ' ') << std::flush;
            shown = line.size();
        }
    }
    // Everything sounding is released before the thread and the devices go.
    engine.Stop();
    thread.Stop();
    if (terminal)
        err << "\n";
    if (SynthDevice* synth = rig.LiveSynth())
        synth->Drain();
    std::string logError;
    if (!rig.Close(logError)) {
        err << "cantivo-cli play: " << logError << "\n";
        return ExitFileUnusable;
    }
    if (stopSignal.load() != 0)
        err << "Stopped.\n";
    return ExitSuccess;
}

} // namespace

CliCommand AddPlayCommand(CLI::App& tool, CliSession& session)
{
    auto arguments = std::make_shared<PlayArguments>();
    CLI::App* app = tool.add_subcommand("play", "Plays a song in real time through the built-in synth or MIDI ports");
    app->add_option("FILE", arguments->song, "The song")->required();
    app->add_option("--start", arguments->start, "Where to start, as measure:beat:tick (default the start)");
    app->add_option("--capture", arguments->capture, "Also log every MIDI message sent, with its time");
    app->add_option("--port", arguments->port,
                    "Play through this output device alone (a name \"cantivo-cli ports\" lists, or Capture)");
    return {app, [&session, arguments] { return RunPlay(session, *arguments); }};
}

} // namespace cantivo
