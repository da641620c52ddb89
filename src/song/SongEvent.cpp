#include "song/SongEvent.h"

#include "song/AudioClip.h"

#include <cstring>
#include <utility>

namespace cantivo {

SongEvent::SongEvent(const SongEvent& other)
    : kind(other.kind), time(other.time), length(other.length), selectionMark(other.selectionMark),
      reserved(other.reserved), notation(other.notation), spelling(other.spelling), isClip_(other.isClip_)
{
    CopyDataFrom(other);
}

// Every field but the data pointer; the callers decide whether the data is copied or taken.
void SongEvent::CopyFieldsFrom(const SongEvent& other)
{
    kind = other.kind;
    time = other.time;
    length = other.length;
    selectionMark = other.selectionMark;
    reserved = other.reserved;
    notation = other.notation;
    spelling = other.spelling;
    isClip_ = other.isClip_;
}

SongEvent& SongEvent::operator=(const SongEvent& other)
{
    if (this != &other) {
        FreeData();
        CopyFieldsFrom(other);
        CopyDataFrom(other);
    }
    return *this;
}

SongEvent::SongEvent(SongEvent&& other) noexcept
    : kind(other.kind), time(other.time), length(other.length), selectionMark(other.selectionMark),
      reserved(other.reserved), notation(other.notation), spelling(other.spelling), isClip_(other.isClip_),
      data_(std::exchange(other.data_, nullptr))
{
}

SongEvent& SongEvent::operator=(SongEvent&& other) noexcept
{
    if (this != &other) {
        FreeData();
        CopyFieldsFrom(other);
        data_ = std::exchange(other.data_, nullptr);
    }
    return *this;
}

void SongEvent::FreeData()
{
    if (!data_)
        return;
    if (isClip_)
        delete static_cast<AudioClip*>(data_);
    else
        delete[] static_cast<uint8_t*>(data_);
    data_ = nullptr;
}

void SongEvent::CopyDataFrom(const SongEvent& other)
{
    data_ = nullptr;
    if (!other.data_)
        return;
    if (other.IsAudioClip()) {
        data_ = other.ClipData()->Clone().release();
    } else {
        AllocateBytes(other.Data(), other.DataSize());
    }
}

void SongEvent::AllocateBytes(const uint8_t* bytes, size_t size)
{
    data_ = nullptr;
    if (size == 0)
        return;
    auto* block = new uint8_t[BlockHeader + size];
    std::memcpy(block, &size, BlockHeader);
    std::memcpy(block + BlockHeader, bytes, size);
    data_ = block;
}

size_t SongEvent::DataSize() const
{
    if (!Data())
        return 0;
    size_t size = 0;
    std::memcpy(&size, Block(), BlockHeader);
    return size;
}

void SongEvent::SetData(const uint8_t* bytes, size_t size)
{
    FreeData();
    isClip_ = false;
    length = static_cast<int32_t>(size);
    AllocateBytes(bytes, size);
}

void SongEvent::SetClip(std::unique_ptr<AudioClip> clip)
{
    FreeData();
    kind = KindAudioClip;
    isClip_ = true;
    data_ = clip.release();
}

std::unique_ptr<AudioClip> SongEvent::ReleaseClip()
{
    if (!IsAudioClip())
        return nullptr;
    return std::unique_ptr<AudioClip>(static_cast<AudioClip*>(std::exchange(data_, nullptr)));
}

SongEvent SongEvent::Short(int32_t time, uint8_t status, uint8_t data1, uint8_t data2)
{
    SongEvent event;
    event.kind = status | (uint32_t{data1} << 8) | (uint32_t{data2} << 16);
    event.time = time;
    return event;
}

SongEvent SongEvent::Note(int32_t time, uint8_t channel, uint8_t key, uint8_t velocity, int32_t duration)
{
    SongEvent event = Short(time, static_cast<uint8_t>(0x90 | (channel & 0x0F)), key, velocity);
    event.length = duration;
    return event;
}

SongEvent SongEvent::Meta(int32_t time, uint8_t type, const uint8_t* bytes, size_t size)
{
    SongEvent event = Short(time, 0xFF, type);
    event.SetData(bytes, size);
    return event;
}

SongEvent SongEvent::Sysex(int32_t time, const uint8_t* bytes, size_t size)
{
    SongEvent event = Short(time, 0xF0, 0);
    event.SetData(bytes, size);
    return event;
}

SongEvent SongEvent::Parameter(int32_t time, bool registered, uint32_t number, int32_t value)
{
    SongEvent event;
    event.kind = (registered ? StatusRpn : StatusNrpn) | ((number & 0x3FFF) << 8);
    event.time = time;
    event.length = value;
    return event;
}

SongEvent SongEvent::Clip(int32_t time, std::unique_ptr<AudioClip> clip)
{
    SongEvent event;
    event.time = time;
    event.length = 120;
    event.SetClip(std::move(clip));
    return event;
}

} // namespace cantivo
