// Reads every file of the MIDI corpus and compares what the reader makes of it with an independent
// parse: the framing (format, timebase, tracks), every note and the tempo in force at each tempo event.
// How the reader folds settings into its tracks is tested on built files in MidiFileReaderTest.
#include "song/MidiFileReader.h"

#include "song/Song.h"
#include "support/TestContext.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
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

using NoteTuple = std::tuple<int, int, int32_t, int32_t>; // channel, key, start, duration

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

std::vector<NoteTuple> SongNotes(const Track& track)
{
    std::vector<NoteTuple> notes;
    for (const SongEvent& event : track.events)
        if (event.IsNote())
            notes.emplace_back(event.Channel(), event.Data1(), event.time, event.length);
    std::sort(notes.begin(), notes.end());
    return notes;
}

bool IsOtherChannelType(const std::string& type)
{
    return type == "pitchwheel" || type == "aftertouch" || type == "polytouch";
}

// Notes as the reference pairs them, and the count of aftertouch, channel pressure and pitch-wheel
// messages, which the reader keeps as they are.
void CompareUserTrack(const Track& track, const std::vector<RefMessage>& messages, bool throughImage)
{
    const std::vector<NoteTuple> notes = PairNotes(messages);
    EXPECT_EQ(SongNotes(track), throughImage ? ThroughImage(notes) : notes);
    const auto expectedOther = std::count_if(messages.begin(), messages.end(),
                                             [](const RefMessage& m) { return IsOtherChannelType(m.Type()); });
    const auto other = std::count_if(track.events.begin(), track.events.end(), [](const SongEvent& event) {
        return event.Type() == 0xA0 || event.Type() == 0xD0 || event.Type() == 0xE0;
    });
    EXPECT_EQ(other, expectedOther);
}

// The tempo in force at each tick where the reference has a tempo event is the last event's there (a
// tempo of 0 means nothing and is passed over), and the song changes tempo nowhere else.
void CompareTempos(const Song& song, const std::vector<RefMessage>& conductor)
{
    std::map<int32_t, uint32_t> lastAtTick;
    for (const RefMessage& m : conductor)
        if (m.Type() == "set_tempo" && (*m.message)["tempo"].get<uint32_t>() != 0)
            lastAtTick[m.time] = (*m.message)["tempo"].get<uint32_t>();
    const auto& entries = song.tempoMap.entries;
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries[0].tick, 0);
    for (const auto& [tick, tempo] : lastAtTick) {
        const auto inForce = std::prev(std::upper_bound(entries.begin(), entries.end(), tick,
                                                        [](int32_t t, const TempoChange& c) { return t < c.tick; }));
        EXPECT_EQ(inForce->microsecondsPerQuarter, tempo) << "at tick " << tick;
    }
    for (const TempoChange& change : entries)
        EXPECT_TRUE(change.tick == 0 || lastAtTick.count(change.tick)) << "a tempo change at " << change.tick;
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
        CompareTempos(song, refTracks[0]);
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
            CompareUserTrack(*song.tracks[static_cast<size_t>(channel + 1)], channels[static_cast<size_t>(channel)],
                             true);
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
        CompareUserTrack(*song.tracks[number], refTracks[number], false);
    }
}

TEST(Corpus, EveryFileReadsAsTheReferenceParseSaysOrFailsCleanly)
{
    const fs::path corpus = CorpusFolder();
    if (!fs::is_directory(corpus / "files"))
        GTEST_SKIP() << "no MIDI corpus at " << corpus << " (set CANTIVO_CORPUS)";
    // Reading asks nothing, so the corpus is never changed.
    test::TestContext context;
    const SongContext songContext = context.Context();
    size_t files = 0;
    size_t compared = 0;
    for (const auto& entry : fs::directory_iterator(corpus / "files")) {
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        ++files;
        Song song(songContext);
        const bool read = ReadSong(song, entry.path().string()).ok;
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
