#include "song/TrackByteWriter.h"

#include "song/SongEvent.h"

namespace cantivo {

void TrackByteWriter::PutMeta(int32_t time, uint8_t type, const uint8_t* data, size_t size)
{
    BeginItem(time, 2 + 5 + size);
    Put(0xFF);
    Put(type);
    PutVarLen(static_cast<uint32_t>(size));
    PutBytes(data, size);
    lastStatus_ = 0;
}

void TrackByteWriter::PutProgramMeta(int32_t time, uint8_t subtype, std::initializer_list<uint8_t> values)
{
    uint8_t data[8] = {ProgramMeta::Tag[0], ProgramMeta::Tag[1], subtype};
    size_t size = 3;
    for (uint8_t value : values)
        if (size < sizeof data)
            data[size++] = value;
    PutMeta(time, 0x7F, data, size);
}

void TrackByteWriter::PutSysex(int32_t time, const uint8_t* data, size_t size)
{
    if (size == 0)
        return;
    const bool addStart = data[0] != 0xF0;
    const bool addEnd = data[size - 1] != 0xF7;
    BeginItem(time, size + 2);
    if (addStart)
        Put(0xF0);
    PutBytes(data, size);
    if (addEnd)
        Put(0xF7);
    lastStatus_ = 0;
}

void TrackByteWriter::PutEndOfTrack()
{
    Ensure(4);
    for (uint8_t byte : {uint8_t{0}, uint8_t{0xFF}, uint8_t{0x2F}, uint8_t{0}})
        Put(byte);
    lastStatus_ = 0;
}

std::vector<uint8_t> TrackByteWriter::Finish()
{
    buffer_.resize(size_);
    size_ = 0;
    lastTime_ = 0;
    lastStatus_ = 0;
    return std::move(buffer_);
}

void PendingNoteOffs::Add(int64_t time, uint32_t message)
{
    heap_.push_back({time, order_++, message});
    std::push_heap(heap_.begin(), heap_.end(), Later{});
}

PendingNoteOffs::NoteOff PendingNoteOffs::Take()
{
    std::pop_heap(heap_.begin(), heap_.end(), Later{});
    const NoteOff note = heap_.back();
    heap_.pop_back();
    return note;
}

ParameterControllers ExpandParameter(bool registered, uint32_t number, int32_t value, int32_t& selected)
{
    ParameterControllers out;
    auto add = [&](uint8_t controller, uint32_t data) {
        out.messages[static_cast<size_t>(out.count++)] = {controller, static_cast<uint8_t>(data & 0x7F)};
    };
    number &= 0x3FFF;
    const int32_t selection = (registered ? 1 << 16 : 0) | static_cast<int32_t>(number);
    if (selection != selected) {
        add(registered ? 101 : 99, number >> 7);
        add(registered ? 100 : 98, number);
        selected = selection;
    }
    if (value == ParamIncrement) {
        add(96, 0);
    } else if (value == ParamDecrement) {
        add(97, 0);
    } else {
        add(6, static_cast<uint32_t>(value) >> 7);
        add(38, static_cast<uint32_t>(value));
    }
    return out;
}

} // namespace cantivo
