// What each kind of step does to the song. That undo and redo give back the song exactly is the
// property test's job; the undo checks here are the ones it cannot see (selection, solo, offsets).

#include "SongFixtures.h"
#include "edit/OffsetStep.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <tuple>

namespace cantivo::test {
namespace {

SongEvent Text(int32_t time, const char* text)
{
    return SongEvent::Meta(time, 1, reinterpret_cast<const uint8_t*>(text), std::strlen(text));
}

// Cue{label, kind, count, stopAt, restartAt}
std::unique_ptr<Cue> NewCue(int kind, int32_t stopAt, int32_t restartAt, const char* label = "")
{
    return std::make_unique<Cue>(Cue{label, kind, 0, stopAt, restartAt});
}

TEST(EventDelta, EventsAtOneTickGoInTypeOrderWhateverTheStepOrder)
{
    // A control change before the note-on it shapes, whatever order the paste handed them in.
    const std::vector<uint8_t> expected = {0xFF, 0xA0, 0xB0, 0xC0, 0xD0, 0xE0, 0x90};
    std::vector<SongEvent> events = {Text(240, "cue")};
    for (uint8_t status : {0xA0, 0xB0, 0xC0, 0xD0, 0xE0})
        events.push_back(SongEvent::Short(240, status, 7, 1));
    events.push_back(SongEvent::Note(240, 0, 60, 100, 10));
    Random random(7);
    for (int round = 0; round < 20; ++round) {
        std::shuffle(events.begin(), events.end(), random.Engine());
        SongFixture f;
        auto step = std::make_unique<UndoStep>(StepEvents, "Paste Events");
        for (const SongEvent& event : events)
            step->events.InsertByTime(1, event);
        ASSERT_TRUE(f.Submit(std::move(step)));
        std::vector<uint8_t> types;
        for (const SongEvent& event : f.track(1).events)
            types.push_back(event.Type() == 0xF0 ? event.Status() : event.Type());
        EXPECT_EQ(types, expected) << "round " << round;
    }
}

TEST(EventDelta, PlacementAmongEventsAlreadyThere)
{
    struct Case {
        const char* name;
        SongEvent inserted;
        size_t index; // where it lands among: CC 7 @100, note 60 @100, CC 7 @200
    };
    const Case cases[] = {
        {"a control change before the first one with the same number", SongEvent::Short(100, 0xB0, 7, 5), 0},
        {"a higher controller number after it", SongEvent::Short(100, 0xB0, 10, 5), 1},
        {"a note-on before a note-on with the same key", SongEvent::Note(100, 0, 60, 90, 5), 1},
        {"a higher key after it", SongEvent::Note(100, 0, 61, 90, 5), 2},
        {"a meta event first at its tick", Text(200, "x"), 2},
        {"at the end", SongEvent::Short(300, 0xB0, 7, 5), 3},
        {"at the start", SongEvent::Note(0, 0, 127, 90, 5), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SongFixture f;
        f.track(1).events = {SongEvent::Short(100, 0xB0, 7, 0), SongEvent::Note(100, 0, 60, 80, 10),
                             SongEvent::Short(200, 0xB0, 7, 0)};
        auto step = std::make_unique<UndoStep>(StepEvents, "Insert Event");
        step->events.InsertByTime(1, c.inserted);
        ASSERT_TRUE(f.Submit(std::move(step)));
        ASSERT_EQ(f.track(1).events.size(), 4u);
        EXPECT_EQ(f.track(1).events[c.index].kind, c.inserted.kind);
        EXPECT_EQ(f.history->StepAt(0).events.RemoveRefs(), std::vector<EventRef>{MakeEventRef(1, c.index)});
    }
}

TEST(EventDelta, InsertedEventsAreSelectedTakeTheTrackChannelAndSpanTheRange)
{
    SongFixture f(2);
    f.track(2).outputChannel = 9;
    const uint8_t sysex[] = {0xF0, 0x43, 0x10, 0xF7};
    auto step = std::make_unique<UndoStep>(StepEvents, "Paste Events");
    step->events.InsertByTime(2, SongEvent::Note(480, 3, 36, 100, 240));
    step->events.InsertByTime(2, SongEvent::Sysex(100, sysex, sizeof sysex));
    step->events.InsertByTime(2, SongEvent::Parameter(300, true, 0, 256));
    ASSERT_TRUE(f.Submit(std::move(step)));
    const auto& events = f.track(2).events;
    ASSERT_EQ(events.size(), 3u);
    for (const SongEvent& event : events)
        EXPECT_EQ(event.selectionMark, f.song.selectionGeneration);
    EXPECT_EQ(events[2].Channel(), 9);
    EXPECT_EQ(events[0].Status(), 0xF0) << "system exclusive keeps its status";
    EXPECT_EQ(events[1].Status(), StatusRpn) << "a parameter event keeps channel nibble 0";
    EXPECT_EQ(std::make_pair(f.song.selectionStart, f.song.selectionEnd), std::make_pair(100, 720));

    // Undone and redone, the events come back exactly: the channel rule is for what the edit hands in.
    f.track(2).outputChannel = 4;
    ASSERT_TRUE(f.history->Undo(f.song));
    ASSERT_TRUE(f.history->Redo(f.song));
    EXPECT_EQ(f.track(2).events[2].Channel(), 9);
}

using Tempos = std::vector<std::pair<int32_t, uint32_t>>;
Tempos TemposOf(const Song& song)
{
    Tempos tempos;
    for (const TempoChange& tempo : song.tempoMap.entries)
        tempos.emplace_back(tempo.tick, tempo.microsecondsPerQuarter);
    return tempos;
}

// The song's tempo at tick 0 survives removals, and inserted tempos extend the song.
TEST(TempoDelta, TempoAtTickZeroIsNeverLost)
{
    struct Case {
        const char* name;
        std::vector<uint32_t> removed;
        Tempos inserted;
        Tempos expected;
    };
    const Case cases[] = {
        {"entry 0 removed alone", {0}, {}, {{0, 500000}, {480, 400000}}},
        {"everything removed", {0, 1}, {}, {{0, 500000}}},
        {"entry 0 replaced at tick 0", {0}, {{0, 700000}}, {{0, 700000}, {480, 400000}}},
        {"entry 0 replaced later only", {0}, {{960, 300000}}, {{0, 500000}, {480, 400000}, {960, 300000}}},
        {"same tick goes after", {}, {{480, 350000}}, {{0, 600000}, {480, 400000}, {480, 350000}}},
        {"beyond the end", {}, {{2000, 350000}}, {{0, 600000}, {480, 400000}, {2000, 350000}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SongFixture f;
        f.song.tempoMap.entries = {TempoChange{0, 600000, 0}, TempoChange{480, 400000, 0}};
        Settle(f.song);
        auto step = std::make_unique<UndoStep>(StepTempos, "Delete Tempos");
        for (uint32_t index : c.removed)
            step->tempos.Remove(index);
        for (const auto& [tick, value] : c.inserted)
            step->tempos.InsertByTick(tick, value);
        ASSERT_TRUE(f.Submit(std::move(step)));
        EXPECT_EQ(TemposOf(f.song), c.expected);
        const TempoChange& last = f.song.tempoMap.entries.back();
        EXPECT_DOUBLE_EQ(last.absolute, f.song.TicksToMicroseconds(last.tick));
        for (const auto& [tick, value] : c.inserted) {
            EXPECT_GE(f.song.songEnd, tick) << "an inserted tempo beyond the end extends the song";
            EXPECT_GE(f.song.measures.back().start, tick);
        }
    }

    // Time inserted at the start moves every tempo but those at tick 0.
    SongFixture f;
    f.song.tempoMap.entries = {TempoChange{0, 500000, 0}, TempoChange{0, 450000, 0}, TempoChange{240, 400000, 0}};
    auto step = std::make_unique<UndoStep>(StepInsertTime, "Insert Time");
    step->length = 480;
    ASSERT_TRUE(f.Submit(std::move(step)));
    EXPECT_EQ(TemposOf(f.song), (Tempos{{0, 500000}, {0, 450000}, {720, 400000}}));
}

TEST(CueDelta, NewCueGoesBeforeCuesWithTheSameAnchor)
{
    SongFixture f;
    f.song.cues.push_back(NewCue(CueMarker, 480, 480, "old"));
    auto step = std::make_unique<UndoStep>(StepCues, "Paste Cues");
    step->cues.InsertByTime(*NewCue(CueMarker, 960, 960, "late"));
    step->cues.InsertByTime(*NewCue(CueAdLib, 100, 480, "adlib")); // anchored at its restart time
    ASSERT_TRUE(f.Submit(std::move(step)));
    std::vector<std::string> labels;
    for (const auto& cue : f.song.cues)
        labels.push_back(cue->label);
    EXPECT_EQ(labels, (std::vector<std::string>{"adlib", "old", "late"}));
    EXPECT_EQ(f.song.cues[0]->selectionMark, f.song.selectionGeneration);
}

TEST(TimeGap, InsertTimeMovesWhatFollowsAndStretchesSpanningCues)
{
    SongFixture f;
    f.song.tempoMap.entries = {TempoChange{0, 500000, 0}, TempoChange{480, 400000, 0}};
    f.track(1).events = {SongEvent::Note(100, 0, 60, 100, 600), SongEvent::Note(480, 0, 62, 100, 60),
                         SongEvent::Note(900, 0, 64, 100, 60)};
    f.song.cues.push_back(NewCue(CueVamp, 600, 200));    // spans 480: grows at its end
    f.song.cues.push_back(NewCue(CueFermata, 300, 480)); // ends at 480: not spanning
    f.song.cues.push_back(NewCue(CueMarker, 480, 480));  // starts at 480: moves
    Settle(f.song);

    auto step = std::make_unique<UndoStep>(StepInsertTime, "Insert Time");
    step->start = 480;
    step->length = 240;
    ASSERT_TRUE(f.Submit(std::move(step)));
    const auto& events = f.track(1).events;
    EXPECT_EQ(std::make_tuple(events[0].time, events[1].time, events[2].time), std::make_tuple(100, 720, 1140));
    EXPECT_EQ(events[0].length, 600) << "a note that starts before the point keeps its duration";
    EXPECT_EQ(f.song.tempoMap.entries[1].tick, 720);
    EXPECT_EQ(std::make_pair(f.song.cues[0]->stopAt, f.song.cues[0]->restartAt), std::make_pair(840, 200));
    EXPECT_EQ(std::make_pair(f.song.cues[1]->stopAt, f.song.cues[1]->restartAt), std::make_pair(300, 480));
    EXPECT_EQ(f.song.cues[2]->stopAt, 720);
    EXPECT_EQ(std::make_pair(f.song.selectionStart, f.song.selectionEnd), std::make_pair(480, 720));
    EXPECT_EQ(f.song.currentPosition, 480);
}

TEST(TimeGap, DeleteTimeClosesTheRangeAndUndoReopensIt)
{
    SongFixture f;
    f.track(1).events = {SongEvent::Note(100, 0, 60, 100, 50), SongEvent::Note(500, 0, 62, 100, 60),
                         SongEvent::Note(1000, 0, 64, 100, 60)};
    f.song.cues.push_back(NewCue(CueFermata, 200, 1200));
    f.song.currentPosition = 1500;
    Settle(f.song);

    auto step = std::make_unique<UndoStep>(StepDeleteTime | StepEvents, "Delete Time");
    step->start = 480;
    step->length = 240;
    step->events.Remove(MakeEventRef(1, 1));
    ASSERT_TRUE(f.Submit(std::move(step)));
    ASSERT_EQ(f.track(1).events.size(), 2u);
    EXPECT_EQ(f.track(1).events[1].time, 760);
    EXPECT_EQ(f.song.cues[0]->restartAt, 960);
    EXPECT_EQ(f.song.currentPosition, 480);
    EXPECT_EQ(f.song.selectionStart, -1) << "deleting selects nothing";

    ASSERT_TRUE(f.history->Undo(f.song));
    EXPECT_EQ(f.track(1).events[1].time, 500);
    EXPECT_EQ(std::make_pair(f.song.selectionStart, f.song.selectionEnd), std::make_pair(480, 720))
        << "undoing a deletion selects the reopened range";
    EXPECT_EQ(f.song.currentPosition, 480);
}

// A channel change rewrites channel messages (0x80-0xEF) only: not sysex, parameter or meta events.
TEST(TrackPropertyDelta, ChannelChangeMovesEveryChannelEventAndNothingElse)
{
    SongFixture f;
    const uint8_t sysex[] = {0xF0, 0x7E, 0xF7};
    f.track(1).events = {SongEvent::Note(0, 0, 60, 100, 10),    SongEvent::Note(0, 9, 36, 100, 10),
                         SongEvent::Short(10, 0xB3, 7, 100),    SongEvent::Sysex(20, sysex, sizeof sysex),
                         SongEvent::Parameter(30, false, 5, 7), Text(40, "t")};
    auto step = std::make_unique<UndoStep>(StepTrackProperties | StepSelectTracks, "Edit Track Properties");
    TrackSettings settings = TrackSettings::Of(f.track(1));
    settings.outputChannel = 5;
    step->trackProperties.Set(1, settings);
    ASSERT_TRUE(f.Submit(std::move(step)));
    std::vector<int> statuses;
    for (const SongEvent& event : f.track(1).events)
        statuses.push_back(event.Status());
    EXPECT_EQ(statuses, (std::vector<int>{0x95, 0x95, 0xB5, 0xF0, StatusNrpn, 0xFF}));
}

TEST(TrackPropertyDelta, InitialValueBelowMinusOneLeavesTheValueAndOnlyChangesAreUndone)
{
    SongFixture f;
    Track& track = f.track(1);
    track.initial[InitVolume] = 90;
    track.initial[InitPan] = 64;
    auto step = std::make_unique<UndoStep>(StepTrackProperties, "Change Track Property");
    TrackSettings settings = TrackSettings::Of(track);
    settings.initial.fill(-2);
    settings.initial[InitPatch] = 5;
    settings.initial[InitPan] = -1; // cleared
    settings.name = "Bass";
    step->trackProperties.Set(1, settings);
    ASSERT_TRUE(f.Submit(std::move(step)));
    const auto values = [&] {
        return std::make_tuple(track.initial[InitVolume], track.initial[InitPatch], track.initial[InitPan], track.name);
    };
    EXPECT_EQ(values(), std::make_tuple(90, 5, -1, std::string("Bass")));

    // Solo flips the play flag outside the history; undoing the property edit must not revert it.
    track.play = 0;
    track.initial[InitVolume] = 70;
    ASSERT_TRUE(f.history->Undo(f.song));
    EXPECT_EQ(track.play, 0);
    EXPECT_EQ(values(), std::make_tuple(70, -1, 64, std::string("(new track)")));
}

TEST(TrackDelta, TracksMoveByNumber)
{
    SongFixture f(3);
    for (int n = 1; n <= 3; ++n)
        f.track(n).name = "T" + std::to_string(n);
    auto step = std::make_unique<UndoStep>(StepTracks, "Drag Tracks");
    step->tracks.Remove(3);
    step->tracks.Insert(1, std::make_unique<Track>(f.track(3)));
    ASSERT_TRUE(f.Submit(std::move(step)));
    std::vector<std::string> names;
    for (const auto& track : f.song.tracks)
        names.push_back(track->name);
    EXPECT_EQ(names, (std::vector<std::string>{"(new track)", "T3", "T1", "T2", "(new track)"}));
}

TEST(ApplyOffsets, FlaggedOffsetsAreAppliedAndClearedInOneUndoableStep)
{
    SongFixture f(2);
    Track& track = f.track(1);
    track.keyOffset = 3;
    track.velocityOffset = 40;
    track.timeOffset = -100;
    track.events = {SongEvent::Short(30, 0xB0, 7, 90), SongEvent::Note(50, 0, 126, 100, 200),
                    SongEvent::Note(60, 9, 40, 10, 20), SongEvent::Short(70, 0xA0, 126, 50),
                    SongEvent::Note(480, 0, 60, 120, 10)};
    f.track(2).keyOffset = 2; // within range: not flagged, left alone
    f.track(2).events = {SongEvent::Note(0, 0, 60, 100, 10)};
    const SongState before = Settle(f.song);
    ASSERT_EQ(track.clipFlags, ClipKey | ClipVelocity | ClipTime);
    ASSERT_EQ(f.track(2).clipFlags, 0);

    ASSERT_TRUE(f.history->ApplyOffsets(f.song));
    ASSERT_EQ(f.history->StepCount(), 1u);
    EXPECT_EQ(f.history->StepAt(0).label, "Apply offsets");
    // {time, length, key, velocity, channel}: a note moved before 0 keeps what is left of it, at least a
    // tick; key 126 + 3 comes down an octave; polyphonic pressure is keyed too; copies keep their channel.
    std::vector<std::array<int, 5>> actual;
    for (const SongEvent& e : track.events)
        actual.push_back({e.time, e.length, e.Data1(), e.Data2(), e.Channel()});
    EXPECT_EQ(
        actual,
        (std::vector<std::array<int, 5>>{
            {0, 0, 7, 90, 0}, {0, 150, 117, 127, 0}, {0, 1, 43, 50, 9}, {0, 0, 117, 50, 0}, {380, 10, 63, 127, 0}}));
    EXPECT_EQ(std::make_tuple(track.keyOffset, track.velocityOffset, track.timeOffset, track.clipFlags),
              std::make_tuple(0, 0, 0, uint8_t{0}));
    EXPECT_EQ(f.track(2).keyOffset, 2);

    ASSERT_TRUE(f.history->Undo(f.song));
    EXPECT_EQ(Difference(before, Capture(f.song)), "");

    // With nothing flagged a save adds no step.
    SongFixture unflagged;
    unflagged.track(1).keyOffset = 5;
    unflagged.track(1).events = {SongEvent::Note(0, 0, 60, 100, 10)};
    Settle(unflagged.song);
    EXPECT_TRUE(unflagged.history->ApplyOffsets(unflagged.song));
    EXPECT_EQ(unflagged.history->StepCount(), 0u);
}

TEST(ApplyOffsets, KeysComeIntoRangeByWholeOctaves)
{
    const struct {
        int key, offset, expected;
    } cases[] = {{126, 3, 117}, {2, -5, 9}, {0, -25, 11}, {127, 0, 127}, {60, 80, 116}};
    for (const auto& c : cases)
        EXPECT_EQ(OffsetKey(c.key, c.offset), c.expected) << c.key << " " << c.offset;
}

} // namespace
} // namespace cantivo::test
