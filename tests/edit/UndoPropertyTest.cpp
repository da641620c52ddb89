// Applying a step is its own inverse: over random songs and random steps of every kind, undo after
// redo gives back the song as it was, and redo after undo gives back the edited song, field by field.
//
// Two things are deliberately outside "as it was" after an undo: selection marks (what an undo or
// redo puts back comes back selected) and what extending the song appended: measures added to reach a
// longer song end stay, as continuations of the table, and the song end follows the restored content.

#include "SongFixtures.h"
#include "support/TestContext.h"

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
        FillRandomSong(song, random);
        UndoHistory& history = UndoHistory::Install(song);
        std::vector<SongState> states{Capture(song)};

        for (int k = 0; k < 10; ++k) {
            std::unique_ptr<UndoStep> step = RandomStep(song, random);
            std::ostringstream where;
            where << "seed " << seed << " step " << k << " kinds 0x" << std::hex << step->kinds;
            ASSERT_TRUE(history.SubmitStep(song, std::move(step))) << where.str();
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

// Larger songs, steps that move many events at once: the one-pass list rebuilding must keep every
// event where it belongs, in time order.
TEST(UndoProperty, StepsOverManyEventsRoundTrip)
{
    for (uint32_t seed = 100; seed < 110; ++seed) {
        TestContext context;
        Song song(context.Context());
        Random random(seed);
        FillRandomSong(song, random, 8, 400);
        UndoHistory& history = UndoHistory::Install(song);
        const SongState original = Capture(song);

        auto step = std::make_unique<UndoStep>(StepEvents, "Move events");
        AddEventChanges(*step, song, random, false);
        const std::vector<EventRef> removed = step->events.RemoveRefs();
        for (int number = 1; number + 1 < static_cast<int>(song.tracks.size()); ++number) {
            const Track& track = *song.tracks[static_cast<size_t>(number)];
            for (size_t i = 0; i < track.events.size(); i += 3) {
                const EventRef ref = MakeEventRef(number, static_cast<uint32_t>(i));
                if (std::find(removed.begin(), removed.end(), ref) != removed.end())
                    continue;
                SongEvent moved = track.events[i];
                moved.time = std::max(0, moved.time + random.Int(-500, 500));
                step->events.Remove(ref);
                step->events.InsertByTime(number, std::move(moved));
            }
        }
        ASSERT_TRUE(history.SubmitStep(song, std::move(step)));
        for (const auto& track : song.tracks)
            ASSERT_TRUE(std::is_sorted(track->events.begin(), track->events.end(),
                                       [](const SongEvent& a, const SongEvent& b) { return a.time < b.time; }))
                << "seed " << seed;
        const SongState edited = Capture(song);
        for (int round = 0; round < 3; ++round) {
            ASSERT_TRUE(history.Undo(song));
            ASSERT_EQ(Difference(original, Capture(song), AfterUndo), "") << "seed " << seed;
            ASSERT_TRUE(history.Redo(song));
            ASSERT_EQ(Difference(edited, Capture(song)), "") << "seed " << seed;
        }
    }
}

} // namespace
} // namespace cantivo::test
