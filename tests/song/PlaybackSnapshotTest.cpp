#include "song/PlaybackSnapshot.h"
#include "song/Track.h"
#include "song/TrackEncoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

namespace cantivo {
namespace {

// What a locate to `blockStart` must find: the state a walk of the image from its start reaches just
// before the first item at or after the block start. This is what the chase relies on.
struct WalkedState {
    uint32_t position = 0; // of that item, past its delta; the image size when none is left
    int32_t time = 0x7FFFFFFF;
    uint8_t runningStatus = 0;
    std::vector<std::pair<uint32_t, int32_t>> messages; // last per kind, in first-met order, with its time
    std::vector<uint32_t> notes;                        // sounding, tagged, in strike order
};

WalkedState WalkTo(const std::vector<uint8_t>& image, int32_t blockStart, uint32_t tag)
{
    WalkedState state;
    std::map<uint32_t, size_t> kindIndex;
    struct Sounding {
        int count = 0;
        uint32_t order = 0;
        uint32_t message = 0;
    };
    std::map<uint32_t, Sounding> sounding; // by channel and key
    uint32_t order = 0;
    size_t at = 0;
    int32_t time = 0;
    uint8_t running = 0;
    const auto next = [&] { return at < image.size() ? image[at++] : uint8_t{0}; };
    const auto varLen = [&] {
        uint32_t value = 0;
        for (uint8_t byte = 0x80; byte & 0x80; value = value << 7 | (byte & 0x7F))
            byte = next();
        return value;
    };
    while (at < image.size()) {
        time += static_cast<int32_t>(varLen());
        const auto position = static_cast<uint32_t>(at);
        uint8_t status = image[at] & 0x80 ? next() : running;
        if (status == 0xFF && image[at] == 0x2F)
            break;
        if (time >= blockStart) {
            state.position = position;
            state.time = time;
            state.runningStatus = running;
            break;
        }
        if (status == 0xFF) {
            next();
            for (uint32_t length = varLen(); length > 0; --length)
                next();
            running = 0;
            continue;
        }
        if (status == 0xF0) {
            while (next() != 0xF7 && at < image.size()) {
            }
            running = 0;
            continue;
        }
        running = status;
        const uint8_t data1 = next();
        const uint8_t data2 = (status & 0xE0) == 0xC0 ? 0 : next();
        const uint32_t message = status | uint32_t{data1} << 8 | uint32_t{data2} << 16;
        const uint32_t kind = (status & 0xF0) == 0xB0 ? (status | uint32_t{data1} << 8) : status;
        if ((status & 0xF0) == 0x90) {
            Sounding& note = sounding[(status & 0x0F) << 7 | data1];
            if (data2 > 0)
                note = {note.count + 1, order++, message};
            else if (note.count > 0)
                --note.count;
        } else if ((status & 0xF0) >= 0xB0) {
            const auto [found, added] = kindIndex.try_emplace(kind, state.messages.size());
            if (added)
                state.messages.emplace_back();
            state.messages[found->second] = {message, time};
        }
    }
    if (state.time == 0x7FFFFFFF)
        state.position = static_cast<uint32_t>(image.size());
    std::vector<std::pair<uint32_t, uint32_t>> struck;
    for (const auto& [slot, note] : sounding)
        if (note.count > 0)
            struck.emplace_back(note.order, note.message | tag << NoteTagShift);
    std::sort(struck.begin(), struck.end());
    for (const auto& [strikeOrder, message] : struck)
        state.notes.push_back(message);
    return state;
}

// Every tick from 0 to well past the end finds the block of its block start, complete, and holding
// exactly what the walk yields there.
void ExpectSnapshotsMatchTheWalk(const Track& track, uint32_t tag)
{
    const TrackSnapshots& snapshots = track.snapshots;
    ASSERT_GT(snapshots.interval, 0);
    EXPECT_EQ(snapshots.reach, 0x7FFFFFFF);
    for (int32_t tick = -1; tick <= track.end + 3 * snapshots.interval; tick += snapshots.interval / 2) {
        SCOPED_TRACE(tick);
        const SnapshotBlock* block = snapshots.BlockAt(tick);
        ASSERT_NE(block, nullptr);
        const int32_t blockStart = std::max(tick, 0) / snapshots.interval * snapshots.interval;
        const WalkedState walked = WalkTo(track.image, blockStart, tag);
        EXPECT_EQ(block->imagePosition, walked.position);
        EXPECT_EQ(block->itemTime, walked.time);
        EXPECT_EQ(block->runningStatus, walked.runningStatus);
        std::vector<std::pair<uint32_t, int32_t>> messages;
        for (const SnapshotMessage& message : snapshots.Messages(*block))
            messages.emplace_back(message.message, message.time);
        EXPECT_EQ(messages, walked.messages);
        const auto notes = snapshots.Notes(*block);
        EXPECT_EQ(std::vector<uint32_t>(notes.begin(), notes.end()), walked.notes);
    }
}

SongEvent Program(int32_t time, uint8_t program, int32_t bank)
{
    SongEvent event = SongEvent::Short(time, 0xC0, program);
    event.length = bank;
    return event;
}

const uint8_t SysexBytes[] = {0xF0, 0x43, 0x10, 0xF7};
const uint8_t MarkerText[] = {'A'};

Track Of(std::vector<SongEvent> events)
{
    Track track;
    track.events = std::move(events);
    return track;
}

TEST(PlaybackSnapshots, EveryBlockHoldsWhatAWalkFromTheStartYields)
{
    const struct {
        const char* what;
        std::vector<SongEvent> events;
        void (*set)(Track&);
    } cases[] = {
        {"empty blocks point at the next item",
         {SongEvent::Short(0, 0xB0, 7, 100), SongEvent::Short(0, 0xB0, 10, 12), SongEvent::Short(2000, 0xB0, 7, 90),
          SongEvent::Short(2001, 0xB0, 7, 80)},
         [](Track&) {}},
        {"last message of each kind, stacked keys, notes across block starts",
         {SongEvent::Short(10, 0xB0, 7, 100), SongEvent::Short(20, 0xB1, 7, 50), SongEvent::Short(30, 0xE0, 0, 0x40),
          SongEvent::Short(40, 0xB0, 7, 110), SongEvent::Note(900, 0, 60, 100, 200),
          SongEvent::Note(905, 0, 60, 77, 100), SongEvent::Note(910, 0, 64, 90, 20),
          SongEvent::Note(950, 9, 36, 80, 3000), SongEvent::Short(1000, 0xD0, 5)},
         [](Track& t) { t.initial[InitPatch] = 0x1234; }},
        {"initial block and shifted times",
         {SongEvent::Short(900, 0xB0, 1, 3), SongEvent::Note(1900, 0, 60, 100, 100)},
         [](Track& t) {
             t.timeOffset = 100, t.initial[InitPatch] = 8, t.initial[InitVolume] = 90, t.reSendTimes = {0, 1500};
         }},
        {"key and velocity offsets",
         {SongEvent::Note(500, 0, 126, 120, 1000)},
         [](Track& t) { t.keyOffset = 3, t.velocityOffset = 20; }},
        {"program changes with banks, sysex and meta cancel running status",
         {Program(100, 5, 300), SongEvent::Short(970, 0xB0, 1, 1),
          SongEvent::Sysex(1900, SysexBytes, sizeof SysexBytes), SongEvent::Short(1910, 0xB0, 1, 2),
          SongEvent::Meta(2800, 0x06, MarkerText, 1), SongEvent::Short(2900, 0xB0, 1, 3)},
         [](Track& t) { t.initialParameters[ParamBendRange] = 256, t.reSendTimes = {960}; }},
        {"nothing but the settings", {}, [](Track&) {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Track track = Of(c.events);
        c.set(track);
        EncodeTrack(track, 960);
        ExpectSnapshotsMatchTheWalk(track, PatchTag(track.initial[InitPatch]));
    }
}

// The ports tag held notes with the patch setting's low byte; the snapshot's notes must carry the same
// tag, or a chord held across a relocation would be struck again.
TEST(PlaybackSnapshots, SoundingNotesCarryThePatchTag)
{
    for (const auto& [patch, tag] : {std::pair{-1, 0xFFu}, {0, 0u}, {0x17F, 0x7Fu}}) {
        Track track = Of({SongEvent::Note(900, 0, 60, 100, 200), SongEvent::Note(950, 9, 36, 80, 100)});
        track.initial[InitPatch] = patch;
        EncodeTrack(track, 960);
        const SnapshotBlock* block = track.snapshots.BlockAt(1000);
        ASSERT_NE(block, nullptr);
        const auto notes = track.snapshots.Notes(*block);
        EXPECT_EQ(std::vector<uint32_t>(notes.begin(), notes.end()),
                  (std::vector<uint32_t>{tag << 24 | 0x90u | 60u << 8 | 100u << 16,
                                         tag << 24 | 0x99u | 36u << 8 | 80u << 16}));
    }
}

// A file can fill every controller of every channel and then change one every block: the snapshots stop at
// the size limit, record how far they reach, and a locate past that finds none. A state that stays the same
// is stored once, however many blocks it spans.
TEST(PlaybackSnapshots, SizeLimitsCutTheSnapshotsAndTheReachSaysWhere)
{
    const struct {
        const char* what;
        int changes;      // blocks after block 0 that each change one controller
        int32_t lastTick; // one more event there
        size_t limit;
        bool complete;
    } cases[] = {
        {"a changing state passes the entry limit", 300, 0, 2048 * 100, false},
        {"an unchanged state is shared", 0, 960 * 5000, 2048 * 2, true},
        {"too many blocks", 0, 960 * 70000, MaxTrackSnapshotEntries, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Track track;
        for (int channel = 0; channel < 16; ++channel)
            for (int controller = 0; controller < 128; ++controller)
                track.events.push_back(
                    SongEvent::Short(0, static_cast<uint8_t>(0xB0 | channel), static_cast<uint8_t>(controller), 1));
        for (int block = 1; block <= c.changes; ++block)
            track.events.push_back(SongEvent::Short(960 * block, 0xB0, 7, static_cast<uint8_t>(block & 0x7F)));
        if (c.lastTick > 0)
            track.events.push_back(SongEvent::Short(c.lastTick, 0xB0, 7, 2));
        EncodeTrack(track, 960, InitialMarking::Marked, c.limit);
        const TrackSnapshots& snapshots = track.snapshots;
        EXPECT_LE(snapshots.Entries(), c.limit);
        if (c.complete) {
            EXPECT_EQ(snapshots.reach, 0x7FFFFFFF);
            EXPECT_NE(snapshots.BlockAt(track.end + 1), nullptr);
            continue;
        }
        ASSERT_GT(snapshots.reach, 0);
        EXPECT_LT(snapshots.reach, track.end); // the image itself is whole
        EXPECT_EQ(snapshots.BlockAt(snapshots.reach), nullptr);
        const SnapshotBlock* last = snapshots.BlockAt(snapshots.reach - 1);
        ASSERT_NE(last, nullptr);
        const WalkedState walked = WalkTo(track.image, snapshots.reach - 1 - (snapshots.reach - 1) % 960, 0xFF);
        EXPECT_EQ(last->imagePosition, walked.position);
        EXPECT_EQ(snapshots.Messages(*last).size(), walked.messages.size());
    }
}

// Re-encoding replaces every snapshot of the old image and keeps the storage; no interval means none.
TEST(PlaybackSnapshots, ReEncodingReplacesThemInPlace)
{
    Track track = Of({SongEvent::Note(0, 0, 60, 100, 5000), SongEvent::Short(9000, 0xB0, 7, 1)});
    EncodeTrack(track, 960);
    const SnapshotBlock* blocks = track.snapshots.blocks.data();
    const uint32_t* notes = track.snapshots.notes.data();
    track.events.pop_back();
    EncodeTrack(track, 960);
    EXPECT_EQ(track.snapshots.blocks.data(), blocks);
    EXPECT_EQ(track.snapshots.notes.data(), notes);
    ExpectSnapshotsMatchTheWalk(track, 0xFF);
    EncodeTrack(track, -1);
    EXPECT_EQ(track.snapshots.BlockAt(0), nullptr);
    EXPECT_EQ(track.snapshots.Entries(), 0u);
}

} // namespace
} // namespace cantivo
