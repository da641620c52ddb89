// Reads every file of the MIDI corpus and compares what the reader makes of it with an independent
// parse, after applying the reader's own rules to that parse (see ExpectedSong).
#include "song/MidiFileReader.h"

#include "song/Song.h"
#include "support/TestContext.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace cantivo {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

fs::path CorpusFolder()
{
    const char* variable = std::getenv("CANTIVO_CORPUS");
    return variable && *variable ? fs::path(variable) : fs::path(CANTIVO_CORPUS_DEFAULT);
}

using NoteTuple = std::tuple<int, int, int32_t, int32_t>;       // channel, key, start, duration
using ControllerTuple = std::tuple<int32_t, int, int>;          // time, controller, value
using ProgramTuple = std::tuple<int32_t, int, int>;             // time, program, bank
using ParameterTuple = std::tuple<int32_t, bool, int, int32_t>; // time, registered, number, value

struct ExpectedTrack {
    std::vector<NoteTuple> notes;
    std::vector<ProgramTuple> programs;
    std::vector<ControllerTuple> controllers;
    std::vector<ParameterTuple> parameters;
    std::array<int32_t, InitialSlotCount> initial;
    std::array<int32_t, ParameterSlotCount> initialParameters;
    int outputChannel = 0;
    int otherChannelMessages = 0; // aftertouch, channel pressure, pitch wheel
};

struct RefMessage {
    int32_t time;
    const json* message;
    int Channel() const { return message->value("channel", 0); }
    std::string Type() const { return (*message)["type"].get<std::string>(); }
};

bool IsChannelType(const std::string& type)
{
    return type == "note_on" || type == "note_off" || type == "control_change" || type == "program_change" ||
           type == "pitchwheel" || type == "aftertouch" || type == "polytouch";
}

// Notes paired as the reader pairs them: a note-off (or note-on of velocity 0) closes the oldest open
// note of its channel and key; a note never closed keeps no length.
std::vector<NoteTuple> PairNotes(const std::vector<RefMessage>& messages)
{
    std::vector<NoteTuple> notes;
    std::map<std::pair<int, int>, std::deque<size_t>> open;
    for (const RefMessage& m : messages) {
        const std::string type = m.Type();
        if (type != "note_on" && type != "note_off")
            continue;
        const int key = (*m.message)["note"];
        const int velocity = (*m.message)["velocity"];
        auto& queue = open[{m.Channel(), key}];
        if (type == "note_on" && velocity > 0) {
            queue.push_back(notes.size());
            notes.emplace_back(m.Channel(), key, m.time, -1);
        } else if (!queue.empty()) {
            std::get<3>(notes[queue.front()]) = m.time - std::get<2>(notes[queue.front()]);
            queue.pop_front();
        }
    }
    for (NoteTuple& note : notes)
        std::get<3>(note) = std::max(std::get<3>(note), 0);
    std::sort(notes.begin(), notes.end());
    return notes;
}

// A split format-0 track is written into an image and read again: each note-on followed by the
// note-offs due by then (earlier ones first; at one tick a note-off before a note-on), then paired as
// before. A note left open (length 0) can so close an older note of its key.
std::vector<NoteTuple> ThroughImage(std::vector<NoteTuple> notes)
{
    std::stable_sort(notes.begin(), notes.end(),
                     [](const NoteTuple& a, const NoteTuple& b) { return std::get<2>(a) < std::get<2>(b); });
    std::multimap<int32_t, std::pair<int, int>> pending; // off time -> channel, key
    std::map<std::pair<int, int>, std::deque<size_t>> open;
    std::vector<NoteTuple> reread;
    const auto flush = [&](int64_t upTo) {
        while (!pending.empty() && pending.begin()->first <= upTo) {
            const auto [time, slot] = *pending.begin();
            pending.erase(pending.begin());
            auto& queue = open[slot];
            std::get<3>(reread[queue.front()]) = time - std::get<2>(reread[queue.front()]);
            queue.pop_front();
        }
    };
    for (const auto& [channel, key, start, length] : notes) {
        flush(start);
        open[{channel, key}].push_back(reread.size());
        reread.emplace_back(channel, key, start, 0);
        pending.emplace(start + length, std::make_pair(channel, key));
    }
    flush(INT64_MAX);
    std::sort(reread.begin(), reread.end());
    return reread;
}

int InitialSlot(int controller)
{
    for (int slot = InitPan; slot < InitialSlotCount; ++slot)
        if (InitialSlotController[static_cast<size_t>(slot)] == controller)
            return slot;
    return -1;
}

// The reader's rules for a user track: the output channel is the first note's (else the last program or
// controller's); settings on that channel before the first note fold into the track, bank (per channel,
// −1 until selected) and parameter controllers are assembled, repeated programs and initial-controller
// values are dropped.
ExpectedTrack ExpectUserTrack(const std::vector<RefMessage>& messages, int defaultChannel)
{
    ExpectedTrack track;
    track.initial.fill(-1);
    track.initialParameters.fill(-1);
    track.outputChannel = defaultChannel;
    track.notes = PairNotes(messages);
    for (const RefMessage& m : messages) {
        const std::string type = m.Type();
        if (type == "note_on" && (*m.message)["velocity"].get<int>() > 0) {
            track.outputChannel = m.Channel();
            break;
        }
        if (type == "program_change" || type == "control_change")
            track.outputChannel = m.Channel();
    }
    bool noteSeen = false;
    std::array<int, 16> banks;
    banks.fill(-1);
    int rpn = 16383;
    int nrpn = 16383;
    int lastProgram = -1;
    int lastBank = -1;
    std::array<int, InitialSlotCount> lastValue;
    lastValue.fill(-1);
    bool lastIsParameter = false; // the track's last kept event is the parameter event at the back
    for (const RefMessage& m : messages) {
        const std::string type = m.Type();
        const json& message = *m.message;
        const bool mayFold = !noteSeen && m.Channel() == track.outputChannel;
        int& bank = banks[static_cast<size_t>(m.Channel())];
        if (type == "note_on" && message["velocity"].get<int>() > 0) {
            noteSeen = true;
            lastIsParameter = false;
        } else if (type == "pitchwheel" || type == "aftertouch" || type == "polytouch") {
            ++track.otherChannelMessages;
            lastIsParameter = false;
        } else if (type == "program_change") {
            const int program = message["program"];
            if (track.initial[InitPatch] < 0 && mayFold) {
                track.initial[InitPatch] = program;
                track.initial[InitBank] = bank;
            } else if (program != lastProgram || bank != lastBank) {
                track.programs.emplace_back(m.time, program, bank);
                lastIsParameter = false;
            }
            lastProgram = program;
            lastBank = bank;
        } else if (type == "control_change") {
            const int controller = message["control"];
            const int value = message["value"];
            const int slot = InitialSlot(controller);
            if (controller == 0) {
                bank = (std::max(bank, 0) & 0x7F) | value << 7;
            } else if (controller == 32) {
                bank = (std::max(bank, 0) & ~0x7F) | value;
            } else if (controller == 99 || controller == 98) {
                nrpn = controller == 99 ? (nrpn & 0x7F) | value << 7 : (nrpn & ~0x7F) | value;
                rpn = 16383;
            } else if (controller == 101 || controller == 100) {
                rpn = controller == 101 ? (rpn & 0x7F) | value << 7 : (rpn & ~0x7F) | value;
                nrpn = 16383;
            } else if (controller == 6 || controller == 38 || controller == 96 || controller == 97) {
                const bool registered = nrpn == 16383;
                const int number = registered ? rpn : nrpn;
                if (number == 16383)
                    continue;
                int parameterSlot = -1;
                for (int s = 0; s < ParameterSlotCount; ++s)
                    if (registered && ParameterSlotRpn[static_cast<size_t>(s)] == number)
                        parameterSlot = s;
                if (controller == 96 || controller == 97) {
                    track.parameters.emplace_back(m.time, registered, number, controller == 96 ? 100000 : -100000);
                    lastIsParameter = true;
                } else if (parameterSlot >= 0 && !noteSeen) {
                    int32_t& initial = track.initialParameters[static_cast<size_t>(parameterSlot)];
                    const int32_t current = initial < 0 ? 0 : initial;
                    initial = controller == 38 ? (current & ~0x7F) | value : (current & 0x7F) | value << 7;
                } else if (controller == 6) {
                    track.parameters.emplace_back(m.time, registered, number, value * 128);
                    lastIsParameter = true;
                } else if (lastIsParameter && std::get<1>(track.parameters.back()) == registered &&
                           std::get<2>(track.parameters.back()) == number) {
                    int32_t& last = std::get<3>(track.parameters.back());
                    if (last >= 0 && last <= 16383)
                        last = (last & ~0x7F) | value;
                }
            } else if (slot >= 0) {
                if (track.initial[static_cast<size_t>(slot)] < 0 && mayFold)
                    track.initial[static_cast<size_t>(slot)] = value;
                else if (value != lastValue[static_cast<size_t>(slot)]) {
                    track.controllers.emplace_back(m.time, controller, value);
                    lastIsParameter = false;
                }
                lastValue[static_cast<size_t>(slot)] = value;
            } else {
                track.controllers.emplace_back(m.time, controller, value);
                lastIsParameter = false;
            }
        } else if (type != "note_on" && type != "note_off" && type != "end_of_track" && type != "track_name" &&
                   type != "midi_port") {
            // Kept metas and sysex sit between parameter events and a later data entry LSB.
            if (!(type == "text" && m.time == 0))
                lastIsParameter = false;
        }
    }
    return track;
}

// Tempo entries as the reader merges them: one at a tick (the last), none equal to the one in force.
std::vector<std::pair<int32_t, uint32_t>> ExpectTempos(const std::vector<RefMessage>& conductor)
{
    std::vector<std::pair<int32_t, uint32_t>> tempos = {{0, 500000}};
    for (const RefMessage& m : conductor) {
        if (m.Type() != "set_tempo")
            continue;
        const uint32_t tempo = (*m.message)["tempo"];
        if (tempo == 0)
            continue;
        if (tempos.back().first == m.time)
            tempos.back().second = tempo;
        else if (tempos.back().second != tempo)
            tempos.emplace_back(m.time, tempo);
    }
    return tempos;
}

std::vector<NoteTuple> SongNotes(const Track& track)
{
    std::vector<NoteTuple> notes;
    for (const SongEvent& event : track.events)
        if (event.IsNote())
            notes.emplace_back(event.Channel(), event.Data1(), event.time, event.length);
    std::sort(notes.begin(), notes.end());
    return notes;
}

void CompareUserTrack(const Track& track, const ExpectedTrack& expected)
{
    EXPECT_EQ(SongNotes(track), expected.notes);
    std::vector<ProgramTuple> programs;
    std::vector<ControllerTuple> controllers;
    std::vector<ParameterTuple> parameters;
    int other = 0;
    for (const SongEvent& event : track.events) {
        if (event.Type() == 0xC0)
            programs.emplace_back(event.time, event.Data1(), event.length);
        else if (event.Type() == 0xB0)
            controllers.emplace_back(event.time, event.Data1(), event.Data2());
        else if (event.IsParameter())
            parameters.emplace_back(event.time, event.Status() == StatusRpn, event.ParameterNumber(), event.length);
        else if (event.Type() == 0xA0 || event.Type() == 0xD0 || event.Type() == 0xE0)
            ++other;
    }
    EXPECT_EQ(programs, expected.programs);
    EXPECT_EQ(controllers, expected.controllers);
    EXPECT_EQ(parameters, expected.parameters);
    EXPECT_EQ(other, expected.otherChannelMessages);
    EXPECT_EQ(track.initial, expected.initial);
    EXPECT_EQ(track.initialParameters, expected.initialParameters);
    EXPECT_EQ(track.outputChannel, expected.outputChannel);
}

// A negative division is an SMPTE one: minus the frame rate in the high byte, ticks per frame below.
int SmpteRate(int division)
{
    return division < 0 ? -(division >> 8) : 0;
}

void CompareWithReference(const Song& song, const json& ref)
{
    std::vector<std::vector<RefMessage>> refTracks;
    for (const json& track : ref["tracks"]) {
        refTracks.emplace_back();
        for (const json& entry : track)
            refTracks.back().push_back(RefMessage{entry[0].get<int32_t>(), &entry[1]});
    }
    ASSERT_FALSE(refTracks.empty());

    const int division = ref["division"];
    if (const int rate = SmpteRate(division)) {
        const int ticksPerFrame = division & 0xFF;
        EXPECT_EQ(song.timebase, (rate == 29 ? 30 : rate) * ticksPerFrame);
        ASSERT_EQ(song.tempoMap.entries.size(), 1u);
        EXPECT_EQ(song.tempoMap.entries[0].microsecondsPerQuarter, rate == 29 ? 1001001u : 1000000u);
    } else {
        EXPECT_EQ(song.timebase, division);
        std::vector<std::pair<int32_t, uint32_t>> tempos;
        for (const TempoChange& change : song.tempoMap.entries)
            tempos.emplace_back(change.tick, change.microsecondsPerQuarter);
        EXPECT_EQ(tempos, ExpectTempos(refTracks[0]));
    }
    size_t markers = 0;
    for (const RefMessage& m : refTracks[0])
        markers += m.Type() == "marker";
    EXPECT_EQ(song.cues.size(), markers);
    EXPECT_EQ(song.fileFormat, ref["format"] == 2 ? 2 : 1);

    if (ref["format"] == 0 && refTracks.size() == 1) {
        // Split by channel: track n holds channel n − 1; the conductor keeps metas and sysex.
        std::vector<std::vector<RefMessage>> channels(16);
        int highest = -1;
        for (const RefMessage& m : refTracks[0]) {
            if (IsChannelType(m.Type())) {
                channels[static_cast<size_t>(m.Channel())].push_back(m);
                highest = std::max(highest, m.Channel());
            }
        }
        ASSERT_EQ(song.tracks.size(), static_cast<size_t>(highest + 3));
        for (int channel = 0; channel <= highest; ++channel) {
            SCOPED_TRACE("channel " + std::to_string(channel + 1));
            ExpectedTrack expected = ExpectUserTrack(channels[static_cast<size_t>(channel)], channel);
            expected.notes = ThroughImage(expected.notes);
            CompareUserTrack(*song.tracks[static_cast<size_t>(channel + 1)], expected);
        }
        EXPECT_TRUE(std::none_of(song.tracks[0]->events.begin(), song.tracks[0]->events.end(),
                                 [](const SongEvent& event) { return event.IsChannelMessage(); }))
            << "channel messages left in the conductor track";
        return;
    }

    ASSERT_EQ(song.tracks.size(), refTracks.size() + 1);
    EXPECT_EQ(SongNotes(*song.tracks[0]), PairNotes(refTracks[0]));
    for (size_t number = 1; number < refTracks.size(); ++number) {
        SCOPED_TRACE("track " + std::to_string(number));
        CompareUserTrack(*song.tracks[number], ExpectUserTrack(refTracks[number], 0));
    }
}

TEST(Corpus, EveryFileReadsAsTheReferenceParseSaysOrFailsCleanly)
{
    const fs::path corpus = CorpusFolder();
    if (!fs::is_directory(corpus / "files"))
        GTEST_SKIP() << "no MIDI corpus at " << corpus << " (set CANTIVO_CORPUS)";
    test::TestContext context;
    SilentPrompter silent; // declines the recovery question, so the corpus is never changed
    SongContext songContext = context.Context();
    songContext.prompter = &silent;
    size_t files = 0;
    size_t compared = 0;
    for (const auto& entry : fs::directory_iterator(corpus / "files")) {
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        ++files;
        Song song(songContext);
        const bool read = ReadSong(song, entry.path().string());
        // A refused file leaves no half-read song; a read one ends in the empty track and has measures.
        EXPECT_EQ(song.loaded, read);
        if (!read) {
            EXPECT_TRUE(song.tracks.empty());
        } else {
            ASSERT_GE(song.tracks.size(), 2u);
            EXPECT_TRUE(song.tracks.back()->events.empty());
            ASSERT_FALSE(song.measures.empty());
            EXPECT_GE(song.measureTableEnd, song.songEnd);
        }

        // Where the reference refused the file, this reader either refuses it too or reads what is usable.
        const fs::path refPath = corpus / "ref" / (name + ".json");
        if (!fs::exists(refPath))
            continue;
        const json ref = json::parse(std::ifstream(refPath));
        if (ref.contains("error"))
            continue;
        const int rate = SmpteRate(ref["division"]);
        if (rate && rate != 24 && rate != 25 && rate != 29 && rate != 30) {
            EXPECT_FALSE(read) << "an SMPTE division with no real frame rate is damage";
            continue;
        }
        EXPECT_TRUE(read) << "the reference read this file";
        if (read) {
            CompareWithReference(song, ref);
            ++compared;
        }
    }
    EXPECT_GT(compared, files / 2);
}

} // namespace
} // namespace cantivo
