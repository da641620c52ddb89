// Autosave in virtual minutes: when the recovery file is written, that playback delays it, that an
// unmodified song loses it, and what opening a song with one beside it does.
#include "set/Autosave.h"
#include "playback/EngineFixture.h"
#include "playback/Scheduler.h"
#include "set/CLiveDoc.h"
#include "song/AtomicFile.h"
#include "song/SongFileBytes.h"
#include "song/SongFileNames.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace cantivo::test {
namespace {

namespace fs = std::filesystem;

class AutosaveTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "cantivo-autosave-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        Song song(engine.context.Context());
        song.NewSongDefaults();
        auto track = std::make_unique<Track>();
        track->events.push_back(SongEvent::Note(0, 0, 60, 100, 36000)); // two and a half minutes long
        song.tracks.insert(song.tracks.end() - 1, std::move(track));
        const std::vector<uint8_t> bytes = WriteSongToBytes(song);
        songPath = (folder / "song.mid").string();
        std::ofstream(songPath, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        std::string error;
        ASSERT_TRUE(set.NewSet((folder / "show.set").string(), error)) << error;
        ASSERT_TRUE(set.Submit(SetHistory::InsertSongStep("Add song", songPath, 0)));
        engine.context.profile.WriteInt("SaveOptions", "AutoSave", 1);
        engine.context.profile.WriteInt("SaveOptions", "AutoSaveMin", 3);
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    void Minutes(double minutes)
    {
        const int64_t end = engine.clock.NowMicroseconds() + static_cast<int64_t>(minutes * Autosave::Minute);
        while (engine.clock.NowMicroseconds() < end) {
            engine.RunFor(std::min<int64_t>(100'000, end - engine.clock.NowMicroseconds()));
            scheduler.RunDue();
        }
    }
    bool Recovery() const { return fs::exists(RecoveryPath(songPath)); }

    fs::path folder;
    std::string songPath;
    Engine engine;
    DiskSaveFiles files;
    CLiveDoc set{engine.context.Context(), files};
    ClockScheduler scheduler{engine.clock};
    Autosave autosave{set, *engine.sequencer, scheduler, engine.context.profile, files};
};

TEST_F(AutosaveTest, AModifiedSongIsSavedEveryIntervalAndForgottenOnceUnmodified)
{
    Song& song = set.SongAt(0);
    song.SetModifiedFlag(true);
    autosave.Start();
    Minutes(2.5);
    EXPECT_FALSE(Recovery());
    Minutes(1);
    ASSERT_TRUE(Recovery()) << "three minutes after the start";
    EXPECT_TRUE(song.IsModified()) << "an autosave leaves the song modified";
    fs::remove(RecoveryPath(songPath));
    Minutes(3);
    EXPECT_TRUE(Recovery()) << "again three minutes later, while still modified";
    // Undone back to its saved state: the next save tick removes the recovery files.
    std::ofstream(StripKnownExtension(songPath) + ".cv.sav") << "legacy";
    song.SetModifiedFlag(false);
    Minutes(3);
    EXPECT_FALSE(Recovery());
    EXPECT_FALSE(fs::exists(StripKnownExtension(songPath) + ".cv.sav"));
    // Off: nothing more.
    engine.context.profile.WriteInt("SaveOptions", "AutoSave", 0);
    autosave.Start();
    song.SetModifiedFlag(true);
    Minutes(4);
    EXPECT_FALSE(Recovery());
}

TEST_F(AutosaveTest, NothingIsWrittenWhilePlayingAndTheFirstTickAfterTheStopWrites)
{
    set.SongAt(0).SetModifiedFlag(true);
    engine.Load(set.SongAt(0));
    autosave.Start();
    Minutes(2.5);
    engine.sequencer->PlayTap();
    Minutes(2); // the save was due at three minutes
    EXPECT_FALSE(Recovery());
    EXPECT_EQ(autosave.Countdown(), 1);
    engine.sequencer->Stop();
    Minutes(1);
    EXPECT_TRUE(Recovery());
}

TEST_F(AutosaveTest, OpeningASongWithARecoveryFileAsksAndEitherAnswerLeavesOneSong)
{
    // An autosaved copy beside the song; Cancel deletes it and reads the song as saved.
    set.SongAt(0).SetModifiedFlag(true);
    autosave.Start();
    Minutes(3.5);
    ASSERT_TRUE(Recovery());
    engine.context.prompter.defaultAnswer = false;
    {
        CLiveDoc other(engine.context.Context(), files);
        std::string error;
        ASSERT_TRUE(other.NewSet((folder / "other.set").string(), error)) << error;
        ASSERT_TRUE(other.Submit(SetHistory::InsertSongStep("Add song", songPath, 0)));
        EXPECT_TRUE(other.IsRead(other.SongAt(0)));
    }
    EXPECT_FALSE(Recovery());
    ASSERT_FALSE(engine.context.prompter.questions.empty());
    EXPECT_NE(engine.context.prompter.questions.back().find("AutoRecover files were found for"), std::string::npos);
    EXPECT_TRUE(fs::exists(songPath));

    // OK opens the recovered copy in the song's place.
    set.SongAt(0).SetModifiedFlag(true);
    Minutes(3);
    ASSERT_TRUE(Recovery());
    engine.context.prompter.defaultAnswer = true;
    CLiveDoc other(engine.context.Context(), files);
    std::string error;
    ASSERT_TRUE(other.NewSet((folder / "third.set").string(), error)) << error;
    ASSERT_TRUE(other.Submit(SetHistory::InsertSongStep("Add song", songPath, 0)));
    EXPECT_TRUE(other.IsRead(other.SongAt(0)));
    EXPECT_FALSE(Recovery());
    EXPECT_TRUE(fs::exists(songPath));
}

} // namespace
} // namespace cantivo::test
