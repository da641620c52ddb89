#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

namespace cantivo {

// The tag of a track's notes in bits 24-31 of a packed note-on: the low byte of its patch setting, 0xFF
// when it sets none. The ports tag the notes they hold the same way, so a note held across a relocation
// is recognised and keeps sounding instead of being struck again.
inline constexpr uint32_t PatchTag(int32_t patch)
{
    return patch < 0 ? 0xFFu : static_cast<uint32_t>(patch) & 0xFFu;
}
inline constexpr int NoteTagShift = 24;

// A channel message the encoder had written before a block start, with the time it was written.
// The message is packed status | data1 << 8 | data2 << 16.
struct SnapshotMessage {
    uint32_t message = 0;
    int32_t time = 0;
};

// The state of one track at the start of a block of ticks: where to resume in the encoded image, and
// what the chase must send so the synthesizers stand as if the track had played from its start. The
// messages and notes lie in the track's flat arrays; blocks with the same state share one range.
struct SnapshotBlock {
    uint32_t imagePosition = 0; // first item at or after the block start, past its delta
    int32_t itemTime = 0;       // that item's time (0x7FFFFFFF when the track has nothing left)
    uint8_t runningStatus = 0;  // running status in force there
    // The last message of each kind, in the order the kinds were first met: per status byte and
    // controller number for controllers, per status byte for program change, channel pressure and pitch
    // bend.
    uint32_t firstMessage = 0;
    uint32_t messageCount = 0;
    // Notes sounding at the block start, in the order they were struck: packed note-ons tagged with
    // PatchTag in bits 24-31, at most one per channel and key.
    uint32_t firstNote = 0;
    uint32_t noteCount = 0;
};

// A track's playback snapshots, rebuilt by every encoding. Block b starts at tick b × interval. The play
// thread only reads them; the accessors neither allocate nor walk.
struct TrackSnapshots {
    int32_t interval = 0; // 0 when the track has none
    // Blocks starting before `reach` are known. 0x7FFFFFFF when the snapshots are complete: the last block
    // then holds the track's final state and stands for every later block as well. Lower when a size limit
    // cut them: a locate at or past it has no snapshot and must not walk the image instead.
    int32_t reach = 0;
    std::vector<SnapshotBlock> blocks;
    std::vector<SnapshotMessage> messages;
    std::vector<uint32_t> notes;

    // The block a locate to `tick` starts from (negative ticks count as 0); nullptr beyond the reach.
    const SnapshotBlock* BlockAt(int32_t tick) const
    {
        tick = std::max(tick, 0);
        if (blocks.empty() || tick >= reach)
            return nullptr;
        const auto index = static_cast<size_t>(tick / interval);
        return &blocks[std::min(index, blocks.size() - 1)];
    }
    std::span<const SnapshotMessage> Messages(const SnapshotBlock& block) const
    {
        return {messages.data() + block.firstMessage, block.messageCount};
    }
    std::span<const uint32_t> Notes(const SnapshotBlock& block) const
    {
        return {notes.data() + block.firstNote, block.noteCount};
    }
    // The messages and notes stored, which the size limits count.
    size_t Entries() const { return messages.size() + notes.size(); }
    // Empties them for a new encoding, keeping the capacity so re-encoding after an edit allocates little.
    void Clear(int32_t newInterval)
    {
        interval = std::max(newInterval, 0);
        reach = 0;
        blocks.clear();
        messages.clear();
        notes.clear();
    }
};

} // namespace cantivo
