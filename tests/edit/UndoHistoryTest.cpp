#include "SongFixtures.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string_view>
#include <tuple>
#include <unistd.h>

namespace cantivo::test {
namespace {

namespace fs = std::filesystem;

bool SubmitClip(SongFixture& f, const std::string& file, uint32_t extraKinds = 0)
{
    auto step = std::make_unique<UndoStep>(StepEvents | extraKinds, "Insert audio clips");
    step->events.InsertByTime(static_cast<int>(f.song.tracks.size()) - 2,
                              SongEvent::Clip(0, std::make_unique<AudioClip>(file)));
    return f.Submit(std::move(step));
}

// Undo and redo stop at either end of the history and while the sequencer runs; the menu names the
// step; a new edit after an undo drops the redo tail.
TEST(UndoHistory, UndoAndRedoStopAtTheEndsAndWhilePlaying)
{
    SongFixture f;
    const SongState before = Capture(f.song);
    EXPECT_FALSE(f.history->Undo(f.song));
    EXPECT_FALSE(f.history->Redo(f.song));
    EXPECT_EQ(Difference(before, Capture(f.song)), "");
    EXPECT_EQ(f.history->UndoMenuText(), "&Undo \tCtrl+Z");
    EXPECT_EQ(f.history->RedoMenuText(), "&Redo \tCtrl+Y");
    EXPECT_TRUE(f.transport.relocations.empty());

    ASSERT_TRUE(f.SubmitNote("Draw Note"));
    ASSERT_TRUE(f.SubmitNote("Quantize", 1, 120));
    ASSERT_TRUE(f.history->Undo(f.song));
    EXPECT_EQ(f.history->UndoMenuText(), "&Undo Draw Note\tCtrl+Z");
    EXPECT_EQ(f.history->RedoMenuText(), "&Redo Quantize\tCtrl+Y");
    EXPECT_TRUE(f.history->UndoEnabled() && f.history->RedoEnabled());

    f.transport.stopped = false;
    EXPECT_FALSE(f.history->UndoEnabled() || f.history->RedoEnabled());
    EXPECT_FALSE(f.history->Undo(f.song));
    EXPECT_FALSE(f.history->Redo(f.song));
    EXPECT_EQ(f.song.tracks[1]->events.size(), 1u);
    f.transport.stopped = true;

    ASSERT_TRUE(f.history->Undo(f.song));
    EXPECT_FALSE(f.history->Undo(f.song)) << "everything is undone already";
    ASSERT_TRUE(f.history->Redo(f.song));
    ASSERT_TRUE(f.history->Redo(f.song));
    EXPECT_FALSE(f.history->Redo(f.song)) << "at the end";

    ASSERT_TRUE(f.history->Undo(f.song));
    ASSERT_TRUE(f.SubmitNote("Copy", 1, 240));
    EXPECT_EQ(f.history->StepCount(), 2u);
    EXPECT_FALSE(f.history->Redo(f.song)) << "the new edit dropped the redo tail";
    EXPECT_EQ(f.history->UndoMenuText(), "&Undo Copy\tCtrl+Z");
    EXPECT_EQ(f.song.tracks[1]->events.size(), 2u) << "Quantize stays undone";
}

// The song counts as modified whenever the applied step is not the saved one, also after an undo past
// the save.
TEST(UndoHistory, ModifiedFlagFollowsTheSavedStep)
{
    // e edit, s save, u undo, r redo. After "eesueue" the next step is likely made where the discarded
    // saved one was: it is still not the saved state.
    const std::pair<std::string_view, bool> cases[] = {
        {"", false},     {"e", true},     {"eu", false},     {"esu", true},     {"esur", false},
        {"eseu", false}, {"eesue", true}, {"eesueuu", true}, {"eesueue", true}, {"eusru", false}};
    for (const auto& [actions, modified] : cases) {
        SCOPED_TRACE(actions);
        SongFixture f;
        int32_t time = 0;
        for (char action : actions) {
            if (action == 'e') {
                ASSERT_TRUE(f.SubmitNote("Draw Note", 1, time += 10));
            } else if (action == 's') {
                f.history->MarkSaved();
                f.song.SetModifiedFlag(false);
            } else {
                ASSERT_TRUE(action == 'u' ? f.history->Undo(f.song) : f.history->Redo(f.song));
            }
        }
        EXPECT_EQ(f.history->IsModified(), modified);
        if (!actions.empty() && !actions.ends_with('s')) {
            EXPECT_EQ(f.song.IsModified(), modified);
        }
    }
}

// A refused step leaves the song and the history as they were and says why (or nothing, while playing).
TEST(UndoHistory, RefusedStepsChangeNothing)
{
    enum class Refusal { Running, TooManyTracks, MissingTrack, MidiToAudio, ClipToMidi };
    const char* const pasteMessage = "Please paste audio clips to audio tracks, and MIDI to MIDI tracks.";
    struct Case {
        const char* name;
        Refusal refusal;
        const char* message; // null: silent
    };
    const Case cases[] = {
        {"sequencer running", Refusal::Running, nullptr},
        {"3 tracks into 249", Refusal::TooManyTracks, "Sorry, you have reached the maximum of 250 tracks."},
        {"event to the trailing track", Refusal::MissingTrack, "Sorry, target track(s) do not exist."},
        {"MIDI to an audio track", Refusal::MidiToAudio, pasteMessage},
        {"clip to a MIDI track", Refusal::ClipToMidi, pasteMessage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SongFixture f(c.refusal == Refusal::TooManyTracks ? 248 : 1, true); // 248 MIDI + 1 audio = 249
        ASSERT_TRUE(f.SubmitNote("Earlier"));
        const SongState before = Capture(f.song);
        auto step = std::make_unique<UndoStep>(StepEvents, "Paste");
        const SongEvent note = SongEvent::Note(0, 0, 64, 100, 10);
        switch (c.refusal) {
        case Refusal::Running:
            f.transport.stopped = false;
            step->events.InsertByTime(1, note);
            break;
        case Refusal::TooManyTracks:
            step->kinds = StepTracks;
            for (int i = 0; i < 3; ++i)
                step->tracks.Insert(1, std::make_unique<Track>());
            break;
        case Refusal::MissingTrack:
            step->events.InsertByTime(1, note);
            step->events.InsertByTime(static_cast<int>(f.song.tracks.size()) - 1, note);
            break;
        case Refusal::MidiToAudio:
            step->events.InsertByTime(2, note);
            break;
        case Refusal::ClipToMidi:
            step->events.InsertByTime(1, SongEvent::Clip(0, std::make_unique<AudioClip>("a.wav")));
            break;
        }
        EXPECT_FALSE(f.history->SubmitStep(f.song, std::move(step)));
        EXPECT_EQ(Difference(before, Capture(f.song)), "");
        EXPECT_EQ(f.history->StepCount(), 1u);
        EXPECT_TRUE(f.history->CanUndo());
        EXPECT_EQ(f.context.prompter.messages,
                  c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{});
    }
}

TEST(UndoHistory, TrackLimitCountsRemovalsAndAllowsExactly250)
{
    SongFixture f(247, false);
    auto three = std::make_unique<UndoStep>(StepTracks, "Paste Track(s)");
    for (int i = 0; i < 3; ++i)
        three->tracks.Insert(248, std::make_unique<Track>());
    ASSERT_TRUE(f.Submit(std::move(three)));
    EXPECT_EQ(f.song.UserTrackCount(), 250);

    auto swap = std::make_unique<UndoStep>(StepTracks, "Drag Tracks");
    swap->tracks.Remove(5);
    swap->tracks.Insert(1, std::make_unique<Track>());
    EXPECT_TRUE(f.Submit(std::move(swap))) << "one out, one in stays at 250";
    EXPECT_TRUE(f.context.prompter.messages.empty());
}

TEST(UndoHistory, FinishBringsSongEndMeasuresCursorAndViewsUpToDate)
{
    struct CountingView final : SongObserver {
        void OnSongRefresh(Song&) override { ++refreshes; }
        int refreshes = 0;
    } view;
    SongFixture f;
    f.song.AddObserver(&view);
    f.song.currentPosition = 100000;
    const int32_t noteAt = 10 * 480 + 7; // in measure 11 of 4/4 at timebase 120
    ASSERT_TRUE(f.SubmitNote("Draw Note", 1, noteAt));
    EXPECT_EQ(f.song.songEnd, noteAt + 120);
    // The table runs on until a measure starts at or after the song end.
    ASSERT_EQ(f.song.measures.size(), 12u);
    EXPECT_EQ(f.song.measures.back().number, 12);
    EXPECT_EQ(f.song.currentPosition, f.song.measures.back().start) << "clamped to the last measure's start";
    EXPECT_EQ(f.transport.relocations, std::vector<int32_t>{f.song.measures.back().start});
    EXPECT_EQ(view.refreshes, 1);
    EXPECT_TRUE(f.song.IsModified());

    ASSERT_TRUE(f.history->Undo(f.song));
    EXPECT_EQ(f.song.songEnd, 0);
    EXPECT_EQ(view.refreshes, 2);
    EXPECT_EQ(f.transport.relocations.size(), 2u);
    EXPECT_FALSE(f.song.IsModified());
    f.song.RemoveObserver(&view);

    // A song whose table is empty gets measure 1 back, in 4/4.
    f.song.measures.clear();
    auto step = std::make_unique<UndoStep>(StepSongProperties, "Edit Song Properties");
    step->songProperties = SongPropertyBlock::Of(f.song);
    ASSERT_TRUE(f.Submit(std::move(step)));
    ASSERT_EQ(f.song.measures.size(), 1u);
    EXPECT_EQ(std::make_tuple(f.song.measures[0].start, f.song.measures[0].length, f.song.measures[0].numerator),
              std::make_tuple(0, 480, uint8_t{4}));
}

// Which view comes forward: a one-controller step names its controller for the controller views, in
// both directions; a tempo-only step leaves the choice to the views.
TEST(UndoHistory, FinishNamesTheViewThatComesForward)
{
    SongFixture f;
    const SongEvent volume = SongEvent::Short(0, 0xB0, 7, 100);
    const struct {
        uint32_t kinds;
        StepFocus focus;
    } cases[] = {
        {StepEvents | StepOneController, StepFocus::ControllerLane},
        {StepEvents, StepFocus::LastEditingView},
        {StepTrackProperties, StepFocus::TrackView},
        {StepTempos, StepFocus::None},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kinds);
        auto step = std::make_unique<UndoStep>(c.kinds, "Edit");
        if (c.kinds & StepEvents)
            step->events.InsertByTime(1, volume);
        if (c.kinds & StepTrackProperties)
            step->trackProperties.Set(1, TrackSettings::Of(f.track(1)));
        if (c.kinds & StepTempos)
            step->tempos.InsertByTick(480, 400000);
        ASSERT_TRUE(f.Submit(std::move(step)));
        EXPECT_EQ(f.history->LastFocus(), c.focus);
        ASSERT_TRUE(f.history->Undo(f.song));
        EXPECT_EQ(f.history->LastFocus(), c.focus);
        if (c.focus == StepFocus::ControllerLane) {
            EXPECT_EQ(f.history->LastEffects().firstEventKind, volume.kind);
        }
    }
}

// A step that falls off the redo tail takes its clip files in the undo folder with it, unless the song
// still plays the file or the step shares its files with the song.
TEST(UndoHistory, DiscardedStepDeletesOnlyTheClipFilesItAloneHolds)
{
    struct Case {
        const char* name;
        uint32_t extraKinds;
        bool inUndoFolder, songPlaysTheFile, deleted;
    };
    const Case cases[] = {
        {"clip file in the undo folder", 0, true, false, true},
        {"step keeps its clip files", StepKeepClipFiles, true, false, false},
        {"the song still plays the file", 0, true, true, false},
        {"file outside the undo folder", 0, false, false, false},
    };
    const fs::path folder = fs::temp_directory_path() / ("cantivo-test-" + std::to_string(::getpid()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path held = (c.inUndoFolder ? folder / "undoredo.wav" : folder) / "0000abcd.wav";
        fs::create_directories(held.parent_path());
        std::ofstream(held) << "RIFF";
        SongFixture f(1, true);
        if (c.songPlaysTheFile) {
            // The song keeps one clip of the file; a step that moves the clip holds the same file name.
            f.song.tracks[2]->events.push_back(SongEvent::Clip(0, std::make_unique<AudioClip>(held.string())));
            auto move = std::make_unique<UndoStep>(StepEvents, "Drag Clips and Cues");
            move->events.Remove(MakeEventRef(2, 0));
            move->events.InsertByTime(2, SongEvent::Clip(480, std::make_unique<AudioClip>(held.string())));
            ASSERT_TRUE(f.Submit(std::move(move)));
        } else {
            ASSERT_TRUE(SubmitClip(f, held.string(), c.extraKinds));
        }
        ASSERT_TRUE(f.history->Undo(f.song)); // the step now waits in the redo tail
        ASSERT_TRUE(fs::exists(held));
        ASSERT_TRUE(f.SubmitNote("Draw Note")); // which this edit discards
        EXPECT_EQ(fs::exists(held), !c.deleted);
        fs::remove_all(folder);
    }
}

TEST(UndoHistory, HeldClipsVisitedAreThoseOfStepsThatMayNotKeepFiles)
{
    SongFixture f(1, true);
    ASSERT_TRUE(SubmitClip(f, "kept.wav", StepKeepClipFiles));
    ASSERT_TRUE(f.history->Undo(f.song)); // the clip goes back into the step
    std::vector<std::string> names;
    f.history->ForEachHeldClip([&](AudioClip& clip) { names.push_back(clip.fileName); });
    EXPECT_TRUE(names.empty());
    ASSERT_TRUE(f.history->Redo(f.song));
    auto removal = std::make_unique<UndoStep>(StepEvents, "Delete Events");
    removal->events.Remove(MakeEventRef(2, 0));
    ASSERT_TRUE(f.Submit(std::move(removal)));
    f.history->ForEachHeldClip([&](AudioClip& clip) { names.push_back(clip.fileName); });
    EXPECT_EQ(names, std::vector<std::string>{"kept.wav"}) << "held by the delete step, which may not keep files";
}

class ForeignHistory final : public SongHistory {
  public:
    bool ApplyOffsets(Song&) override { return true; }
    void ForEachHeldClip(const std::function<void(AudioClip&)>&) override {}
    void MarkSaved() override {}
    bool IsModified() const override { return false; }
};

TEST(UndoHistory, SongWithoutHistoryGetsOneOnFirstSubmission)
{
    TestContext context;
    Song song(context.Context());
    song.NewSongDefaults();
    song.tracks.insert(song.tracks.end() - 1, std::make_unique<Track>());
    auto step = std::make_unique<UndoStep>(StepEvents, "Insert Event");
    step->events.InsertByTime(1, SongEvent::Short(0, 0xC0, 5));
    ASSERT_TRUE(SubmitStep(song, std::move(step)));
    ASSERT_NE(UndoHistory::Of(song), nullptr);
    EXPECT_EQ(&HistoryOf(song), UndoHistory::Of(song));
    EXPECT_EQ(UndoHistory::Of(song)->StepCount(), 1u);

    song.history = std::make_unique<ForeignHistory>();
    EXPECT_EQ(UndoHistory::Of(song), nullptr);
    EXPECT_THROW(HistoryOf(song), std::logic_error);
}

} // namespace
} // namespace cantivo::test
