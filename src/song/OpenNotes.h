#pragma once

#include "song/SongEvent.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace cantivo {

// The open notes of a track being read, oldest first for each channel and key: a queue per slot
// threaded through one array indexed by event number, so pairing allocates nothing per note.
class OpenNotes {
  public:
    explicit OpenNotes(size_t events) : next_(events, -1) { Clear(); }

    void Clear()
    {
        head_.fill(-1);
        tail_.fill(-1);
    }
    void Open(uint8_t channel, uint8_t key, int32_t index)
    {
        if (static_cast<size_t>(index) >= next_.size())
            next_.resize(static_cast<size_t>(index) + 1, -1);
        const int slot = Slot(channel, key);
        next_[static_cast<size_t>(index)] = -1;
        if (tail_[slot] < 0)
            head_[slot] = index;
        else
            next_[static_cast<size_t>(tail_[slot])] = index;
        tail_[slot] = index;
    }
    // The oldest open note of the channel and key, taken off the list; −1 when there is none.
    int32_t Close(uint8_t channel, uint8_t key)
    {
        const int slot = Slot(channel, key);
        const int32_t index = head_[slot];
        if (index < 0)
            return -1;
        head_[slot] = next_[static_cast<size_t>(index)];
        if (head_[slot] < 0)
            tail_[slot] = -1;
        return index;
    }
    // Pairs a note-off (or a note-on of velocity 0) with the oldest open note of its channel and key,
    // which gets its duration; an unmatched note-off does nothing.
    void CloseInto(std::vector<SongEvent>& events, uint8_t channel, uint8_t key, int32_t time)
    {
        const int32_t index = Close(channel, key);
        if (index >= 0) {
            SongEvent& note = events[static_cast<size_t>(index)];
            note.length = time - note.time;
        }
    }

  private:
    static constexpr int SlotCount = 16 * 128;
    static int Slot(uint8_t channel, uint8_t key) { return (channel & 0x0F) * 128 + (key & 0x7F); }

    std::array<int32_t, SlotCount> head_;
    std::array<int32_t, SlotCount> tail_;
    std::vector<int32_t> next_;
};

} // namespace cantivo
