#include "song/RawEventReader.h"

#include "song/ProgramMeta.h"

#include <cstring>

namespace cantivo {

int RawEventReader::ReadVarLen(RawReadState& cursor, uint32_t& value) const
{
    uint32_t result = 0;
    size_t at = cursor.cursor;
    // A delta or length never takes more than four bytes (28 bits); a longer one is damage.
    for (int used = 1; used <= 4; ++used) {
        if (at >= size_)
            return 0;
        const uint8_t byte = data_[at++];
        result = (result << 7) | (byte & 0x7F);
        if (byte < 0x80) {
            value = result;
            cursor.cursor = at;
            return used;
        }
    }
    return 0;
}

// Reads the delta at the cursor and advances the next event time by it; when it cannot be read, or
// the time would leave the tick range, no event is left.
void RawEventReader::AdvanceTime(RawReadState& cursor) const
{
    uint32_t delta = 0;
    if (ReadVarLen(cursor, delta) == 0 || int64_t{cursor.nextEventTime} + delta > LastTick) {
        cursor.nextEventTime = NoEventLeft;
        return;
    }
    cursor.nextEventTime += static_cast<int32_t>(delta);
}

void RawEventReader::Start(RawReadState& cursor) const
{
    cursor = RawReadState{};
    cursor.nextEventTime = 0;
    AdvanceTime(cursor);
}

// A message ends at its first F7, not by the length after F0: the program's own destination records
// carry no length there. A standard message whose declared length ends on an F7 is taken whole, since
// its length field may itself hold an F7 (15232 to 15359 bytes) or other programs put F7 inside.
bool RawEventReader::SysexEnd(size_t statusAt, size_t& endAt) const
{
    const void* first = std::memchr(data_ + statusAt + 1, 0xF7, size_ - statusAt - 1);
    if (!first)
        return false;
    endAt = static_cast<size_t>(static_cast<const uint8_t*>(first) - data_);
    // The program's own record: F0 7F 7F 09, no length.
    const bool ownRecord = size_ - statusAt > 3 && data_[statusAt + 1] == 0x7F && data_[statusAt + 2] == 0x7F &&
                           data_[statusAt + 3] == 0x09;
    if (ownRecord)
        return true;
    RawReadState lengthAt;
    lengthAt.cursor = statusAt + 1;
    uint32_t length = 0;
    if (ReadVarLen(lengthAt, length) == 0 || length == 0 || length > size_ - lengthAt.cursor)
        return true;
    const size_t declaredEnd = lengthAt.cursor + length - 1;
    if (declaredEnd > endAt && data_[declaredEnd] == 0xF7)
        endAt = declaredEnd;
    return true;
}

// Anything that cannot be decoded (a truncated event, a data byte without a running status, a status
// no file may hold) ends the chunk; what came before stays.
bool RawEventReader::Next(RawReadState& state, RawEvent& event) const
{
    const uint8_t* data = data_;
    const size_t size = size_;
    for (;;) {
        if (state.nextEventTime == NoEventLeft || state.cursor >= size) {
            state.nextEventTime = NoEventLeft;
            return false;
        }
        event.time = state.nextEventTime;
        event.length = 0;
        event.data = nullptr;
        event.data2 = 0;
        size_t cursor = state.cursor;
        const size_t statusAt = cursor;
        uint8_t byte = data[cursor++];
        uint8_t status = 0;
        if (byte < 0x80) {
            if (state.runningStatus == 0)
                break;
            status = state.runningStatus;
            event.data1 = byte;
        } else {
            status = byte;
            // F1-F6 and F8-FE are live messages that a file cannot hold; their length is unknown.
            if (status > 0xF0 && status != 0xF7 && status != 0xFF)
                break;
            if (cursor >= size)
                break;
            event.data1 = data[cursor++];
        }
        event.status = status;

        if (status == 0xFF) {
            state.runningStatus = 0;
            if (event.data1 == 0x2F)
                break;
            RawReadState lengthAt;
            lengthAt.cursor = cursor;
            uint32_t length = 0;
            if (ReadVarLen(lengthAt, length) == 0 || length > size - lengthAt.cursor)
                break;
            cursor = lengthAt.cursor;
            event.length = length;
            event.data = data + cursor;
            cursor += length;
        } else if (status == 0xF0) {
            state.runningStatus = 0;
            size_t endAt = 0;
            if (!SysexEnd(statusAt, endAt))
                break;
            event.data = data + statusAt;
            event.length = static_cast<uint32_t>(endAt - statusAt + 1);
            cursor = endAt + 1;
        } else if (status == 0xF7) {
            // An escaped packet (a sysex continuation or raw bytes): it has no place in the song, so it
            // is stepped over.
            state.runningStatus = 0;
            RawReadState lengthAt;
            lengthAt.cursor = cursor - 1;
            uint32_t length = 0;
            if (ReadVarLen(lengthAt, length) == 0 || length > size - lengthAt.cursor)
                break;
            state.cursor = lengthAt.cursor + length;
            AdvanceTime(state);
            continue;
        } else {
            state.runningStatus = status;
            if (event.data1 >= 0x80)
                break;
            const uint8_t type = status & 0xF0;
            if (type != 0xC0 && type != 0xD0) {
                if (cursor >= size || data[cursor] >= 0x80)
                    break;
                event.data2 = data[cursor++];
            }
        }
        state.cursor = cursor;
        AdvanceTime(state);
        return true;
    }
    state.nextEventTime = NoEventLeft;
    return false;
}

bool IsProgramMeta(const RawEvent& event)
{
    return event.status == 0xFF && event.data1 == 0x7F && event.length >= 3 && event.data[0] == ProgramMeta::Tag[0] &&
           event.data[1] == ProgramMeta::Tag[1];
}

std::string TextFrom(const uint8_t* data, size_t length, size_t limit)
{
    const void* nul = length ? std::memchr(data, 0, length) : nullptr;
    size_t size = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - data) : length;
    if (size > limit) {
        size = limit;
        while (size > 0 && (data[size] & 0xC0) == 0x80)
            --size;
    }
    return std::string(reinterpret_cast<const char*>(data), size);
}

} // namespace cantivo
