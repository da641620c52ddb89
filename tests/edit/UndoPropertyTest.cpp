// Applying a step is its own inverse: over random songs and random steps of every kind, undo after
// redo gives back the song as it was, and redo after undo gives back the edited song, field by field.
//
// Two things are deliberately outside "as it was" after an undo: selection marks (what an undo or
// redo puts back comes back selected) and what extending the song appended: measures added to reach a
// longer song end stay, as continuations of the table, and the song end follows the restored content.

#include "SongFixtures.h"

#include <gtest/gtest.h>

namespace cantivo::test {
namespace {

constexpr CompareOptions AfterUndo{true, false};

TEST(UndoProperty, UndoAfterRedoRestoresAndRedoAfterUndoReapplies)
{
    for (uint32_t seed = 1; seed <= 80; ++seed) {
        TestContext context;
        Song song(context.Context());
        Random random(seed);
        // Every eighth song is large, so that steps touch hundreds of events at once and the one-pass
        // list rebuilding has to keep every event where it belongs.
        const bool large = seed % 8 == 0;
        FillRandomSong(song, random, large ? 8 : 4, large ? 400 : 40);
        UndoHistory& history = UndoHistory::Install(song);
        std::vector<SongState> states{Capture(song)};

        for (int k = 0; k < 10; ++k) {
            std::unique_ptr<UndoStep> step = RandomStep(song, random);
            std::ostringstream where;
            where << "seed " << seed << " step " << k << " kinds 0x" << std::hex << step->kinds;
            ASSERT_TRUE(history.SubmitStep(song, std::move(step))) << where.str();
            for (const auto& track : song.tracks)
                ASSERT_TRUE(std::is_sorted(track->events.begin(), track->events.end(),
                                           [](const SongEvent& a, const SongEvent& b) { return a.time < b.time; }))
                    << where.str();
            const SongState edited = Capture(song);

            ASSERT_TRUE(history.Undo(song)) << where.str();
            ASSERT_EQ(Difference(states.back(), Capture(song), AfterUndo), "") << where.str() << " (undo)";
            ASSERT_TRUE(history.Redo(song)) << where.str();
            ASSERT_EQ(Difference(edited, Capture(song)), "") << where.str() << " (redo)";
            states.push_back(edited);
        }

        // All the way back, then all the way forward again.
        for (size_t k = states.size() - 1; k > 0; --k) {
            ASSERT_TRUE(history.Undo(song));
            ASSERT_EQ(Difference(states[k - 1], Capture(song), AfterUndo), "")
                << "seed " << seed << " back to " << k - 1;
        }
        EXPECT_FALSE(history.Undo(song));
        while (history.Redo(song)) {
        }
        EXPECT_EQ(Difference(states.back(), Capture(song), AfterUndo), "") << "seed " << seed << " forward";
    }
}

} // namespace
} // namespace cantivo::test
