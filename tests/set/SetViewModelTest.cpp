// A show in virtual time: song changes, auto-advance with its wait and resets, the set view's rows and
// the set times.
#include "set/SetViewModel.h"
#include "ShowFixture.h"
#include "playback/EngineFixture.h"
#include "playback/Scheduler.h"
#include "set/CLiveDoc.h"
#include "set/SetFile.h"
#include "set/SongReadAhead.h"
#include "song/AtomicFile.h"
#include "song/SongFileBytes.h"
#include "song/TimeCode.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace cantivo::test {
namespace {

namespace fs = std::filesystem;

class ShowTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "cantivo-show-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        // Three songs of two 4/4 bars at 120 bpm (4 s each), keyed 60, 62, 64 on every beat.
        std::vector<std::string> paths;
        for (int i = 0; i < 3; ++i) {
            Song song(engine.context.Context());
            song.NewSongDefaults();
            auto track = std::make_unique<Track>();
            for (int beat = 0; beat < 8; ++beat)
                track->events.push_back(SongEvent::Note(beat * 120, 0, static_cast<uint8_t>(60 + 2 * i), 100, 60));
            if (i == 1) {
                auto cue = std::make_unique<Cue>();
                cue->label = "Bridge";
                cue->stopAt = 480;
                cue->restartAt = 480;
                song.cues.push_back(std::move(cue));
            }
            song.tracks.insert(song.tracks.end() - 1, std::move(track));
            const std::vector<uint8_t> bytes = WriteSongToBytes(song);
            paths.push_back((folder / ("song" + std::to_string(i) + ".mid")).string());
            std::ofstream(paths.back(), std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        }
        std::string error;
        ASSERT_TRUE(set.NewSet((folder / "show.set").string(), error)) << error;
        for (const std::string& path : paths)
            ASSERT_TRUE(set.Submit(SetHistory::InsertSongStep("Add song", path, set.SongCount())));
        engine.sequencer->SetScheduler(&scheduler);
        view = std::make_unique<SetViewModel>(set, *engine.sequencer, activator, scheduler, engine.context.profile);
    }
    void TearDown() override
    {
        view.reset();
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    // The UI loop in virtual time: halts settled, the end of a song handed to the view, timers run.
    void Run(int64_t milliseconds)
    {
        for (int64_t t = 0; t < milliseconds; t += 10) {
            engine.RunFor(10'000);
            scheduler.RunDue();
            while (auto n = engine.notifications.Take())
                if (n->message == EngineMessage::MsgPlaybackHalted)
                    (void)HandleHalt();
        }
    }
    HaltOutcome HandleHalt()
    {
        const HaltOutcome outcome = engine.sequencer->SettleHalt();
        if (outcome == HaltOutcome::EndOfSong)
            view->EndOfSong(*engine.sequencer);
        return outcome;
    }
    // The times the first note-on of each key came.
    std::map<int, int64_t> FirstNotes() const
    {
        std::map<int, int64_t> first;
        for (size_t i = 0; i < engine.device->Count(); ++i) {
            const Sent& s = (*engine.device)[i];
            if ((s.message & 0xF0) == 0x90 && (s.message >> 16 & 0x7F) > 0)
                first.emplace(static_cast<int>(s.message >> 8 & 0x7F), s.time);
        }
        return first;
    }

    fs::path folder;
    Engine engine;
    DiskSaveFiles files;
    CLiveDoc set{engine.context.Context(), files};
    EngineActivator activator{engine};
    ClockScheduler scheduler{engine.clock};
    std::unique_ptr<SetViewModel> view;
};

TEST_F(ShowTest, AutoAdvanceStopsWaitsResetsTheTempoAndPlaysTheNextSong)
{
    engine.context.profile.WriteInt("PlaybackOptions", "AutoAdvance", 2);
    engine.context.profile.WriteInt("PlaybackOptions", "AdvanceWait", 1000);
    ASSERT_NE(view->Select(0, 0), nullptr);
    engine.device->Clear();
    const int64_t start = engine.clock.NowMicroseconds();
    engine.sequencer->SetTempoRatio(150000);
    engine.sequencer->PlayTap();
    Run(2'800); // the first song's two bars, at 1.5 times its tempo, last 2.67 s
    EXPECT_EQ(engine.sequencer->State(), SequencerState::Stopped);
    EXPECT_TRUE(view->Advancing());
    Run(1'200);
    EXPECT_EQ(view->Current(), 1);
    EXPECT_EQ(engine.sequencer->TempoRatio(), Sequencer::NormalTempo);
    EXPECT_NE(engine.sequencer->State(), SequencerState::Stopped);
    Run(9'000);
    const auto first = FirstNotes();
    ASSERT_EQ(first.count(62), 1u);
    // Each song plays to the end of its two bars (4 s at normal tempo); the next one starts a second
    // later (within the loop's 10 ms turn).
    EXPECT_NEAR(static_cast<double>(first.at(62) - start), 4'000'000 / 1.5 + 1'000'000, 20'000);
    ASSERT_EQ(first.count(64), 1u);
    EXPECT_NEAR(static_cast<double>(first.at(64) - first.at(62)), 4'000'000 + 1'000'000, 20'000);
    Run(6'000);
    EXPECT_TRUE(view->AtEnd()) << "past the last song comes the end of the set";
    EXPECT_EQ(set.CurrentSong(), nullptr);
    EXPECT_FALSE(view->Advancing());
    EXPECT_TRUE(Sounding::Of(engine.device->Since(0)).Silent());
}

TEST_F(ShowTest, AdvanceModesOneWaitsForTheTapAndZeroStops)
{
    for (const int mode : {1, 0}) {
        engine.context.profile.WriteInt("PlaybackOptions", "AutoAdvance", mode);
        engine.context.profile.WriteInt("PlaybackOptions", "AdvanceWait", 0);
        ASSERT_NE(view->Select(0, 0), nullptr);
        engine.sequencer->PlayTap();
        Run(5'000);
        EXPECT_EQ(view->Current(), mode == 1 ? 1 : 0) << mode;
        EXPECT_EQ(engine.sequencer->State(), SequencerState::Stopped) << mode;
    }
    // The radio commands store at once; an override for one run stores nothing.
    view->SetAutoAdvance(2);
    EXPECT_EQ(engine.context.profile.GetInt("PlaybackOptions", "AutoAdvance", 1), 2);
    view->OverrideAutoAdvance(0);
    EXPECT_EQ(view->AutoAdvance(), 0);
    EXPECT_EQ(engine.context.profile.GetInt("PlaybackOptions", "AutoAdvance", 1), 2);
}

TEST_F(ShowTest, NextPreviousRevertAndGoMoveThroughTheSet)
{
    ASSERT_NE(view->Select(0, 0), nullptr);
    view->NextSong();
    view->NextSong();
    EXPECT_EQ(view->Current(), 2);
    view->RevertToPreviousSong();
    EXPECT_EQ(view->Current(), 1);
    view->RevertToPreviousSong();
    EXPECT_EQ(view->Current(), 2) << "revert toggles";
    view->NextSong();
    EXPECT_TRUE(view->AtEnd());
    view->PreviousSong();
    EXPECT_EQ(view->Current(), 2);
    // Go on a cue row starts its song at the cue.
    ASSERT_NE(view->Go(1, 0), nullptr);
    EXPECT_EQ(engine.sequencer->Position(), 480);
    view->UpdatePlayingMarker();
    EXPECT_EQ(view->MarkerCue(), 0);
    EXPECT_TRUE(view->IsExpanded(1));
    EXPECT_FALSE(view->IsExpanded(2)) << "the song left closes";
    view->SetExpanded(1, false);
    EXPECT_FALSE(view->Items()[1].expanded);
    // MIDI song select beyond the last song is the end of the set.
    view->SongSelect(7);
    EXPECT_TRUE(view->AtEnd());

    const auto items = view->Items();
    ASSERT_EQ(items.size(), 5u); // three songs, the marker, the end
    EXPECT_EQ(items[0].text, "song0");
    EXPECT_EQ(items[2].kind, SetItem::Kind::Cue);
    EXPECT_EQ(items[2].text, "Bridge");
    EXPECT_EQ(items[4].text, "End of set.");
}

// The set view polls the revision on every turn of the UI loop: it moves when a row would look
// different, and not otherwise.
TEST_F(ShowTest, TheRevisionMovesOnlyWhenTheRowsChange)
{
    ASSERT_NE(view->Select(1, 0), nullptr);
    const uint64_t selected = view->Revision();
    view->UpdatePlayingMarker(); // still before the cue
    view->SetExpanded(1, true);  // already open
    EXPECT_EQ(view->Revision(), selected);
    engine.sequencer->Locate(480);
    view->UpdatePlayingMarker();
    EXPECT_EQ(view->MarkerCue(), 0);
    const uint64_t marked = view->Revision();
    EXPECT_GT(marked, selected);
    view->SetExpanded(1, false);
    EXPECT_GT(view->Revision(), marked);
    const uint64_t collapsed = view->Revision();
    ASSERT_TRUE(set.Submit(SetHistory::DeleteSongStep(set.SongAt(2).pathName, 2)));
    EXPECT_GT(view->Revision(), collapsed);
}

TEST_F(ShowTest, SetTimesCountARepeatedSongTwice)
{
    ASSERT_TRUE(set.Submit(SetHistory::InsertSongStep("Paste Song", set.SongAt(0).pathName, 3)));
    ASSERT_NE(view->Select(3, 0), nullptr);
    const double song = set.SongAt(0).songLength / 1e6;
    EXPECT_NEAR(view->TotalSeconds(), 4 * song, 1e-9);
    EXPECT_NEAR(view->SecondsBefore(), 3 * song, 1e-9);
    const double elapsed = 3 * song + 1.5;
    EXPECT_EQ(view->SetTimesText(1.5), TransportTimeText(elapsed * 1e6, Frames30) + " / " +
                                           TransportTimeText((4 * song - elapsed) * 1e6, Frames30));
    engine.context.profile.WriteInt("SyncOptions", "SMPTE", Frames25);
    EXPECT_EQ(view->SetTimesText(1.5), TransportTimeText(elapsed * 1e6, Frames25) + " / " +
                                           TransportTimeText((4 * song - elapsed) * 1e6, Frames25));
}

} // namespace
} // namespace cantivo::test

namespace cantivo::test {
namespace {

// Waits (a bounded while) for the worker to finish `reads` reads.
bool ReadsDone(const SongReadAhead& ahead, int reads)
{
    for (int i = 0; i < 1000 && ahead.ReadsDone() < reads; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return ahead.ReadsDone() >= reads;
}

TEST_F(ShowTest, TheNextSongOfALargeSetIsReadAheadAndAFileChangedSinceIsReadAgain)
{
    // 51 songs (copies of the three), so the set opens without reading them.
    std::vector<std::string> paths;
    for (int i = 0; i < 51; ++i) {
        paths.push_back((folder / ("big" + std::to_string(i) + ".mid")).string());
        fs::copy_file(folder / ("song" + std::to_string(i % 3) + ".mid"), paths.back());
    }
    const std::vector<uint8_t> bytes = SetFileBytes(paths);
    std::ofstream((folder / "big.set").string(), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    std::string error;
    ASSERT_TRUE(set.OpenSet((folder / "big.set").string(), error, false)) << error;
    ASSERT_TRUE(set.IsLargeSet());
    SongReadAhead ahead(engine.context.Context());
    view->UseReadAhead(&ahead);

    ASSERT_NE(view->Select(0, 0), nullptr);
    EXPECT_EQ(activator.preparedActivations, 0) << "the first song is read when it is selected";
    ASSERT_TRUE(ReadsDone(ahead, 1));
    EXPECT_FALSE(set.IsRead(set.SongAt(1))) << "read ahead, not yet taken";
    view->NextSong();
    EXPECT_EQ(activator.preparedActivations, 1);
    EXPECT_TRUE(set.IsRead(set.SongAt(1)));
    EXPECT_EQ(set.CurrentSong(), &set.SongAt(1));
    engine.device->Clear();
    engine.sequencer->PlayTap();
    Run(500);
    EXPECT_EQ(FirstNotes().count(62), 1u) << "the song read ahead is the one that plays";

    // Song 2 is read ahead, then saved by someone else: the change reads the new file instead.
    ASSERT_TRUE(ReadsDone(ahead, 2));
    fs::copy_file(folder / "song0.mid", paths[2], fs::copy_options::overwrite_existing);
    fs::last_write_time(paths[2], fs::last_write_time(paths[2]) + std::chrono::seconds(5));
    view->NextSong();
    EXPECT_EQ(activator.preparedActivations, 1);
    ASSERT_EQ(set.CurrentSong(), &set.SongAt(2));
    engine.device->Clear();
    engine.sequencer->PlayTap();
    Run(500);
    EXPECT_EQ(FirstNotes().count(60), 1u);
    EXPECT_EQ(FirstNotes().count(64), 0u);
    view.reset(); // before the read-ahead it uses goes
}

} // namespace
} // namespace cantivo::test
