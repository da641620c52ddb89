#pragma once

#include <cstdint>
#include <vector>

namespace cantivo {

// A channel message the encoder had written before a block start, with the time it was written.
// The message is packed status | data1 << 8 | data2 << 16.
struct SnapshotMessage {
    uint32_t message = 0;
    int32_t time = 0;
};

// The state of one track at the start of a block of ticks: where to resume in the encoded image, and
// what the chase must send so the synthesizers stand as if the track had played from its start.
struct PlaybackSnapshot {
    uint32_t imagePosition = 0; // first item at or after the block start
    int32_t itemTime = 0;       // that item's time (0x7FFFFFFF when the track has nothing left)
    uint8_t runningStatus = 0;  // running status in force there
    // The last message of each kind: per status byte and controller number for controllers, per status
    // byte for program change, channel pressure and pitch bend.
    std::vector<SnapshotMessage> lastMessages;
    // Notes sounding at the block start: packed note-on messages, tagged with the track in bits 24-31.
    std::vector<uint32_t> soundingNotes;
};

} // namespace cantivo
