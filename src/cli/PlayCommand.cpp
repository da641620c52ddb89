#include "cli/Commands.h"
#include "rig/CommandDispatch.h"
#include "rig/EngineRig.h"
#include "rig/Session.h"

#include "app/AccelMap.h"
#include "app/CommandTable.h"
#include "app/ControlActions.h"
#include "app/ControlMapStore.h"
#include "cli/RawTerminal.h"
#include "cli/SongText.h"
#include "cli/TerminalKeys.h"
#include "platform/PlayThread.h"
#include "platform/SynthDevice.h"
#include "playback/Scheduler.h"
#include "rig/Show.h"
#include "song/Song.h"
#include "song/TimeCode.h"
#include "synthdb/SynthDatabase.h"

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
    std::string advance;
    std::vector<int> thru;
};

// The set as `l` lists it: each song with its number, the current one marked.
std::string SetListText(const Show& show)
{
    std::string text;
    for (const SetItem& item : show.View()->Items()) {
        if (item.kind == SetItem::Kind::Cue)
            continue;
        const bool current = item.position == show.View()->Current();
        text += (current ? "> " : "  ") +
                (item.kind == SetItem::Kind::End ? item.text : std::to_string(item.position + 1) + "  " + item.text) +
                (item.stateImage == 3 ? "  (not read)" : "") + "\n";
    }
    return text;
}

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

std::string StatusLine(const Show& show, const Sequencer& engine)
{
    const Song* current = show.Current();
    std::string place = show.PlaceText();
    if (current == nullptr)
        return std::string(StateWord(engine.State())) + "  " + place;
    const Song& song = *current;
    const int32_t position = engine.Position();
    const double time = song.TicksToMicroseconds(position);
    const double left = std::max(song.TicksToMicroseconds(engine.EndTick()) - time, 0.0);
    const auto& tempo = song.tempoMap.entries[static_cast<size_t>(song.tempoMap.FindTempo(position))];
    char ratio[16];
    std::snprintf(ratio, sizeof ratio, "%.1f%%", engine.TempoRatio() / 1000.0);
    std::string line = std::string(StateWord(engine.State())) + "  ";
    if (!place.empty())
        line += place + "  ";
    line += TransportPositionText(song, position) + "  " + TransportTimeText(time, Milliseconds) + "  -" +
            TransportTimeText(left, Milliseconds) + "  ";
    if (show.View() != nullptr && show.View()->ViewSetTimes())
        line += "set " + show.View()->SetTimesText(time / 1e6) + "  ";
    return line + TransportTempoText(engine.TempoRatio(), tempo.microsecondsPerQuarter) + " (" + ratio + ")" +
           CueText(song, engine.Cues());
}

int RunPlay(Session& session, const PlayArguments& arguments)
{
    std::ostream& err = session.Err();
    int advance = -1;
    if (!arguments.advance.empty()) {
        static constexpr const char* Modes[] = {"no", "wait", "play"};
        for (int mode = 0; mode < 3; ++mode)
            if (arguments.advance == Modes[mode])
                advance = mode;
        if (advance < 0) {
            err << "cantivo-cli play: --advance: \"" << arguments.advance << "\" is none of no, wait, play\n";
            return ExitUsage;
        }
    }
    // The start-up order: the synth database, then the command line's file, then the engine.
    SynthDatabase& synths = session.SynthDb();
    Show show(session);
    if (arguments.song.empty()) {
        if (!arguments.start.empty()) {
            err << "cantivo-cli play: --start needs a FILE to count in\n";
            return ExitUsage;
        }
        std::string error;
        if (!show.OpenLast(error)) {
            err << "cantivo-cli play: " << error << "\n";
            return ExitUsage;
        }
    } else {
        if (int exitCode = 0; !show.Open("cantivo-cli play: ", arguments.song, arguments.start, exitCode))
            return exitCode;
    }

    SteadyMicrosecondClock clock;
    EngineRig rig(clock);
    RigOptions options;
    options.synths = &synths;
    options.capturePath = arguments.capture;
    options.portName = arguments.port;
    options.inputs = true; // foot switches and controllers drive the show
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
    // Played, so it is the one to open again at the next start.
    if (!arguments.song.empty())
        show.Remember();

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
    ClockScheduler& scheduler = show.Begin(rig, clock);
    if (show.View() != nullptr && advance >= 0)
        show.View()->OverrideAutoAdvance(advance);
    engine.PlayTap();

    engine.SetSelectedTracks(arguments.thru);
    CommandDispatch commands(show, engine);
    // The control map's actions, through the same dispatch as the keys.
    ControlActions control(engine, scheduler, [&commands](uint16_t command) { return commands.Run(command); });
    control.SetHeldProbe([&rig] { return rig.ControlHeld(); });
    rig.OnInput([&](const EngineNotification& notification) {
        if (notification.message == EngineMessage::MsgSongSelect && show.View() != nullptr)
            show.View()->SongSelect(notification.value);
        else
            control.Handle(notification);
    });
    if (const std::vector<std::string> inputs = rig.InputNames(); !inputs.empty() && isatty(STDERR_FILENO))
        err << "Listening to " << inputs.size() << " MIDI input" << (inputs.size() == 1 ? "" : "s")
            << " for the control map \"" << ControlMapStore(*session.Context().profile).UseWhich() << "\".\n";
    // Keys from the terminal when there is one; without one, stdin is left alone.
    TerminalControl keys;
    keys.UseSetKeys(show.IsSet());
    // The built-in keys are what the "Default" map gives; another active map adds its own bindings.
    std::vector<AccelEntry> ownKeys;
    if (const ActiveAccelTable table = AccelMapStore(*session.Context().profile).Activate();
        table.enabled && table.name != DefaultAccelMapName)
        ownKeys = table.entries;
    keys.UseAccelMap(ownKeys);
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
                err << "\r\x1b[K" << KeyHelpText(show.IsSet(), ownKeys);
                break;
            case KeyActionKind::ShowSet:
                if (show.IsSet())
                    err << "\r\x1b[K" << SetListText(show);
                break;
            case KeyActionKind::Quit:
                quit = true;
                break;
            }
        }
        scheduler.RunDue();
        if (const std::optional<HaltOutcome> outcome = show.HandleNotifications()) {
            ended = show.Finished();
            if (*outcome == HaltOutcome::Cue && !keys.Active() && show.Current() != nullptr)
                err << "Waiting at a cue at " << TransportPositionText(*show.Current(), engine.Position())
                    << " for a tap (Enter on a terminal); Ctrl+C or SIGTERM stops.\n";
        }
        ended = ended || show.Finished();
        if (terminal) {
            const std::string line = StatusLine(show, engine);
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
    // Nobody watches a log on a stage rig: what the input path had to let go is said at the end.
    if (const uint64_t dropped = engine.ThruDropped(); dropped > 0)
        err << "cantivo-cli play: " << dropped
            << " MIDI input message(s) were not played thru: they came while a song was changing or moving.\n";
    if (const uint64_t dropped = rig.Notifications().Dropped(); dropped > 0)
        err << "cantivo-cli play: " << dropped
            << " notice(s) from the engine or the MIDI inputs were dropped because the program fell behind.\n";
    if (stopSignal.load() != 0)
        err << "Stopped.\n";
    return ExitSuccess;
}

} // namespace

CliCommand AddPlayCommand(CLI::App& tool, Session& session)
{
    auto arguments = std::make_shared<PlayArguments>();
    CLI::App* app = tool.add_subcommand("play", "Plays a song in real time through the built-in synth or MIDI ports");
    app->add_option("FILE", arguments->song,
                    "The song, or a set (.set) to perform song after song (default: the one played last, "
                    "1.5 s after start, when \"AutoOpen\" is 1)");
    app->add_option("--start", arguments->start,
                    "Where to start (in a set: in its first song), as measure:beat:tick (default the start)");
    app->add_option("--capture", arguments->capture, "Also log every MIDI message sent, with its time");
    app->add_option("--advance", arguments->advance,
                    "At the end of a song of a set: no, wait or play (this run only; default the setting)");
    app->add_option("--thru", arguments->thru,
                    "Tracks (numbers as info lists them) that play what the MIDI inputs hear, in every song")
        ->delimiter(',')
        ->check(CLI::Range(1, 9999));
    app->add_option("--port", arguments->port,
                    "Play through this output device alone (a name \"cantivo-cli ports\" lists, or Capture)");
    return {app, [&session, arguments] { return RunPlay(session, *arguments); }};
}

} // namespace cantivo
