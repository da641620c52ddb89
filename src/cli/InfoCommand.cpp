#include "cli/Commands.h"
#include "cli/SongText.h"
#include "rig/Session.h"

#include "song/Cue.h"
#include "song/Song.h"
#include "song/TimeCode.h"
#include "synthdb/SynthDatabase.h"
#include "synthdb/SynthLookup.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <map>
#include <ostream>

namespace cantivo {

namespace {

using json = nlohmann::ordered_json;

constexpr const char* InitialNames[InitialSlotCount] = {
    "bank",       "patch",     "pan",    "volume",  "portamento", "delay",       "reverb",       "chorus",
    "brightness", "resonance", "attack", "release", "decay",      "vibratoRate", "vibratoDepth", "vibratoDelay"};
constexpr const char* ParameterNames[ParameterSlotCount] = {"modulationRange", "fineTuning", "coarseTuning",
                                                            "bendRange"};

std::string MeasureLabel(const Measure& measure)
{
    std::string label = measure.number != 0 ? std::to_string(measure.number) : std::string();
    if (measure.letter != 0)
        label += static_cast<char>(measure.letter & ~0x20);
    return label.empty() ? "0" : label;
}

// The controller-destination ranges that are set: by source (channel pressure, polyphonic pressure,
// one controller with its number), then by destination parameter.
json Destinations(const Track& track)
{
    static constexpr const char* Sources[] = {"channelPressure", "polyPressure", "controller"};
    static constexpr const char* Targets[] = {"pitch",         "filterCutoff",   "amplitude",
                                              "lfoPitchDepth", "lfoFilterDepth", "lfoAmplitudeDepth"};
    json destinations = json::object();
    for (int source = 0; source < 3; ++source) {
        json ranges = json::object();
        for (int target = 0; target < 6; ++target)
            if (const int32_t range = track.destinations[static_cast<size_t>(source * 6 + target)]; range >= 0)
                ranges[Targets[target]] = range;
        if (source == 2 && track.destinationController >= 0)
            ranges["number"] = track.destinationController;
        if (!ranges.empty())
            destinations[Sources[source]] = ranges;
    }
    return destinations;
}

// The device a logical port plays through: its saved name, else (none saved) device n, of which only
// device 0, the built-in synth, is known without asking the system.
std::string PortName(const Profile& profile, int32_t logicalPort)
{
    if (logicalPort < 0 || logicalPort >= 16)
        return "";
    const std::string saved = profile.GetString("PortsToUse", "MIDIOUT" + std::to_string(logicalPort), "");
    if (!saved.empty() && saved != " ")
        return saved;
    return logicalPort == 0 ? "Cantivo Synth" : "";
}

// The synth bound to the track's port names its sound: the patch of its bank, or its drum set.
void AddSoundNames(json& info, const Track& track, SynthLookup& synths, const Profile& profile)
{
    const std::string port = PortName(profile, track.outputPort);
    info["portName"] = port;
    const Synthesizer* synth = port.empty() || track.IsAudio() ? nullptr : synths.PortSynth(port);
    if (synth == nullptr)
        return;
    info["synth"] = synth->name;
    // The track's own bank and patch, else the first program change it sends (with the bank selects
    // before it).
    int32_t bank = track.initial[InitBank];
    int32_t patch = track.initial[InitPatch];
    int32_t msb = -1, lsb = -1;
    for (const SongEvent& event : track.events) {
        if (patch >= 0)
            break;
        if (event.Type() == 0xB0 && event.Data1() == 0)
            msb = event.Data2();
        else if (event.Type() == 0xB0 && event.Data1() == 32)
            lsb = event.Data2();
        else if (event.Type() == 0xC0) {
            patch = event.Data1();
            if (bank < 0 && (msb >= 0 || lsb >= 0))
                bank = std::max(msb, 0) * 128 + std::max(lsb, 0);
        }
    }
    bank = std::max(bank, 0);
    const bool drums = synths.IsDrumTrack(port, track.outputChannel & 0x0F, bank, std::max(patch, 0));
    info["drums"] = drums;
    if (drums) {
        if (const DrumSet* set = synths.FindDrumSet(synth->number, bank, std::max(patch, 0)))
            info["soundName"] = set->name;
    } else if (patch >= 0) {
        if (const std::string* name = synths.PatchName(synth->number, bank, patch))
            info["soundName"] = *name;
    }
}

json TrackInfo(const Song& song, size_t number, SynthLookup& synths)
{
    const Track& track = *song.tracks[number];
    json info = {{"number", number},
                 {"conductor", number == 0},
                 {"name", track.name},
                 {"kind", track.IsAudio() ? "audio" : "MIDI"},
                 {"play", track.play != 0},
                 {"port", track.outputPort},
                 {"channel", track.outputChannel}};
    json initial = json::object();
    for (int slot = 0; slot < InitialSlotCount; ++slot)
        if (track.initial[slot] >= 0)
            initial[InitialNames[slot]] = track.initial[slot];
    info["initial"] = initial;
    json parameters = json::object();
    for (int slot = 0; slot < ParameterSlotCount; ++slot)
        if (track.initialParameters[slot] >= 0)
            parameters[ParameterNames[slot]] = track.initialParameters[slot];
    info["parameters"] = parameters;
    info["destinations"] = Destinations(track);
    info["offsets"] = {{"key", track.keyOffset}, {"time", track.timeOffset}, {"velocity", track.velocityOffset}};
    std::map<std::string, int> counts;
    for (const SongEvent& event : track.events)
        ++counts[EventKindWord(event)];
    if (number > 0)
        AddSoundNames(info, track, synths, *song.Context().profile);
    info["eventCount"] = track.events.size();
    info["events"] = counts;
    return info;
}

json SongInfo(const Song& song, const std::string& path, SynthLookup& synths)
{
    json info = {{"file", path},
                 {"title", song.title},
                 {"subtitle", song.subtitle},
                 {"author", song.author},
                 {"copyright", song.copyright},
                 {"memo", song.memo},
                 {"format", song.fileFormat},
                 {"timebase", song.timebase},
                 {"songEnd", song.songEnd},
                 {"lengthUs", song.songLength},
                 {"length", LengthText(song.songLength)},
                 {"measureCount", song.measures.size()}};

    json tempos = json::array();
    for (const TempoChange& tempo : song.tempoMap.entries) {
        const double bpm = tempo.microsecondsPerQuarter ? 60e6 / tempo.microsecondsPerQuarter : 0.0;
        tempos.push_back({{"tick", tempo.tick},
                          {"position", PositionText(song, tempo.tick)},
                          {"usPerQuarter", tempo.microsecondsPerQuarter},
                          {"bpm", bpm},
                          {"time", LengthText(tempo.absolute)}});
    }
    info["tempos"] = tempos;

    // One row where the meter or the key changes.
    json meters = json::array();
    json labels = json::array();
    for (size_t i = 0; i < song.measures.size(); ++i) {
        const Measure& measure = song.measures[i];
        const Measure* previous = i > 0 ? &song.measures[i - 1] : nullptr;
        if (!previous || previous->numerator != measure.numerator || previous->denominator != measure.denominator ||
            previous->key != measure.key || previous->mode != measure.mode) {
            meters.push_back({{"measure", i + 1},
                              {"position", PositionText(song, measure.start)},
                              {"numerator", measure.numerator},
                              {"denominator", measure.denominator},
                              {"key", measure.key},
                              {"mode", measure.mode},
                              {"keyName", KeyName(measure.key, measure.mode)}});
        }
        // Labels that differ from plain running numbers (a renumbering or a rehearsal letter).
        const int expected = previous ? previous->number + 1 : 1;
        if (measure.letter != 0 || measure.number != expected)
            labels.push_back({{"measure", i + 1}, {"label", MeasureLabel(measure)}});
    }
    info["meters"] = meters;
    info["measureLabels"] = labels;

    json cues = json::array();
    for (const auto& cue : song.cues) {
        cues.push_back({{"kind", cue->kind},
                        {"kindName", PlainKindName(cue->kind)},
                        {"label", cue->label},
                        {"count", cue->count},
                        {"stopAt", cue->stopAt},
                        {"restartAt", cue->restartAt},
                        {"stopAtPosition", PositionText(song, cue->stopAt)},
                        {"restartAtPosition", PositionText(song, cue->restartAt)}});
    }
    info["cues"] = cues;

    json tracks = json::array();
    for (size_t number = 0; number + 1 < song.tracks.size(); ++number) // the trailing empty track is left out
        tracks.push_back(TrackInfo(song, number, synths));
    info["tracks"] = tracks;
    return info;
}

std::string Padded(const std::string& text, size_t width)
{
    return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

void PrintText(const json& info, std::ostream& out)
{
    auto field = [&](const char* name, const std::string& value) { out << Padded(name, 11) << value << '\n'; };
    field("File", info["file"]);
    field("Title", info["title"]);
    field("Subtitle", info["subtitle"]);
    field("Author", info["author"]);
    field("Copyright", info["copyright"]);
    if (!info["memo"].get<std::string>().empty())
        field("Memo", info["memo"]);
    field("Format", std::to_string(info["format"].get<int>()));
    field("Timebase", std::to_string(info["timebase"].get<int>()) + " ticks per quarter note");
    field("Song end",
          std::to_string(info["songEnd"].get<int>()) + " ticks, length " + info["length"].get<std::string>());
    field("Measures", std::to_string(info["measureCount"].get<size_t>()));

    out << "\nTempo map\n";
    for (const json& tempo : info["tempos"]) {
        char bpm[32];
        std::snprintf(bpm, sizeof bpm, "%.3f bpm", tempo["bpm"].get<double>());
        out << "  " << Padded(tempo["position"], 12) << Padded("tick " + std::to_string(tempo["tick"].get<int>()), 13)
            << Padded(bpm, 13) << Padded(std::to_string(tempo["usPerQuarter"].get<uint32_t>()) + " us/quarter", 20)
            << "at " << tempo["time"].get<std::string>() << '\n';
    }

    out << "\nMeters and keys\n";
    for (const json& meter : info["meters"]) {
        out << "  " << Padded("measure " + std::to_string(meter["measure"].get<size_t>()), 14)
            << Padded(meter["position"], 12)
            << Padded(std::to_string(meter["numerator"].get<int>()) + "/" +
                          std::to_string(meter["denominator"].get<int>()),
                      7)
            << meter["keyName"].get<std::string>() << '\n';
    }

    out << "\nMeasure labels\n";
    if (info["measureLabels"].empty())
        out << "  none: the measures are numbered from 1 on\n";
    for (const json& label : info["measureLabels"])
        out << "  measure " << label["measure"].get<size_t>() << " shows " << label["label"].get<std::string>() << '\n';

    out << "\nCues\n";
    if (info["cues"].empty())
        out << "  none\n";
    for (const json& cue : info["cues"]) {
        std::string times = "at " + cue["stopAtPosition"].get<std::string>();
        if (cue["stopAt"] != cue["restartAt"])
            times = "stop " + cue["stopAtPosition"].get<std::string>() + ", restart " +
                    cue["restartAtPosition"].get<std::string>();
        std::string label = cue["label"];
        if (cue["count"].get<int>() != 0)
            label += (label.empty() ? "" : " ") + std::string("(") + std::to_string(cue["count"].get<int>()) + "x)";
        out << "  " << Padded(cue["kindName"], 20) << Padded(times, 32) << label << '\n';
    }

    out << "\nTracks\n";
    for (const json& track : info["tracks"]) {
        const size_t number = track["number"];
        out << "  " << number << "  "
            << (track["conductor"].get<bool>() ? "(conductor)" : track["name"].get<std::string>());
        if (!track["conductor"].get<bool>()) {
            out << "  port " << track["port"].get<int>() << ", channel " << track["channel"].get<int>() + 1;
            if (track["kind"] == "audio")
                out << ", audio track";
            if (!track["play"].get<bool>())
                out << ", not played";
            if (track.contains("synth")) {
                out << "  (" << track["synth"].get<std::string>();
                if (track.contains("soundName"))
                    out << (track["drums"].get<bool>() ? ", drum set " : ", patch ")
                        << track["soundName"].get<std::string>();
                out << ")";
            }
        }
        out << '\n';
        auto values = [&](const char* title, const json& object) {
            if (object.empty())
                return;
            out << "      " << title;
            bool first = true;
            for (const auto& [name, value] : object.items()) {
                out << (first ? " " : ", ") << name << " " << value.dump();
                first = false;
            }
            out << '\n';
        };
        values("initial:", track["initial"]);
        values("parameters:", track["parameters"]);
        for (const auto& [source, ranges] : track["destinations"].items())
            values(("destinations from " + source + ":").c_str(), ranges);
        const json& offsets = track["offsets"];
        if (offsets["key"] != 0 || offsets["time"] != 0 || offsets["velocity"] != 0)
            values("offsets:", offsets);
        out << "      events: " << track["eventCount"].get<size_t>();
        bool first = true;
        for (const auto& [name, count] : track["events"].items()) {
            out << (first ? " (" : ", ") << count.get<int>() << " " << name;
            first = false;
        }
        out << (first ? "" : ")") << '\n';
    }
}

} // namespace

CliCommand AddInfoCommand(CLI::App& tool, Session& session)
{
    struct Options {
        std::string file;
        bool json = false;
    };
    auto options = std::make_shared<Options>();
    CLI::App* app = tool.add_subcommand("info", "Show what a song holds: texts, tempos, meters, cues and tracks");
    app->add_option("FILE", options->file, "The song (.mid, .midi, .smf, .kar, .rmi)")->required();
    app->add_flag("--json", options->json, "Print one JSON object instead of text");
    auto run = [&session, options]() {
        Song song(session.Context());
        if (!session.OpenSong(song, options->file))
            return ExitFileUnusable;
        const json info = SongInfo(song, options->file, session.SynthDb().Lookup());
        if (options->json)
            session.Out() << info.dump(2, ' ', false, json::error_handler_t::replace) << '\n';
        else
            PrintText(info, session.Out());
        return ExitSuccess;
    };
    return CliCommand{app, run};
}

} // namespace cantivo
