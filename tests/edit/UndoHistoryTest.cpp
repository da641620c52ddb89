#include "SongFixtures.h"
#include "support/TestContext.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace cantivo::test {
namespace {

// A song with `userTracks` MIDI tracks (and optionally one audio track after them), every track empty.
struct Fixture {
    explicit Fixture(int userTracks = 2, bool audioTrack = false) : song(context.Context())
    {
        song.NewSongDefaults();
        for (int i = 0; i < userTracks; ++i)
            song.tracks.insert(song.tracks.end() - 1, std::make_unique<Track>());
        if (audioTrack) {
            auto track = std::make_unique<Track>();
            track->kind = 1;
            song.tracks.insert(song.tracks.end() - 1, std::move(track));
        }
        song.UpdateSongEnd(AllTracks);
        history = &UndoHistory::Install(song, &transport);
    }

    std::unique_ptr<UndoStep> NoteStep(const std::string& label, int track = 1, int32_t time = 0)
    {
        auto step = std::make_unique<UndoStep>(StepEvents, label);
        step->events.InsertByTime(track, SongEvent::Note(time, 0, 60, 100, 120));
        return step;
    }

    TestContext context;
    FakeTransport transport;
    Song song;
    UndoHistory* history = nullptr;
};

class CountingView final : public SongObserver {
  public:
    void OnSongRefresh(Song&) override { ++refreshes; }
    int refreshes = 0;
};

TEST(UndoHistory, EmptyHistoryUndoAndRedoChangeNothing)
{
    Fixture f;
    const SongState before = Capture(f.song);
    EXPECT_FALSE(f.history->Undo(f.song));
    EXPECT_FALSE(f.history->Redo(f.song));
    EXPECT_EQ(Difference(before, Capture(f.song)), "");
    EXPECT_EQ(f.history->UndoMenuText(), "&Undo \tCtrl+Z");
    EXPECT_EQ(f.history->RedoMenuText(), "&Redo \tCtrl+Y");
    EXPECT_FALSE(f.history->UndoEnabled());
    EXPECT_FALSE(f.history->RedoEnabled());
    EXPECT_TRUE(f.transport.relocations.empty());

    ASSERT_TRUE(f.history->SubmitStep(f.song, f.NoteStep("Draw Note")));
    ASSERT_TRUE(f.history->Undo(f.song));
    EXPECT_FALSE(f.history->Undo(f.song)) << "everything is undone already";
    ASSERT_TRUE(f.history->Redo(f.song));
    EXPECT_FALSE(f.history->Redo(f.song)) << "at the end";
    EXPECT_EQ(f.song.tracks[1]->events.size(), 1u);
}

TEST(UndoHistory, MenuTextsNameTheStepsAndFollowThePosition)
{
    Fixture f;
    ASSERT_TRUE(f.history->SubmitStep(f.song, f.NoteStep("Draw Note")));
    ASSERT_TRUE(f.history->SubmitStep(f.song, f.NoteStep("Quantize")));
    EXPECT_EQ(f.history->UndoMenuText(), "&Undo Quantize\tCtrl+Z");
    EXPECT_EQ(f.history->RedoMenuText(), "&Redo \tCtrl+Y");
    f.history->Undo(f.song);
    EXPECT_EQ(f.history->UndoMenuText(), "&Undo Draw Note\tCtrl+Z");
    EXPECT_EQ(f.history->RedoMenuText(), "&Redo Quantize\tCtrl+Y");
    EXPECT_TRUE(f.history->UndoEnabled());
    EXPECT_TRUE(f.history->RedoEnabled());
    f.transport.stopped = false;
    EXPECT_FALSE(f.history->UndoEnabled());
    EXPECT_FALSE(f.history->RedoEnabled());
}

TEST(UndoHistory, NewEditAfterUndoDropsTheRedoTail)
{
    Fixture f;
    ASSERT_TRUE(f.history->SubmitStep(f.song, f.NoteStep("A", 1, 0)));
    ASSERT_TRUE(f.history->SubmitStep(f.song, f.NoteStep("B", 1, 120)));
    ASSERT_TRUE(f.history->Undo(f.song));
    ASSERT_TRUE(f.history->SubmitStep(f.song, f.NoteStep("C", 2, 240)));
    EXPECT_EQ(f.history->StepCount(), 2u);
    EXPECT_FALSE(f.history->CanRedo());
    EXPECT_FALSE(f.history->Redo(f.song));
    EXPECT_EQ(f.history->UndoMenuText(), "&Undo C\tCtrl+Z");
    EXPECT_EQ(f.song.tracks[1]->events.size(), 1u) << "B stays undone";
    EXPECT_EQ(f.song.tracks[2]->events.size(), 1u);
}

TEST(UndoHistory, ModifiedFlagFollowsTheSavedStep)
{
    struct Case {
        const char* name;
        std::vector<char> actions; // e edit, s save, u undo, r redo
        bool modified;
    };
    const Case cases[] = {
        {"fresh", {}, false},
        {"edited", {'e'}, true},
        {"edited then undone", {'e', 'u'}, false},
        {"saved", {'e', 's'}, false},
        {"saved then undone", {'e', 's', 'u'}, true},
        {"saved, undone, redone", {'e', 's', 'u', 'r'}, false},
        {"saved, edited, undone", {'e', 's', 'e', 'u'}, false},
        {"undone past the save, new edit", {'e', 'e', 's', 'u', 'e'}, true},
        {"undone past the save, new edit, undone", {'e', 'e', 's', 'u', 'e', 'u'}, true},
        {"undone past the save, new edit, undone twice", {'e', 'e', 's', 'u', 'e', 'u', 'u'}, true},
        {"saved with nothing applied, edit undone", {'e', 'u', 's', 'r', 'u'}, false},
    };
    for (const Case& c : cases) {
        Fixture f;
        int32_t time = 0;
        for (char action : c.actions) {
            switch (action) {
            case 'e':
                ASSERT_TRUE(f.history->SubmitStep(f.song, f.NoteStep("Draw Note", 1, time += 10)));
                break;
            case 's':
                f.history->MarkSaved();
                f.song.SetModifiedFlag(false);
                break;
            case 'u':
                ASSERT_TRUE(f.history->Undo(f.song)) << c.name;
                break;
            case 'r':
                ASSERT_TRUE(f.history->Redo(f.song)) << c.name;
                break;
            }
        }
        EXPECT_EQ(f.history->IsModified(), c.modified) << c.name;
        if (!c.actions.empty() && c.actions.back() != 's') {
            EXPECT_EQ(f.song.IsModified(), c.modified) << c.name;
        }
    }
}

TEST(UndoHistory, RefusedStepsChangeNothing)
{
    enum class Refusal { Running, TooManyTracks, MissingTrack, MidiToAudio, ClipToMidi };
    struct Case {
        const char* name;
        Refusal refusal;
        const char* message; // null: silent
    };
    const Case cases[] = {
        {"sequencer running", Refusal::Running, nullptr},
        {"3 tracks into 249", Refusal::TooManyTracks, "Sorry, you have reached the maximum of 250 tracks."},
        {"event to the trailing track", Refusal::MissingTrack, "Sorry, target track(s) do not exist."},
        {"MIDI to an audio track", Refusal::MidiToAudio,
         "Please paste audio clips to audio tracks, and MIDI to MIDI tracks."},
        {"clip to a MIDI track", Refusal::ClipToMidi,
         "Please paste audio clips to audio tracks, and MIDI to MIDI tracks."},
    };
    for (const Case& c : cases) {
        Fixture f(c.refusal == Refusal::TooManyTracks ? 248 : 1, true); // 248 MIDI + 1 audio = 249
        ASSERT_TRUE(f.history->SubmitStep(f.song, f.NoteStep("Earlier")));
        const SongState before = Capture(f.song);
        auto step = std::make_unique<UndoStep>(StepEvents, "Paste");
        switch (c.refusal) {
        case Refusal::Running:
            f.transport.stopped = false;
            step->events.InsertByTime(1, SongEvent::Note(0, 0, 64, 100, 10));
            break;
        case Refusal::TooManyTracks:
            step->kinds = StepTracks;
            for (int i = 0; i < 3; ++i)
                step->tracks.Insert(1, std::make_unique<Track>());
            break;
        case Refusal::MissingTrack:
            step->events.InsertByTime(1, SongEvent::Note(0, 0, 64, 100, 10));
            step->events.InsertByTime(static_cast<int>(f.song.tracks.size()) - 1, SongEvent::Note(0, 0, 64, 100, 10));
            break;
        case Refusal::MidiToAudio:
            step->events.InsertByTime(2, SongEvent::Note(0, 0, 64, 100, 10));
            break;
        case Refusal::ClipToMidi:
            step->events.InsertByTime(1, SongEvent::Clip(0, std::make_unique<AudioClip>("a.wav")));
            break;
        }
        EXPECT_FALSE(f.history->SubmitStep(f.song, std::move(step))) << c.name;
        EXPECT_EQ(Difference(before, Capture(f.song)), "") << c.name;
        EXPECT_EQ(f.history->StepCount(), 1u) << c.name;
        EXPECT_TRUE(f.history->CanUndo()) << c.name;
        if (c.message)
            EXPECT_EQ(f.context.prompter.messages, std::vector<std::string>{c.message}) << c.name;
        else
            EXPECT_TRUE(f.context.prompter.messages.empty()) << c.name;
    }
}

TEST(UndoHistory, TrackLimitCountsRemovalsAndAllowsExactly250)
{
    Fixture f(247, false);
    auto three = std::make_unique<UndoStep>(StepTracks, "Paste Track(s)");
    for (int i = 0; i < 3; ++i)
        three->tracks.Insert(248, std::make_unique<Track>());
    ASSERT_TRUE(f.history->SubmitStep(f.song, std::move(three)));
    EXPECT_EQ(f.song.UserTrackCount(), 250);

    auto swap = std::make_unique<UndoStep>(StepTracks, "Drag Tracks");
    swap->tracks.Remove(5);
    swap->tracks.Insert(1, std::make_unique<Track>());
    EXPECT_TRUE(f.history->SubmitStep(f.song, std::move(swap))) << "one out, one in stays at 250";
    EXPECT_TRUE(f.context.prompter.messages.empty());
}

TEST(UndoHistory, UndoAndRedoWaitForTheSequencerToStop)
{
    Fixture f;
    ASSERT_TRUE(f.history->SubmitStep(f.song, f.NoteStep("Draw Note")));
    f.transport.stopped = false;
    EXPECT_FALSE(f.history->Undo(f.song));
    EXPECT_EQ(f.song.tracks[1]->events.size(), 1u);
    f.transport.stopped = true;
    ASSERT_TRUE(f.history->Undo(f.song));
    f.transport.stopped = false;
    EXPECT_FALSE(f.history->Redo(f.song));
    EXPECT_TRUE(f.song.tracks[1]->events.empty());
}

TEST(UndoHistory, FinishBringsSongEndMeasuresCursorAndViewsUpToDate)
{
    Fixture f;
    CountingView view;
    f.song.AddObserver(&view);
    f.song.currentPosition = 100000;
    const int32_t noteAt = 10 * 480 + 7; // in measure 11 of 4/4 at timebase 120
    ASSERT_TRUE(f.history->SubmitStep(f.song, f.NoteStep("Draw Note", 1, noteAt)));
    EXPECT_EQ(f.song.songEnd, noteAt + 120);
    ASSERT_FALSE(f.song.measures.empty());
    // The table runs on until a measure starts at or after the song end.
    EXPECT_EQ(f.song.measures.size(), 12u);
    EXPECT_EQ(f.song.measures.back().number, 12);
    EXPECT_EQ(f.song.currentPosition, f.song.measures.back().start) << "clamped to the last measure's start";
    EXPECT_EQ(f.transport.relocations, std::vector<int32_t>{f.song.measures.back().start});
    EXPECT_EQ(view.refreshes, 1);
    EXPECT_TRUE(f.song.IsModified());
    EXPECT_EQ(f.history->LastFocus(), StepFocus::LastEditingView);

    ASSERT_TRUE(f.history->Undo(f.song));
    EXPECT_EQ(f.song.songEnd, 0);
    EXPECT_EQ(view.refreshes, 2);
    EXPECT_EQ(f.transport.relocations.size(), 2u);
    EXPECT_FALSE(f.song.IsModified());
    f.song.RemoveObserver(&view);
}

TEST(UndoHistory, RedoCreatesMeasureOneWhenTheTableIsEmpty)
{
    Fixture f;
    f.song.measures.clear();
    auto step = std::make_unique<UndoStep>(StepSongProperties, "Edit Song Properties");
    step->songProperties = SongPropertyBlock::Of(f.song);
    step->songProperties.title = "New";
    ASSERT_TRUE(f.history->SubmitStep(f.song, std::move(step)));
    ASSERT_EQ(f.song.measures.size(), 1u);
    EXPECT_EQ(f.song.measures[0].start, 0);
    EXPECT_EQ(f.song.measures[0].numerator, 4);
    EXPECT_EQ(f.song.measures[0].denominator, 4);
    EXPECT_EQ(f.song.measures[0].clocksPerClick, 24);
    EXPECT_EQ(f.song.measures[0].thirtySecondsPerQuarter, 8);
    EXPECT_EQ(f.song.title, "New");
}

TEST(UndoHistory, FocusFollowsWhatTheStepCarries)
{
    struct Case {
        uint32_t kinds;
        StepFocus focus;
    };
    const Case cases[] = {
        {StepTempos, StepFocus::None},
        {StepTracks, StepFocus::TrackView},
        {StepTrackProperties, StepFocus::TrackView},
        {StepEvents | StepTempos, StepFocus::LastEditingView},
        {StepCues, StepFocus::LastEditingView},
    };
    for (const Case& c : cases) {
        Fixture f;
        ASSERT_TRUE(f.history->SubmitStep(f.song, std::make_unique<UndoStep>(c.kinds, "Step")));
        EXPECT_EQ(f.history->LastFocus(), c.focus) << std::hex << c.kinds;
    }
}

TEST(UndoHistory, OneControllerStepNamesTheFirstEventsController)
{
    Fixture f;
    auto step = std::make_unique<UndoStep>(StepEvents | StepOneController, "Draw Controllers");
    step->events.InsertByTime(1, SongEvent::Short(240, 0xB0, 11, 90));
    step->events.InsertByTime(1, SongEvent::Short(120, 0xB0, 11, 60));
    ASSERT_TRUE(f.history->SubmitStep(f.song, std::move(step)));
    const uint32_t kind = f.history->LastEffects().firstEventKind;
    EXPECT_EQ(kind & 0xF0, 0xB0u);
    EXPECT_EQ((kind >> 8) & 0xFF, 11u);
}

class ClipFiles : public ::testing::Test {
  protected:
    void SetUp() override
    {
        folder = std::filesystem::temp_directory_path() /
                 ("cantivo-test-undoredo.wav-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                  "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder);
        held = (folder / "0000abcd.wav").string();
        std::ofstream(held) << "RIFF";
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    // Inserts a clip of `held` into the audio track, undoes it (the clip now waits in the redo tail),
    // then makes a new edit, which discards that tail.
    void DiscardRedoStepHoldingTheClip(uint32_t extraKinds)
    {
        Fixture f(1, true);
        auto step = std::make_unique<UndoStep>(StepEvents | extraKinds, "Insert audio clips");
        step->events.InsertByTime(2, SongEvent::Clip(0, std::make_unique<AudioClip>(held)));
        ASSERT_TRUE(f.history->SubmitStep(f.song, std::move(step)));
        ASSERT_TRUE(f.history->Undo(f.song));
        ASSERT_TRUE(std::filesystem::exists(held));
        ASSERT_TRUE(f.history->SubmitStep(f.song, f.NoteStep("Draw Note")));
    }

    std::filesystem::path folder;
    std::string held;
};

TEST_F(ClipFiles, DiscardedStepDeletesItsFileInTheWorkingFolder)
{
    DiscardRedoStepHoldingTheClip(0);
    EXPECT_FALSE(std::filesystem::exists(held));
}

TEST_F(ClipFiles, KeepClipFilesLeavesTheFile)
{
    DiscardRedoStepHoldingTheClip(StepKeepClipFiles);
    EXPECT_TRUE(std::filesystem::exists(held));
}

TEST_F(ClipFiles, FileTheSongStillPlaysIsNotDeleted)
{
    Fixture f(1, true);
    // The song keeps one clip of the file; a step that moves the clip holds the same file name.
    f.song.tracks[2]->events.push_back(SongEvent::Clip(0, std::make_unique<AudioClip>(held)));
    auto move = std::make_unique<UndoStep>(StepEvents, "Drag Clips and Cues");
    move->events.Remove(MakeEventRef(2, 0));
    move->events.InsertByTime(2, SongEvent::Clip(480, std::make_unique<AudioClip>(held)));
    ASSERT_TRUE(f.history->SubmitStep(f.song, std::move(move)));
    ASSERT_TRUE(f.history->Undo(f.song));
    ASSERT_TRUE(f.history->SubmitStep(f.song, f.NoteStep("Draw Note")));
    EXPECT_TRUE(std::filesystem::exists(held));
}

TEST_F(ClipFiles, FileOutsideTheWorkingFolderIsNeverDeleted)
{
    const std::string outside = (std::filesystem::temp_directory_path() / "cantivo-test-clip-outside.wav").string();
    std::ofstream(outside) << "RIFF";
    Fixture f(1, true);
    auto step = std::make_unique<UndoStep>(StepEvents, "Insert audio clips");
    step->events.InsertByTime(2, SongEvent::Clip(0, std::make_unique<AudioClip>(outside)));
    ASSERT_TRUE(f.history->SubmitStep(f.song, std::move(step)));
    ASSERT_TRUE(f.history->Undo(f.song));
    ASSERT_TRUE(f.history->SubmitStep(f.song, f.NoteStep("Draw Note")));
    EXPECT_TRUE(std::filesystem::exists(outside));
    std::filesystem::remove(outside);
}

TEST(UndoHistory, HeldClipsAreVisitedExceptThoseThatShareFiles)
{
    Fixture f(1, true);
    for (uint32_t extra : {0u, uint32_t{StepKeepClipFiles}}) {
        auto step = std::make_unique<UndoStep>(StepEvents | extra, "Insert audio clips");
        step->events.InsertByTime(2, SongEvent::Clip(0, std::make_unique<AudioClip>(extra ? "kept.wav" : "held.wav")));
        ASSERT_TRUE(f.history->SubmitStep(f.song, std::move(step)));
        ASSERT_TRUE(f.history->Undo(f.song)); // the clip goes back into the step
    }
    // Only the last step is in the tail now; the first was discarded by the second submission.
    std::vector<std::string> names;
    f.history->ForEachHeldClip([&](AudioClip& clip) { names.push_back(clip.fileName); });
    EXPECT_TRUE(names.empty());
    ASSERT_TRUE(f.history->Redo(f.song));
    auto removal = std::make_unique<UndoStep>(StepEvents, "Delete Events");
    removal->events.Remove(MakeEventRef(2, 0));
    ASSERT_TRUE(f.history->SubmitStep(f.song, std::move(removal)));
    f.history->ForEachHeldClip([&](AudioClip& clip) { names.push_back(clip.fileName); });
    EXPECT_EQ(names, std::vector<std::string>{"kept.wav"}) << "held by the delete step, which may not keep files";
}

} // namespace
} // namespace cantivo::test

namespace cantivo::test {
namespace {

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
