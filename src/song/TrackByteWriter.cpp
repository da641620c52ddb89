#include "song/TrackByteWriter.h"

#include "song/SongEvent.h"

namespace cantivo {

namespace {

size_t VarLenSize(uint32_t value)
{
    size_t size = 1;
    while (value >>= 7)
        ++size;
    return size;
}

} // namespace

int32_t TrackByteWriter::BeginItem(int32_t time, size_t size)
{
    // Inputs are merged in time order; this only guards against a malformed duration.
    if (time < lastTime_)
        time = lastTime_;
    // A delta holds 28 bits; a longer silence gets fillers the reader drops.
    while (static_cast<uint32_t>(time - lastTime_) > MaxFileDelta)
        PutProgramMeta(static_cast<int32_t>(lastTime_ + MaxFileDelta), ProgramMeta::Gap, {});
    const auto delta = static_cast<uint32_t>(time - lastTime_);
    const size_t deltaSize = VarLenSize(delta);
    if (time >= nextMark_) [[unlikely]]
        nextMark_ = observer_ ? observer_->ItemReached(time, size_ + deltaSize) : INT64_MAX;
    Ensure(deltaSize + size);
    PutVarLen(delta);
    lastTime_ = time;
    return time;
}

void TrackByteWriter::PutVarLen(uint32_t value)
{
    if (value < 0x80) [[likely]] {
        Put(static_cast<uint8_t>(value));
        return;
    }
    uint8_t bytes[5];
    int count = 0;
    bytes[count++] = static_cast<uint8_t>(value & 0x7F);
    while (value >>= 7)
        bytes[count++] = static_cast<uint8_t>(0x80 | (value & 0x7F));
    while (count > 0)
        Put(bytes[--count]);
}

void TrackByteWriter::PutChannelMessage(int32_t time, uint8_t status, uint8_t data1, uint8_t data2, int dataBytes)
{
    BeginItem(time, 3);
    if (!runningStatus_ || status != lastStatus_) {
        Put(status);
        lastStatus_ = runningStatus_ ? status : 0;
    }
    Put(data1 & 0x7F);
    if (dataBytes == 2)
        Put(data2 & 0x7F);
}

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
