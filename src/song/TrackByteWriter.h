#pragma once

#include "song/ProgramMeta.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string_view>
#include <utility>
#include <vector>

namespace cantivo {

// The longest delta a file can hold (four bytes of seven bits); longer gaps are split by
// ProgramMeta::Gap records.
inline constexpr uint32_t MaxFileDelta = 0x0FFFFFFF;

// Told before each item's delta is written, once the item's time reaches the mark it last returned.
class TrackItemObserver {
  public:
    virtual ~TrackItemObserver() = default;
    // `position` is where the item's first byte will stand. Returns the next time to be told at.
    virtual int64_t ItemReached(int32_t time, size_t position) = 0;
};

// Writes the bytes of one "MTrk" chunk: deltas relative to the previous item (with gap fillers for
// silences longer than a file can hold), channel messages, metas and system-exclusive messages.
// Items arrive in time order; an earlier time is written at the previous item's time.
class TrackByteWriter {
  public:
    // With running status the status byte of a channel message is left out when it repeats; a meta or
    // system-exclusive item cancels it.
    explicit TrackByteWriter(bool runningStatus) : runningStatus_(runningStatus) {}

    // Takes `storage` as the buffer, so a track encoded again reuses its old image's memory.
    void Reuse(std::vector<uint8_t>&& storage, size_t expectedSize)
    {
        buffer_ = std::move(storage);
        buffer_.resize(std::max<size_t>(expectedSize, 16));
        size_ = 0;
    }
    void SetObserver(TrackItemObserver* observer, int64_t firstMark)
    {
        observer_ = observer;
        nextMark_ = firstMark;
    }

    // Starts an item of at most `size` bytes at `time` and writes its delta; returns the time it
    // stands at. Plain bytes of the item follow through Put.
    int32_t BeginItem(int32_t time, size_t size);
    void Put(uint8_t byte) { buffer_[size_++] = byte; }
    void PutBytes(const uint8_t* bytes, size_t count)
    {
        if (count > 0)
            std::memcpy(buffer_.data() + size_, bytes, count);
        size_ += count;
    }
    void PutVarLen(uint32_t value);

    // `dataBytes` is 1 for program change and channel pressure, else 2; data bytes are kept to 7 bits.
    void PutChannelMessage(int32_t time, uint8_t status, uint8_t data1, uint8_t data2, int dataBytes);
    void PutMeta(int32_t time, uint8_t type, const uint8_t* data, size_t size);
    void PutMeta(int32_t time, uint8_t type, std::string_view text)
    {
        PutMeta(time, type, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    }
    // FF 7F, then 'c' 'v', the subtype and at most five values.
    void PutProgramMeta(int32_t time, uint8_t subtype, std::initializer_list<uint8_t> values);
    // The reader takes a message from 0xF0 to the first 0xF7; one without them would swallow the rest
    // of the track, so they are supplied when an edit left them out. Nothing is written for no bytes.
    void PutSysex(int32_t time, const uint8_t* data, size_t size);
    // The end-of-track meta at the time of the last item.
    void PutEndOfTrack();

    // The chunk's contents; the writer is empty afterwards.
    std::vector<uint8_t> Finish();

    int32_t LastTime() const { return lastTime_; }
    size_t Size() const { return size_; }
    uint8_t RunningStatus() const { return lastStatus_; }

  private:
    static size_t VarLenSize(uint32_t value)
    {
        size_t size = 1;
        while (value >>= 7)
            ++size;
        return size;
    }
    void Ensure(size_t count)
    {
        if (size_ + count > buffer_.size())
            buffer_.resize(std::max(buffer_.size() * 2, size_ + count));
    }

    const bool runningStatus_;
    std::vector<uint8_t> buffer_;
    size_t size_ = 0;
    int32_t lastTime_ = 0;
    uint8_t lastStatus_ = 0; // the status in force for running status; 0 for none
    TrackItemObserver* observer_ = nullptr;
    int64_t nextMark_ = INT64_MAX;
};

// Called for every item of every track at each edit, so kept where the compiler can inline it.
inline void TrackByteWriter::PutVarLen(uint32_t value)
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

inline int32_t TrackByteWriter::BeginItem(int32_t time, size_t size)
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

inline void TrackByteWriter::PutChannelMessage(int32_t time, uint8_t status, uint8_t data1, uint8_t data2,
                                               int dataBytes)
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

// Note-offs still to be written for the note-ons already written: the earliest comes first, and those
// of one tick in the order their notes started.
class PendingNoteOffs {
  public:
    struct NoteOff {
        int64_t time;
        uint32_t order;
        uint32_t message; // the note-on as written: status | key << 8 | velocity << 16
    };

    void Reserve(size_t count) { heap_.reserve(count); }
    bool Empty() const { return heap_.empty(); }
    const NoteOff& Next() const { return heap_.front(); }
    // The order the next note added gets.
    uint32_t NextOrder() const { return order_; }
    void Add(int64_t time, uint32_t message);
    NoteOff Take();

  private:
    struct Later {
        bool operator()(const NoteOff& a, const NoteOff& b) const
        {
            return a.time != b.time ? a.time > b.time : a.order > b.order;
        }
    };
    std::vector<NoteOff> heap_;
    uint32_t order_ = 0;
};

// The controller messages that send an RPN or NRPN event: the parameter is selected (controllers
// 101/100, or 99/98) only when it differs from `selected`, which is updated; then increment (96),
// decrement (97) or the value as data entry MSB and LSB (6, 38).
struct ParameterControllers {
    std::array<std::pair<uint8_t, uint8_t>, 4> messages; // controller, value
    int count = 0;
};
// `selected` holds registered-or-not in bit 16 and the number below; −1 when unknown.
ParameterControllers ExpandParameter(bool registered, uint32_t number, int32_t value, int32_t& selected);

} // namespace cantivo
