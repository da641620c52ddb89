#pragma once

#include "song/Track.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cantivo {

inline constexpr int32_t LastTick = 0x7FFFFFFE; // NoEventLeft is the first value past the tick range

// Where a reader stands in a raw chunk; owned by whoever walks it.
struct RawReadState {
    size_t cursor = 0;
    uint8_t runningStatus = 0; // 0 = none
    int32_t nextEventTime = NoEventLeft;
};

// One event as it stands in a raw chunk. `data` points into the chunk.
struct RawEvent {
    int32_t time = 0;
    uint8_t status = 0;
    uint8_t data1 = 0;
    uint8_t data2 = 0;
    uint32_t length = 0;
    const uint8_t* data = nullptr;
};

// Decodes the events of a raw chunk (a track image) that stays const: the position lives in a
// RawReadState the caller owns, so several readers (a snapshot's, the parser's) can walk one image.
class RawEventReader {
  public:
    RawEventReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    explicit RawEventReader(const std::vector<uint8_t>& image) : data_(image.data()), size_(image.size()) {}

    // Puts the cursor at the start of the chunk and reads the first delta.
    void Start(RawReadState& cursor) const;
    // Decodes the event at the cursor and reads the delta after it; false when no event is left.
    bool Next(RawReadState& cursor, RawEvent& event) const;
    // Reads a variable-length number at the cursor: the count of bytes used, 0 when the chunk ends
    // inside the number or the number runs past four bytes (the cursor then stays where it was).
    int ReadVarLen(RawReadState& cursor, uint32_t& value) const;

  private:
    void AdvanceTime(RawReadState& cursor) const;
    // The end (the closing F7) of the system-exclusive message whose F0 is at `statusAt`; false when
    // the chunk holds none.
    bool SysexEnd(size_t statusAt, size_t& endAt) const;

    const uint8_t* data_;
    size_t size_;
};

// True for the program's own sequencer-specific meta event ('c' 'v' subtype ...).
bool IsProgramMeta(const RawEvent& event);

// A text from a meta event: up to its first NUL, cut to `limit` bytes without splitting a UTF-8
// sequence.
std::string TextFrom(const uint8_t* data, size_t length, size_t limit);

inline constexpr size_t TextLimit = 99;      // track names, texts, copyright
inline constexpr size_t CueTextLimit = 127;  // markers, cue labels, measure labels
inline constexpr size_t ClipNameLimit = 260; // audio clip file names

} // namespace cantivo
