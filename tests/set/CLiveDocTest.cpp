// The set document over real files: songs found when the set folder moved, one song at several
// positions, large sets read lazily, songs offered from the folder, the history and the texts.
#include "set/CLiveDoc.h"
#include "set/DataFolder.h"
#include "set/RecentList.h"
#include "set/SetFile.h"
#include "song/AtomicFile.h"
#include "song/Song.h"
#include "song/SongFileBytes.h"
#include "support/TestContext.h"

#include <gtest/gtest.h>

#include <cstdlib>
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

TEST_F(CLiveDocTest, ImportCopiesSongsInUnderSafeNamesWithTheirFiles)
{
    const fs::path elsewhere = folder / "elsewhere";
    const std::string plain = WriteSong(elsewhere / "plain.mid").string();
    const std::string unsafe = WriteSong(elsewhere / "My: Song?.mid").string();
    std::ofstream(elsewhere / "plain.cv") << "settings";
    fs::create_directories(elsewhere / "WaveData");
    std::ofstream(elsewhere / "WaveData" / "take1.wav") << "audio";
    fs::create_directories(folder / "show");
    CLiveDoc doc(context.Context(), files);
    std::string error;
    ASSERT_TRUE(doc.NewSet((folder / "show" / "show.set").string(), error)) << error;
    EXPECT_EQ(doc.ImportSongs({plain, unsafe}, -1), 2);
    ASSERT_EQ(doc.SongCount(), 2);
    EXPECT_EQ(doc.SongAt(1).pathName, (folder / "show" / "My_ Song_.mid").string());
    EXPECT_TRUE(fs::exists(folder / "show" / "plain.cv"));
    EXPECT_TRUE(fs::exists(folder / "show" / "WaveData" / "take1.wav"));
    EXPECT_EQ(doc.History().UndoMenuText().find("&Undo Import song into set"), 0u) << doc.History().UndoMenuText();
    // The same name again is refused with its message, and the set is unchanged.
    EXPECT_EQ(doc.ImportSongs({plain}, 0), 0);
    ASSERT_FALSE(context.prompter.messages.empty());
    EXPECT_EQ(context.prompter.messages.back(),
              "Sorry, 'plain' already exists in this set--rename or delete and try again.");
    EXPECT_EQ(doc.SongCount(), 2);
}

TEST_F(CLiveDocTest, DeletingASongCanSendItsFilesToTheTrash)
{
    const std::string trash = (folder / "data").string();
    ::setenv("XDG_DATA_HOME", trash.c_str(), 1);
    const std::string kept = WriteSong(folder / "kept.mid").string();
    const std::string gone = WriteSong(folder / "gone.mid").string();
    std::ofstream(folder / "gone.cv") << "settings";
    CLiveDoc doc(context.Context(), files);
    std::string error;
    ASSERT_TRUE(doc.NewSet((folder / "show.set").string(), error)) << error;
    ASSERT_TRUE(doc.Submit(SetHistory::InsertSongStep("Add song", kept, 0)));
    ASSERT_TRUE(doc.Submit(SetHistory::InsertSongStep("Add song", gone, 1)));
    doc.CopySong(1);
    ASSERT_TRUE(doc.PasteSong(2)); // now twice: its files stay while a position still needs them
    ASSERT_TRUE(doc.DeleteSong(2, DeleteChoice::RemoveAndTrash));
    EXPECT_TRUE(fs::exists(gone));
    EXPECT_EQ(doc.Clipboard().songPath, gone);
    ASSERT_TRUE(doc.DeleteSong(1, DeleteChoice::RemoveAndTrash));
    EXPECT_FALSE(fs::exists(gone));
    EXPECT_TRUE(fs::exists(folder / "data" / "Trash" / "files" / "gone.mid"));
    EXPECT_TRUE(fs::exists(folder / "data" / "Trash" / "files" / "gone.cv"));
    std::ifstream info(folder / "data" / "Trash" / "info" / "gone.mid.trashinfo");
    std::string text((std::istreambuf_iterator<char>(info)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("[Trash Info]\nPath=" + gone + "\nDeletionDate="), std::string::npos) << text;
    EXPECT_TRUE(doc.Clipboard().Empty());
    // Cues go through their song's own history.
    Song& song = doc.SongAt(0);
    song.cues.push_back(std::make_unique<Cue>(Cue{"Verse", CueMarker, 0, 240, 240}));
    doc.CopyCue(0, 0);
    ASSERT_TRUE(doc.CutCue(0, 0));
    EXPECT_TRUE(song.cues.empty());
    ASSERT_TRUE(doc.PasteCue(0));
    ASSERT_TRUE(doc.PasteCue(0));
    ASSERT_EQ(song.cues.size(), 2u);
    EXPECT_EQ(song.cues[1]->label, "Verse");
    EXPECT_TRUE(song.IsModified());
    ASSERT_TRUE(doc.DeleteSong(0, DeleteChoice::RemoveFromSet));
    EXPECT_TRUE(fs::exists(kept)) << "only removed from the set";
    EXPECT_EQ(doc.SongCount(), 0);
    ::unsetenv("XDG_DATA_HOME");
}

TEST_F(CLiveDocTest, ModifiedSongsAreOfferedBeforeTheyGoAndAnExportLeavesTheSongAsItWas)
{
    const std::string a = WriteSong(folder / "a.mid").string();
    const std::string b = WriteSong(folder / "b.mid").string();
    CLiveDoc doc(context.Context(), files);
    std::string error;
    ASSERT_TRUE(doc.NewSet((folder / "show.set").string(), error)) << error;
    for (const std::string& path : {a, b, a})
        ASSERT_TRUE(doc.Submit(SetHistory::InsertSongStep("Add song", path, doc.SongCount())));
    for (int position : {0, 1}) {
        doc.SongAt(position).cues.push_back(std::make_unique<Cue>(Cue{"Verse", CueMarker, 0, 240, 240}));
        doc.SongAt(position).SetModifiedFlag(true);
    }
    const auto size = [](const std::string& path) { return fs::file_size(path); };
    const uintmax_t before = size(a);
    std::vector<std::string> asked;
    const auto answering = [&asked](std::vector<SaveAnswer> answers) {
        return [&asked, answers, next = size_t{0}](const std::string& title) mutable {
            asked.push_back(title);
            return answers[std::min(next++, answers.size() - 1)];
        };
    };

    EXPECT_FALSE(doc.SaveModified(answering({SaveAnswer::Cancel}), error));
    EXPECT_EQ(asked, (std::vector<std::string>{"a"})) << "a cancel stops the questions";
    EXPECT_EQ(size(a), before);
    asked.clear();
    ASSERT_TRUE(doc.SaveModified(answering({SaveAnswer::Save, SaveAnswer::Discard, SaveAnswer::Save}), error));
    EXPECT_EQ(asked, (std::vector<std::string>{"a", "b", "show"})) << "a song at two positions is asked once";
    EXPECT_NE(size(a), before);
    EXPECT_TRUE(doc.SongAt(1).IsModified()) << "discarded, not yet let go";
    EXPECT_FALSE(doc.IsModified());
    EXPECT_FALSE(doc.SaveModified({}, error)) << "with nobody to ask nothing is let go";

    // Delete asks first; its choice is the next one offered.
    EXPECT_FALSE(doc.DeleteSong(1, DeleteChoice::RemoveFromSet, answering({SaveAnswer::Cancel})));
    EXPECT_EQ(doc.SongCount(), 3);
    EXPECT_FALSE(doc.CutSong(1, answering({SaveAnswer::Cancel})));
    EXPECT_EQ(doc.StoredDeleteChoice(), DeleteChoice::RemoveFromSet);
    ::setenv("XDG_DATA_HOME", (folder / "data").c_str(), 1);
    ASSERT_TRUE(doc.DeleteSong(1, DeleteChoice::RemoveAndTrash, answering({SaveAnswer::Discard})));
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(doc.StoredDeleteChoice(), DeleteChoice::RemoveAndTrash);

    // The export writes the current song elsewhere and leaves it modified, at its own path.
    doc.SetCurrentSong(&doc.SongAt(0));
    doc.SongAt(0).SetModifiedFlag(true);
    const std::string templates = (folder / "templates").string();
    fs::create_directories(templates);
    EXPECT_EQ(doc.ExportPath(templates), (fs::path(templates) / "a.mid").string());
    ASSERT_TRUE(doc.ExportSong(doc.ExportPath(templates), error)) << error;
    EXPECT_TRUE(fs::exists(fs::path(templates) / "a.mid"));
    EXPECT_EQ(doc.SongAt(0).pathName, a);
    EXPECT_TRUE(doc.SongAt(0).IsModified());
    EXPECT_FALSE(doc.ExportSong((folder / "no" / "such" / "x.mid").string(), error));
    EXPECT_EQ(doc.SongAt(0).pathName, a);
}

TEST_F(CLiveDocTest, TheOpenEntryTakesSongsAndSetsAndKeepsTheRecentLists)
{
    const std::string song = WriteSong(folder / "song.mid").string();
    const std::string set = WriteSet(folder / "show.set", {song}).string();
    CLiveDoc doc(context.Context(), files);
    EXPECT_EQ(doc.OpenFile(song), OpenOutcome::Song);
    EXPECT_TRUE(doc.IsClosed()) << "a song opened on its own is no set";
    ASSERT_NE(doc.CurrentSong(), nullptr);
    EXPECT_EQ(context.profile.GetString("StartupOptions", "AutoOpenPath", ""), song);
    EXPECT_EQ(RecentSongs(context.profile).Entries(), std::vector<std::string>{song});
    EXPECT_EQ(doc.OpenFile(set), OpenOutcome::Set);
    EXPECT_FALSE(doc.IsClosed());
    EXPECT_EQ(RecentSets(context.profile).Entries(), std::vector<std::string>{set});
    EXPECT_EQ(doc.OpenFile((folder / "notes.txt").string()), OpenOutcome::Failed);
    EXPECT_EQ(context.prompter.messages.back(), "Cantivo does not recognize that file type.");
    doc.CloseAll();
    EXPECT_TRUE(doc.IsClosed());
    EXPECT_EQ(context.profile.GetString("StartupOptions", "AutoOpenPath", "x"), "");
    // A recent entry that moved away is taken off the list with its message.
    fs::rename(set, folder / "moved.set");
    EXPECT_EQ(doc.OpenRecent(set, true), OpenOutcome::Failed);
    EXPECT_EQ(context.prompter.messages.back(),
              "Sorry, the set has been moved or deleted--please use the File/Open command to browse your system.");
    EXPECT_TRUE(RecentSets(context.profile).Entries().empty());
    // The lists keep four entries, the most recent first.
    RecentList recent = RecentSongs(context.profile);
    for (const char* path : {"/a.mid", "/b.mid", "/c.mid", "/d.mid", "/e.mid", "/c.mid"})
        recent.Add(path);
    EXPECT_EQ(RecentSongs(context.profile).Entries(),
              (std::vector<std::string>{"/c.mid", "/e.mid", "/d.mid", "/b.mid"}));
}

TEST_F(CLiveDocTest, NewMakesSetsAndSongsFromTheShippedTemplates)
{
    const std::string templates = std::string(CANTIVO_SOURCE_DIR) + "/data/templates";
    CLiveDoc doc(context.Context(), files);
    const std::vector<std::string> choices = doc.NewChoices(templates);
    ASSERT_GE(choices.size(), 5u);
    EXPECT_EQ(choices[0], "Empty Set");
    EXPECT_EQ(choices[1], "Empty Song");
    EXPECT_NE(std::find(choices.begin(), choices.end(), "Band 4-4"), choices.end());

    std::string error;
    ASSERT_TRUE(doc.NewSongOrSet({"Empty Set", "Friday: late", folder.string()}, templates, error)) << error;
    EXPECT_EQ(doc.PathName(), (folder / "Friday_ late" / "Friday_ late.set").string());
    EXPECT_TRUE(fs::exists(doc.PathName()));
    EXPECT_FALSE(doc.NewSongOrSet({"Empty Set", "Friday: late", folder.string()}, templates, error));
    EXPECT_EQ(error,
              "A file with that name already exists at that location!\nPlease choose another name or location.\n");
    EXPECT_FALSE(doc.NewSongOrSet({"Empty Song", "x", (folder / "nowhere").string()}, templates, error));
    EXPECT_EQ(error, "The specified location is invalid or does not exist.");

    // A song from a template joins the open set; without a set a new song stands alone.
    ASSERT_TRUE(doc.NewSongOrSet({"Band 4-4", "Opener", doc.SetFolder()}, templates, error)) << error;
    ASSERT_EQ(doc.SongCount(), 1);
    EXPECT_EQ(doc.SongAt(0).UserTrackCount(), 4);
    doc.CloseAll();
    ASSERT_TRUE(doc.NewSongOrSet({"Empty Song", "Sketch", folder.string()}, templates, error)) << error;
    EXPECT_TRUE(doc.IsClosed());
    ASSERT_NE(doc.CurrentSong(), nullptr);
    EXPECT_EQ(context.profile.GetString("StartupOptions", "AutoOpenPath", ""), (folder / "Sketch.mid").string());
}

TEST_F(CLiveDocTest, TheDataFolderIsFoundWhereverTheProgramRuns)
{
    fs::create_directories(folder / "prefix" / "bin");
    fs::create_directories(folder / "prefix" / "share" / "cantivo");
    EXPECT_EQ(FindDataFolder((folder / "prefix" / "bin" / "cantivo-cli").string()),
              (folder / "prefix" / "share" / "cantivo").string());
    // From a build tree: the sources' data folder.
    EXPECT_EQ(fs::path(FindDataFolder((folder / "build" / "cantivo-cli").string())),
              fs::path(CANTIVO_SOURCE_DIR) / "data");
    ::setenv("CANTIVO_DATA_DIR", folder.c_str(), 1);
    EXPECT_EQ(FindDataFolder("/usr/bin/cantivo-cli"), folder.string());
    ::unsetenv("CANTIVO_DATA_DIR");
}

TEST(CLiveDoc, SafeNames)
{
    EXPECT_EQ(CLiveDoc::SafeName("My \"Song\" = [live] v1.2?*/\\:;,"), "My 'Song' - {live} v1_2_______");
    EXPECT_EQ(CLiveDoc::SafeName("Plain name"), "Plain name");
}

} // namespace
} // namespace cantivo::test
