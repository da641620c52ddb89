#include "cli/Commands.h"
#include "rig/CommandDispatch.h"
#include "rig/EngineRig.h"
#include "rig/Session.h"
#include "rig/Show.h"

#include "app/CommandTable.h"
#include "app/RenderScript.h"
#include "platform/SynthRenderer.h"
#include "playback/Scheduler.h"
#include "song/Song.h"
#include "song/TimeCode.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <ostream>

namespace cantivo {

namespace {

struct RenderArguments {
    std::string song;
    std::string wav;
    std::string capture;
    std::string script;
    std::string start;
    std::string soundFont;
};

// A render stops at the latest this long (virtual time) after its last script line and the song's
// length at the slowest tempo: a guard against an endless vamp that no script line releases.
constexpr int64_t RenderGuard = 10LL * 60 * 1000000;
// The synth's tail after the last note, ended earlier at silence.
constexpr double TailSeconds = 4.0;
// How much virtual time passes between audio writes.
constexpr int64_t RenderStep = 50'000;

void DrawProgress(std::ostream& err, double fraction)
{
    const int width = 40;
    const int filled = std::clamp(static_cast<int>(fraction * width), 0, width);
    err << "\r[" << std::string(static_cast<size_t>(filled), '#')
        << std::string(static_cast<size_t>(width - filled), ' ') << "] " << static_cast<int>(fraction * 100) << "%"
        << std::flush;
}

int RunRender(Session& session, const RenderArguments& arguments)
{
    std::ostream& err = session.Err();
    RenderScript script;
    if (!arguments.script.empty()) {
        script = ReadRenderScript(arguments.script);
        if (!script.ok()) {
            err << "cantivo-cli render: " << script.error << "\n";
            return ExitUsage;
        }
        for (const ScriptLine& line : script.lines) {
            if (!CommandDispatch::Handles(line.command)) {
                const CommandInfo* info = FindCommand(line.command);
                err << "cantivo-cli render: script line " << line.lineNumber << ": \""
                    << (info ? std::string(info->shortName) : std::to_string(line.command))
                    << "\" cannot run in a render\n";
                return ExitUsage;
            }
        }
    } else {
        script.lines.push_back({0, ToNumber(CommandId::Play), 0});
    }

    Show show(session);
    if (int exitCode = 0; !show.Open("cantivo-cli render: ", arguments.song, arguments.start, exitCode))
        return exitCode;

    VirtualMicrosecondClock clock;
    EngineRig rig(clock);
    RigOptions options;
    options.synths = &session.SynthDb();
    options.render = true;
    options.wavPath = arguments.wav;
    options.capturePath = arguments.capture;
    if (!arguments.soundFont.empty())
        options.soundFont = arguments.soundFont;
    std::string error;
    bool usageError = false;
    std::vector<std::string> notices;
    if (!rig.Open(*session.Context().profile, options, error, usageError, notices)) {
        err << "cantivo-cli render: " << error << "\n";
        return usageError ? ExitUsage : ExitFileUnusable;
    }
    Sequencer& engine = rig.Engine();
    // No external clock reaches a render: as a slave it would never move.
    if (engine.IsSlave()) {
        SyncSettings sync = SyncSettings::Read(*session.Context().profile);
        sync.masterSlave = 0;
        engine.SetSync(sync);
        err << "The settings make Cantivo a sync slave (\"SyncOptions\"/\"MasterSlave\" 2); a render has no "
               "external clock, so it plays on its own.\n";
    }
    ClockScheduler& scheduler = show.Begin(rig, clock);
    double showLength = 0; // microseconds at normal tempo
    if (SetViewModel* view = show.View())
        showLength = view->TotalSeconds() * 1e6;
    else
        showLength = show.Current()->songLength;
    CommandDispatch commands(show, engine);
    SynthRenderer& synth = *rig.Renderer();
    const bool terminal = isatty(STDERR_FILENO) != 0;
    const int64_t lastLine = script.lines.empty() ? 0 : script.lines.back().milliseconds * 1000;
    const int64_t guard = clock.NowMicroseconds() + lastLine + static_cast<int64_t>(showLength * 2) + RenderGuard;
    size_t nextLine = 0;
    bool waiting = false; // held or cut at a cue, waiting for a tap
    int lastPercent = -1;
    int64_t rendered = 0;
    const int64_t begin = clock.NowMicroseconds();
    std::string endNote;
    for (;;) {
        const int64_t now = clock.NowMicroseconds();
        // The UI loop's turn: the script's commands that are due, the timers, then the engine's notifications.
        while (nextLine < script.lines.size() && begin + script.lines[nextLine].milliseconds * 1000 <= now) {
            (void)commands.Run(script.lines[nextLine].command);
            ++nextLine;
        }
        scheduler.RunDue();
        if (const std::optional<HaltOutcome> outcome = show.HandleNotifications())
            waiting = *outcome == HaltOutcome::Cue;
        const SequencerState state = engine.State();
        const bool idle = state == SequencerState::Stopped || state == SequencerState::Holding;
        const bool advancing = show.View() != nullptr && show.View()->Advancing();
        // At the song's end the engine has stopped; later script lines (a "Goto beginning", a "Play")
        // still run, as they would on stage.
        if (idle && !advancing && nextLine == script.lines.size()) {
            if (waiting && show.Current() != nullptr)
                endNote = "the song waits at a cue at " + TransportPositionText(*show.Current(), engine.Position()) +
                          " and the script has no more taps: the render ends there";
            else if (show.IsSet() && !show.Finished())
                endNote = "the set waits at song " + show.PlaceText() +
                          " for a tap and the script has no more: the render ends there";
            break;
        }
        if (!idle)
            waiting = false;
        if (now > guard) {
            endNote =
                "the song was still playing after " + std::to_string((now - begin) / 1000000) +
                " s of virtual time (an endless vamp with no \"Last vamp\" in the script?): the render ends there";
            break;
        }
        int64_t next = engine.Service(now);
        if (nextLine < script.lines.size())
            next = std::min(next, begin + script.lines[nextLine].milliseconds * 1000);
        next = std::min(next, scheduler.NextDue());
        next = std::max(next, now + 1);
        // The synth queues what it is sent with its time, so audio is made in larger steps: fewer,
        // longer writes cost less and land every message on the same sample.
        if (next - rendered >= RenderStep) {
            synth.RenderUntil(next);
            rendered = next;
        }
        clock.Set(next);
        if (terminal) {
            const int32_t end = std::max(engine.EndTick(), 1);
            const int percent = std::clamp(engine.Position() * 100 / end, 0, 100);
            if (percent != lastPercent) {
                lastPercent = percent;
                DrawProgress(err, percent / 100.0);
            }
        }
    }
    // The end of the song: everything released, then the synth rings out.
    engine.Stop();
    synth.RenderUntil(clock.NowMicroseconds());
    (void)synth.FinishTail(TailSeconds);
    std::string logError;
    const bool logged = rig.Close(logError);
    if (!synth.Finish(error)) {
        if (terminal)
            err << "\n";
        err << "cantivo-cli render: " << error << "\n";
        return ExitFileUnusable;
    }
    if (terminal)
        err << "\r" << std::string(48, ' ') << "\r";
    if (!endNote.empty())
        err << "cantivo-cli render: " << endNote << "\n";
    if (!logged) {
        err << "cantivo-cli render: " << logError << "\n";
        return ExitFileUnusable;
    }
    const double seconds = static_cast<double>(synth.FramesWritten()) / SynthRenderer::SampleRate;
    char length[32];
    std::snprintf(length, sizeof length, "%.3f", seconds);
    session.Out() << "Rendered " << arguments.wav << " (" << length << " s)\n";
    return ExitSuccess;
}

} // namespace

CliCommand AddRenderCommand(CLI::App& tool, Session& session)
{
    auto arguments = std::make_shared<RenderArguments>();
    CLI::App* app = tool.add_subcommand(
        "render", "Plays a song through the whole engine in virtual time, faster than real time, into a WAV file");
    app->add_option("FILE", arguments->song, "The song, or a set (.set), auto-advance included")->required();
    app->add_option("OUT", arguments->wav, "The WAV file to write (44100 Hz, stereo, 16-bit)")->required();
    app->add_option("--capture", arguments->capture, "Also log every MIDI message sent, with its time");
    app->add_option(
        "--script", arguments->script,
        "Commands at times: lines \"MILLISECONDS COMMAND\" (a command's short name, \"Play\", \"Stop\", ...)");
    app->add_option("--start", arguments->start, "Where to start, as measure:beat:tick (default the start)");
    app->add_option("--soundfont", arguments->soundFont, "The SoundFont (default: the setting Synth/SoundFont)");
    return {app, [&session, arguments] { return RunRender(session, *arguments); }};
}

} // namespace cantivo
