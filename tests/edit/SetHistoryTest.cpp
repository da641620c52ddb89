#include "edit/SetHistory.h"
#include "edit/SongListDocument.h"

#include <gtest/gtest.h>

#include <set>

namespace cantivo::test {
namespace {

using Songs = std::vector<std::string>;

// A set held as a list of song paths; "reading" a path fails for the paths in `unreadable`.
class FakeSongList final : public SongListDocument {
  public:
    bool IsOpen() const override { return open; }
    int SongCount() const override { return static_cast<int>(songs.size()); }
    bool InsertSong(const std::string& path, int position) override
    {
        if (unreadable.count(path))
            return false;
        songs.insert(songs.begin() + position, path);
        return true;
    }
    void RemoveSong(int position) override { songs.erase(songs.begin() + position); }
    void MoveSong(int from, int to) override
    {
        const std::string song = songs[static_cast<size_t>(from)];
        songs.erase(songs.begin() + from);
        songs.insert(songs.begin() + to, song);
    }
    void Beep() override { ++beeps; }
    void SetModifiedFlag(bool flag) override { modified = flag; }

    Songs songs{"a", "b", "c", "d", "e"};
    std::set<std::string> unreadable;
    bool open = true;
    bool modified = false;
    int beeps = 0;
};

TEST(SetHistory, MovingASongLandsBeforeTheTargetAndUndoPutsItBack)
{
    struct Case {
        int from, to;
        Songs moved;
    };
    const Case cases[] = {
        {1, 4, {"a", "c", "d", "b", "e"}}, // a later target is one place nearer once the song has left
        {4, 1, {"a", "e", "b", "c", "d"}},
        {0, 5, {"b", "c", "d", "e", "a"}}, // to the end
        {2, 2, {"a", "b", "c", "d", "e"}},
    };
    for (const Case& c : cases) {
        FakeSongList set;
        SetHistory history;
        ASSERT_TRUE(history.SubmitStep(set, SetHistory::MoveSongStep(c.from, c.to)));
        EXPECT_EQ(set.songs, c.moved) << c.from << " -> " << c.to;
        ASSERT_TRUE(history.Undo(set));
        EXPECT_EQ(set.songs, (Songs{"a", "b", "c", "d", "e"})) << c.from << " -> " << c.to;
        ASSERT_TRUE(history.Redo(set));
        EXPECT_EQ(set.songs, c.moved);
    }
}

TEST(SetHistory, InsertAndDeleteReadTheSongFromItsPath)
{
    FakeSongList set;
    SetHistory history;
    ASSERT_TRUE(history.SubmitStep(set, SetHistory::InsertSongStep("Import song into set", "new", 2)));
    ASSERT_TRUE(history.SubmitStep(set, SetHistory::DeleteSongStep("a", 0)));
    EXPECT_EQ(set.songs, (Songs{"b", "new", "c", "d", "e"}));
    EXPECT_EQ(history.UndoMenuText(), "&Undo Delete Song\tCtrl+Z");
    ASSERT_TRUE(history.Undo(set));
    EXPECT_EQ(set.songs, (Songs{"a", "b", "new", "c", "d", "e"}));
    EXPECT_EQ(history.RedoMenuText(), "&Redo Delete Song\tCtrl+Y");
    ASSERT_TRUE(history.Undo(set));
    EXPECT_EQ(set.songs, (Songs{"a", "b", "c", "d", "e"}));
    EXPECT_FALSE(history.Undo(set));
}

TEST(SetHistory, StepsThatCannotBePerformedChangeNothing)
{
    FakeSongList set;
    set.unreadable = {"broken"};
    SetHistory history;
    ASSERT_TRUE(history.SubmitStep(set, SetHistory::MoveSongStep(0, 2)));
    ASSERT_TRUE(history.Undo(set));
    EXPECT_FALSE(history.SubmitStep(set, SetHistory::InsertSongStep("Paste Song", "broken", 0)));
    EXPECT_FALSE(history.SubmitStep(set, SetHistory::DeleteSongStep("zz", 9)));
    EXPECT_FALSE(history.SubmitStep(set, SetHistory::MoveSongStep(7, 0)));
    EXPECT_EQ(set.songs, (Songs{"a", "b", "c", "d", "e"}));
    EXPECT_TRUE(history.CanRedo()) << "the redo tail survives a refused step";

    // A deleted song whose file has gone meanwhile cannot come back: the undo does not move.
    ASSERT_TRUE(history.SubmitStep(set, SetHistory::DeleteSongStep("c", 2)));
    set.unreadable.insert("c");
    EXPECT_FALSE(history.Undo(set));
    EXPECT_EQ(history.Position(), 1u);
    set.unreadable.clear();
    EXPECT_TRUE(history.Undo(set));
    EXPECT_EQ(set.songs, (Songs{"a", "b", "c", "d", "e"}));

    // With no set open: a beep, and nothing changes.
    set.open = false;
    EXPECT_FALSE(history.SubmitStep(set, SetHistory::InsertSongStep("Paste Song", "x", 0)));
    EXPECT_FALSE(history.Redo(set));
    EXPECT_EQ(set.beeps, 2);
    EXPECT_EQ(set.songs, (Songs{"a", "b", "c", "d", "e"}));
    EXPECT_EQ(history.Position(), 0u);
}

TEST(SetHistory, ModifiedFlagFollowsTheSavedStep)
{
    FakeSongList set;
    SetHistory history;
    ASSERT_TRUE(history.SubmitStep(set, SetHistory::MoveSongStep(0, 2)));
    EXPECT_TRUE(set.modified);
    history.MarkSaved();
    set.modified = false;
    ASSERT_TRUE(history.Undo(set));
    EXPECT_TRUE(set.modified);
    ASSERT_TRUE(history.Redo(set));
    EXPECT_FALSE(set.modified);
    ASSERT_TRUE(history.Undo(set));
    ASSERT_TRUE(history.SubmitStep(set, SetHistory::MoveSongStep(1, 3)));
    ASSERT_TRUE(history.Undo(set));
    EXPECT_TRUE(set.modified) << "the saved step was discarded: modified until the next save";
}

} // namespace
} // namespace cantivo::test
