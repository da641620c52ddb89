#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace cantivo {

class AudioClip;

// Status values of the kind word's low byte that do not exist on the wire.
inline constexpr uint8_t StatusRpn = 0x10;
inline constexpr uint8_t StatusNrpn = 0x20;
inline constexpr uint32_t KindAudioClip = 0x7FF;
// Parameter-event values that stand for data increment / decrement.
inline constexpr int32_t ParamIncrement = 100000;
inline constexpr int32_t ParamDecrement = -100000;

// One timed event, held by value in its track's event array. The kind word's low byte is the status,
// byte 1 and byte 2 the data bytes (for RPN/NRPN bits 8-31 are the parameter number). System-exclusive
// and meta events own their bytes (`length` tells their count to the views and files; DataSize() is the
// count held with the allocation); an audio-clip event owns its AudioClip.
class SongEvent {
  public:
    SongEvent() = default;
    ~SongEvent() { FreeData(); }
    SongEvent(const SongEvent& other);
    SongEvent& operator=(const SongEvent& other);
    SongEvent(SongEvent&& other) noexcept;
    SongEvent& operator=(SongEvent&& other) noexcept;

    static SongEvent Short(int32_t time, uint8_t status, uint8_t data1, uint8_t data2 = 0);
    static SongEvent Note(int32_t time, uint8_t channel, uint8_t key, uint8_t velocity, int32_t duration);
    static SongEvent Meta(int32_t time, uint8_t type, const uint8_t* bytes, size_t size);
    // `bytes` is the whole message from 0xF0 up to and including the closing 0xF7.
    static SongEvent Sysex(int32_t time, const uint8_t* bytes, size_t size);
    static SongEvent Parameter(int32_t time, bool registered, uint32_t number, int32_t value);
    static SongEvent Clip(int32_t time, std::unique_ptr<AudioClip> clip);

    uint8_t Status() const { return static_cast<uint8_t>(kind & 0xFF); }
    uint8_t Channel() const { return static_cast<uint8_t>(kind & 0x0F); }
    uint8_t Type() const { return static_cast<uint8_t>(kind & 0xF0); }
    uint8_t Data1() const { return static_cast<uint8_t>((kind >> 8) & 0xFF); }
    uint8_t Data2() const { return static_cast<uint8_t>((kind >> 16) & 0xFF); }
    uint32_t ParameterNumber() const { return kind >> 8; }
    bool IsNote() const { return Type() == 0x90; }
    bool IsChannelMessage() const { return Type() >= 0x80 && Type() < 0xF0; }
    bool IsParameter() const { return Status() == StatusRpn || Status() == StatusNrpn; }
    bool IsSysex() const { return Status() == 0xF0; }
    bool IsMeta() const { return Status() == 0xFF && !isClip_; }
    // A cue-point meta (type 7) has the same kind word as a clip event, so the event remembers which
    // one it is: only an event made with a clip owns an AudioClip.
    bool IsAudioClip() const { return isClip_; }
    void SetData1(uint8_t value) { kind = (kind & ~0xFF00u) | (uint32_t{value} << 8); }
    void SetData2(uint8_t value) { kind = (kind & ~0xFF0000u) | (uint32_t{value} << 16); }
    void SetChannel(uint8_t channel) { kind = (kind & ~0x0Fu) | (channel & 0x0Fu); }

    // The owned bytes of a system-exclusive or meta event (null when there are none).
    const uint8_t* Data() const { return !data_ || IsAudioClip() ? nullptr : Block() + BlockHeader; }
    // The count of owned bytes, kept with the allocation: an edit that changes `length` never changes it.
    size_t DataSize() const;
    // Replaces the owned bytes and sets `length` to their count.
    void SetData(const uint8_t* bytes, size_t size);
    AudioClip* ClipData() const { return IsAudioClip() ? static_cast<AudioClip*>(data_) : nullptr; }
    void SetClip(std::unique_ptr<AudioClip> clip);
    // Gives up the clip without closing it (the caller takes ownership).
    std::unique_ptr<AudioClip> ReleaseClip();

    uint32_t kind = 0;
    int32_t time = 0;
    int32_t length = 0;
    uint32_t selectionMark = 0;
    uint32_t reserved = 0;
    uint8_t notation = 0;
    int8_t spelling = -1;

  private:
    void FreeData();
    void CopyFieldsFrom(const SongEvent& other);
    void CopyDataFrom(const SongEvent& other);

    // Owned bytes are one allocation: their count (a size_t), then the bytes.
    static constexpr size_t BlockHeader = sizeof(size_t);
    const uint8_t* Block() const { return static_cast<const uint8_t*>(data_); }
    void AllocateBytes(const uint8_t* bytes, size_t size);

    bool isClip_ = false; // declared before data_ so it fills padding: events stay 32 bytes
    // The byte block (new uint8_t[]) or, for a clip event, an AudioClip; owned.
    void* data_ = nullptr;
};

static_assert(sizeof(SongEvent) == 32, "events are held by value in large arrays: keep them small");

} // namespace cantivo
