#pragma once

#include "song/PlaybackSnapshot.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace cantivo {

// Follows the channel state of a track while the encoder writes its image, and stores it into the track's
// snapshots at every block start, so a locate can start from there instead of from the track's start.
class SnapshotRecorder {
  public:
    static constexpr int64_t Never = std::numeric_limits<int64_t>::max();

    // Empties `snapshots`; records into them only when `interval` > 0, holding at most `entryLimit` messages
    // and notes; sounding notes carry `noteTag` in bits 24-31.
    SnapshotRecorder(TrackSnapshots& snapshots, int32_t interval, uint32_t noteTag, size_t entryLimit);

    // The start of the next block to store, Never when no more are stored.
    int64_t NextBlockStart() const { return nextBlockStart_; }
    // Stores the blocks that start at or before `time`, the time of the item about to be written at
    // `position` (past its delta) with `runningStatus` in force.
    void StoreBlocks(uint32_t position, int32_t time, uint8_t runningStatus);
    // A channel message written at `time`.
    void ChannelMessage(uint8_t status, uint8_t data1, uint8_t data2, int32_t time);
    // A note-on (status | key << 8 | velocity << 16) and its note-off as written.
    void NoteStarted(uint32_t message);
    void NoteEnded(uint32_t message);
    // After the last item, `imageSize` bytes in all: stores the final state for the blocks after the last
    // item, or, when a limit cut the snapshots, records how far they reach.
    void Finish(uint32_t imageSize);

  private:
    void Store(uint32_t position, int32_t time, uint8_t runningStatus);
    bool Active() const { return snapshots_.interval > 0; }
    bool RoomForBlock() const;
    void CutHere();

    TrackSnapshots& snapshots_;
    const uint32_t noteTag_;
    const size_t entryLimit_;
    int64_t nextBlockStart_ = Never;
    bool cut_ = false;
    // Whether the state differs from the last block stored; an unchanged block shares that one's entries.
    bool changed_ = true;

    // The last channel message of each slot, in the order the slots were first met.
    std::array<int32_t, 16 * 128 + 3 * 16> slotIndex_;
    std::vector<SnapshotMessage> lastMessages_;
    // The sounding notes per channel and key: how many, and the latest note-on with its strike order.
    // A key sounds at most once per channel on the wire, so a block holds one note per channel and key,
    // whatever a file stacks there. `soundingSlots_` lists the slots with a count, in no order.
    struct Struck {
        uint32_t order;
        uint32_t message;
    };
    std::array<uint32_t, 16 * 128> soundingCount_;
    std::array<Struck, 16 * 128> latestNoteOn_;
    std::vector<uint16_t> soundingSlots_;
    std::vector<uint16_t> soundingScratch_;
    uint32_t strikeOrder_ = 0;
};

} // namespace cantivo
