#include "cli/Commands.h"
#include "cli/SongText.h"
#include "rig/Session.h"

#include "song/AudioClip.h"
#include "song/EventText.h"
#include "song/Song.h"

#include <nlohmann/json.hpp>

#include <ostream>

namespace cantivo {

namespace {

using json = nlohmann::ordered_json;

// One event as the dump's contract has it. RPN/NRPN: data1 is the 14-bit parameter number, data2 is 0
// and length the 14-bit value (±100000 for data increment / decrement). Audio clips: status 0xFF,
// data1 7 (a cue point) and the clip's file name in "clip".
json EventJson(const SongEvent& event)
{
    json item = {{"time", event.time}, {"status", event.Status()}};
    if (event.IsParameter()) {
        item["data1"] = event.ParameterNumber();
        item["data2"] = 0;
    } else {
        item["data1"] = event.Data1();
        item["data2"] = event.Data2();
    }
    item["length"] = event.length;
    item["hex"] = HexText(event.Data(), event.DataSize());
    if (const AudioClip* clip = event.ClipData())
        item["clip"] = clip->fileName;
    return item;
}

json SongDump(const Song& song)
{
    json dump = {{"timebase", song.timebase}, {"format", song.fileFormat}, {"songEnd", song.songEnd}};
    json tracks = json::array();
    for (size_t number = 0; number + 1 < song.tracks.size(); ++number) { // the trailing empty track is left out
        const Track& track = *song.tracks[number];
        json events = json::array();
        for (const SongEvent& event : track.events)
            events.push_back(EventJson(event));
        tracks.push_back(
            {{"name", track.name}, {"port", track.outputPort}, {"channel", track.outputChannel}, {"events", events}});
    }
    dump["tracks"] = tracks;

    json tempos = json::array();
    for (const TempoChange& tempo : song.tempoMap.entries)
        tempos.push_back(
            {{"tick", tempo.tick}, {"usPerQuarter", tempo.microsecondsPerQuarter}, {"us", tempo.absolute}});
    dump["tempos"] = tempos;

    json measures = json::array();
    for (const Measure& measure : song.measures) {
        measures.push_back({{"start", measure.start},
                            {"length", measure.length},
                            {"number", measure.number},
                            {"letter", measure.letter ? std::string(1, static_cast<char>(measure.letter)) : ""},
                            {"numerator", measure.numerator},
                            {"denominator", measure.denominator},
                            {"key", measure.key},
                            {"mode", measure.mode}});
    }
    dump["measures"] = measures;

    json cues = json::array();
    for (const auto& cue : song.cues) {
        cues.push_back({{"kind", cue->kind},
                        {"label", cue->label},
                        {"stopAt", cue->stopAt},
                        {"restartAt", cue->restartAt},
                        {"count", cue->count}});
    }
    dump["cues"] = cues;
    return dump;
}

// The detail column of the text dump: what the event list shows.
std::string EventDetail(const Song& song, const Track& track, const SongEvent& event)
{
    if (event.IsAudioClip())
        return event.ClipData() ? event.ClipData()->fileName : std::string();
    if (event.IsSysex() || (event.IsMeta() && event.Data1() == 0x7F))
        return HexText(event.Data(), event.DataSize());
    if (event.IsMeta()) {
        std::string text = EventValueText(event);
        return text.empty() ? HexText(event.Data(), event.DataSize()) : "\"" + text + "\"";
    }
    if (event.IsParameter())
        return "parameter " + std::to_string(event.ParameterNumber()) + " = " + EventValueText(event);
    const std::string channel = "ch " + std::to_string(event.Channel() + 1) + "  ";
    switch (event.Type()) {
    case 0x90: {
        const int measure = song.FindMeasure(event.time);
        const int key = measure < 0 ? 0 : song.measures[measure].key;
        return channel + NoteName(event, TransposedKeySignature(key, track.keyOffset)) + "  velocity " +
               std::to_string(event.Data2()) + "  length " + std::to_string(event.length);
    }
    case 0xA0:
        return channel + "key " + std::to_string(event.Data1()) + " = " + EventValueText(event);
    case 0xB0:
        return channel + "controller " + std::to_string(event.Data1()) + " = " + EventValueText(event);
    case 0xC0:
        return channel + "program " + std::to_string(event.Data1()) + "  bank " + std::to_string(event.length);
    default:
        return channel + EventValueText(event);
    }
}

void PrintText(const Song& song, std::ostream& out)
{
    out << "Timebase " << song.timebase << ", song end " << song.songEnd << " ticks\n";
    for (size_t number = 0; number + 1 < song.tracks.size(); ++number) {
        const Track& track = *song.tracks[number];
        out << "\nTrack " << number << "  " << (number == 0 ? std::string("(conductor)") : track.name) << "  port "
            << track.outputPort << ", channel " << track.outputChannel + 1 << ", " << track.events.size()
            << " events\n";
        for (const SongEvent& event : track.events) {
            std::string time = std::to_string(event.time);
            std::string position = PositionText(song, event.time);
            std::string kind = EventKindWord(event);
            time.resize(std::max<size_t>(time.size() + 1, 9), ' ');
            position.resize(std::max<size_t>(position.size() + 1, 12), ' ');
            kind.resize(std::max<size_t>(kind.size() + 1, 17), ' ');
            out << "  " << time << position << kind << EventDetail(song, track, event) << '\n';
        }
    }
}

} // namespace

CliCommand AddDumpCommand(CLI::App& tool, Session& session)
{
    struct Options {
        std::string file;
        bool json = false;
    };
    auto options = std::make_shared<Options>();
    CLI::App* app = tool.add_subcommand("dump", "List every event of a song, its tempos, measures and cues");
    app->add_option("FILE", options->file, "The song (.mid, .midi, .smf, .kar, .rmi)")->required();
    app->add_flag("--json", options->json, "Print one JSON object (fields listed in the README) instead of text");
    auto run = [&session, options]() {
        Song song(session.Context());
        if (!session.OpenSong(song, options->file))
            return ExitFileUnusable;
        if (options->json)
            session.Out() << SongDump(song).dump(-1, ' ', false, json::error_handler_t::replace) << '\n';
        else
            PrintText(song, session.Out());
        return ExitSuccess;
    };
    return CliCommand{app, run};
}

} // namespace cantivo
