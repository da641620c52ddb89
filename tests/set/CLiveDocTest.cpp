// The set document over real files: songs found when the set folder moved, one song at several
// positions, large sets read lazily, songs offered from the folder, the history and the texts.
#include "set/CLiveDoc.h"
#include "set/SetFile.h"
#include "song/AtomicFile.h"
#include "song/Song.h"
#include "song/SongFileBytes.h"
#include "support/TestContext.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace cantivo::test {
namespace {

namespace fs = std::filesystem;

class CLiveDocTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "cantivo-set-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = pattern;
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    // A short song of one note, written where asked.
    fs::path WriteSong(const fs::path& path)
    {
        fs::create_directories(path.parent_path());
        Song song(context.Context());
        song.NewSongDefaults();
        auto track = std::make_unique<Track>();
        track->events.push_back(SongEvent::Note(0, 0, 60, 100, 120));
        song.tracks.insert(song.tracks.end() - 1, std::move(track));
        const std::vector<uint8_t> bytes = WriteSongToBytes(song);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    fs::path WriteSet(const fs::path& path, const std::vector<std::string>& songs)
    {
        const std::vector<uint8_t> bytes = SetFileBytes(songs);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    fs::path folder;
    TestContext context;
    DiskSaveFiles files;
};

TEST_F(CLiveDocTest, SongsAreFoundBesideTheSetWhereverTheSetWasSaved)
{
    WriteSong(folder / "one.mid");
    WriteSong(folder / "two" / "two.mid"); // in a folder of its own
    const fs::path set = WriteSet(folder / "show.set", {"D:\\Old Shows\\Saturday\\one.mid", "",
                                                        "/media/stick/Saturday/two.mid", "/nowhere/three.mid"});
    CLiveDoc doc(context.Context(), files);
    std::string error;
    ASSERT_TRUE(doc.OpenSet(set.string(), error)) << error;
    EXPECT_FALSE(doc.IsClosed());
    ASSERT_EQ(doc.SongCount(), 3) << "the empty entry takes no position";
    EXPECT_EQ(doc.SongAt(0).pathName, (folder / "one.mid").string());
    EXPECT_EQ(doc.SongAt(1).pathName, (folder / "two" / "two.mid").string());
    EXPECT_TRUE(doc.IsRead(doc.SongAt(1)));
    // A song missing everywhere keeps its stored path and stays unread.
    EXPECT_EQ(doc.SongAt(2).pathName, "/nowhere/three.mid");
    EXPECT_FALSE(doc.IsRead(doc.SongAt(2)));
    EXPECT_FALSE(doc.EnsureRead(2));
    EXPECT_EQ(doc.Title(), "show");
}

TEST_F(CLiveDocTest, OneSongAtTwoPositionsIsHeldOnceAndSurvivesLosingOne)
{
    const std::string song = WriteSong(folder / "song.mid").string();
    CLiveDoc doc(context.Context(), files);
    std::string error;
    ASSERT_TRUE(doc.NewSet((folder / "show.set").string(), error)) << error;
    ASSERT_TRUE(doc.Submit(SetHistory::InsertSongStep("Add song", song, 0)));
    ASSERT_TRUE(doc.Submit(SetHistory::InsertSongStep("Paste Song", song, 1)));
    EXPECT_EQ(&doc.SongAt(0), &doc.SongAt(1));
    EXPECT_EQ(doc.UseCount(doc.SongAt(0)), 2);
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(doc.WindowTitle("Cantivo"), "Cantivo - show*");
    ASSERT_TRUE(doc.SaveSet(doc.PathName(), error)) << error;
    EXPECT_FALSE(doc.IsModified());

    CLiveDoc reopened(context.Context(), files);
    ASSERT_TRUE(reopened.OpenSet(doc.PathName(), error)) << error;
    ASSERT_EQ(reopened.SongCount(), 2);
    EXPECT_EQ(reopened.UseCount(reopened.SongAt(0)), 2);
    reopened.SetCurrentSong(&reopened.SongAt(0));
    ASSERT_TRUE(reopened.Submit(SetHistory::DeleteSongStep(song, 0)));
    ASSERT_EQ(reopened.SongCount(), 1);
    EXPECT_EQ(reopened.UseCount(reopened.SongAt(0)), 1);
    EXPECT_EQ(reopened.CurrentSong(), &reopened.SongAt(0)) << "the song is still in the set";
    EXPECT_EQ(reopened.WindowTitle("Cantivo"), "Cantivo - show* - [song]");
    // Undo puts the position back; the set is as saved again.
    ASSERT_TRUE(reopened.History().Undo(reopened));
    EXPECT_EQ(reopened.SongCount(), 2);
    EXPECT_FALSE(reopened.IsModified());
    ASSERT_TRUE(reopened.Submit(SetHistory::DeleteSongStep(song, 1)));
    ASSERT_TRUE(reopened.Submit(SetHistory::DeleteSongStep(song, 0)));
    EXPECT_EQ(reopened.SongCount(), 0);
    EXPECT_EQ(reopened.CurrentSong(), nullptr);
}

TEST_F(CLiveDocTest, ALargeSetIsOpenedWithoutReadingItsSongs)
{
    std::vector<std::string> songs;
    for (int i = 0; i < 51; ++i)
        songs.push_back(WriteSong(folder / ("s" + std::to_string(i) + ".mid")).string());
    CLiveDoc doc(context.Context(), files);
    std::string error;
    ASSERT_TRUE(doc.OpenSet(WriteSet(folder / "big.set", songs).string(), error, false)) << error;
    EXPECT_TRUE(doc.IsLargeSet());
    ASSERT_EQ(doc.SongCount(), 51);
    for (int i = 0; i < 51; ++i)
        EXPECT_FALSE(doc.IsRead(doc.SongAt(i))) << i;
    EXPECT_TRUE(doc.EnsureRead(7));
    EXPECT_TRUE(doc.IsRead(doc.SongAt(7)));
    EXPECT_FALSE(doc.IsRead(doc.SongAt(8)));
    doc.ClearContents();
    EXPECT_FALSE(doc.IsLargeSet());
    EXPECT_TRUE(doc.IsClosed());
}

TEST_F(CLiveDocTest, SongsTheSetDoesNotListAreOfferedAndMovedInWithTheirFiles)
{
    const std::string listed = WriteSong(folder / "listed.mid").string();
    WriteSong(folder / "extra" / "found.mid");
    std::ofstream(folder / "extra" / "found.cv") << "settings";
    fs::create_directories(folder / "extra" / "WaveData");
    const fs::path set = WriteSet(folder / "show.set", {listed});
    {
        context.prompter.defaultAnswer = false;
        CLiveDoc doc(context.Context(), files);
        std::string error;
        ASSERT_TRUE(doc.OpenSet(set.string(), error)) << error;
        EXPECT_EQ(doc.SongCount(), 1);
        EXPECT_FALSE(doc.IsModified());
        ASSERT_EQ(context.prompter.questions.size(), 1u);
        EXPECT_EQ(context.prompter.questions[0], "found was found in the set's folder--add it to the set?");
    }
    context.prompter.defaultAnswer = true;
    CLiveDoc doc(context.Context(), files);
    std::string error;
    ASSERT_TRUE(doc.OpenSet(set.string(), error)) << error;
    ASSERT_EQ(doc.SongCount(), 2);
    EXPECT_EQ(doc.SongAt(0).pathName, (folder / "found.mid").string());
    EXPECT_TRUE(doc.IsModified());
    EXPECT_TRUE(fs::exists(folder / "found.cv"));
    EXPECT_TRUE(fs::is_directory(folder / "WaveData"));
    EXPECT_FALSE(fs::exists(folder / "extra" / "found.mid"));
}

TEST_F(CLiveDocTest, AnUnreadableSetLeavesTheDocumentClosedAndTheFileAsItWas)
{
    std::ofstream(folder / "bad.set") << "abc";
    CLiveDoc doc(context.Context(), files);
    std::string error;
    EXPECT_FALSE(doc.OpenSet((folder / "bad.set").string(), error));
    EXPECT_TRUE(doc.IsClosed());
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(fs::file_size(folder / "bad.set"), 3u);
    EXPECT_FALSE(doc.OpenSet((folder / "missing.set").string(), error));
    EXPECT_TRUE(doc.IsClosed());
    // With no set open a song-list edit changes nothing.
    EXPECT_FALSE(doc.Submit(SetHistory::InsertSongStep("Add song", "/x.mid", 0)));
    EXPECT_EQ(doc.SongCount(), 0);
}

TEST(CLiveDoc, SafeNames)
{
    EXPECT_EQ(CLiveDoc::SafeName("My \"Song\" = [live] v1.2?*/\\:;,"), "My 'Song' - {live} v1_2_______");
    EXPECT_EQ(CLiveDoc::SafeName("Plain name"), "Plain name");
}

} // namespace
} // namespace cantivo::test
