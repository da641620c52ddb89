#pragma once

#include "playback/MidiOutDevice.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cantivo {

// "Unknown" in the channel state: nothing has been sent for that value since the state was cleared.
inline constexpr uint8_t UnknownByte = 0x80;
inline constexpr uint32_t UnknownParameter = 0x80808080;
inline constexpr int HeldNoteSlots = 128;

// The universal and manufacturer resets, each sent as one long message.
inline constexpr std::array<uint8_t, 6> GeneralMidiSystemOn = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
inline constexpr std::array<uint8_t, 11> GsReset = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
inline constexpr std::array<uint8_t, 9> XgSystemOn = {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};

// The General MIDI 2 device settings a port has sent, followed from its long messages.
struct DeviceSettings {
    int32_t masterVolume = -1; // 14-bit values, -1 unknown
    int32_t masterFineTuning = -1;
    int32_t masterCoarseTuning = -1;
    uint8_t reverbType = UnknownByte;
    uint8_t reverbTime = UnknownByte;
    uint8_t chorusType = UnknownByte;
    uint8_t modulationRate = UnknownByte;
    uint8_t modulationDepth = UnknownByte;
    uint8_t feedback = UnknownByte;
    uint8_t sendToReverb = UnknownByte;
    // Controller destinations per channel: six parameter ranges for channel pressure and for poly key
    // pressure; for one control change, the controller number then its six ranges.
    std::array<std::array<uint8_t, 6>, 16> channelPressure;
    std::array<std::array<uint8_t, 6>, 16> polyPressure;
    std::array<std::array<uint8_t, 7>, 16> controlChange;
};

// One output device with a copy of what it has told the synthesizer on each channel, so the engine can
// send only what differs and silence what sounds. Sends come from the play thread, the UI thread and
// the input thread; the engine's transport lock serialises the ones that change the held notes. No send
// allocates.
class MidiOutPort {
  public:
    // `device` may be null: a device that failed to open keeps its place and sends nothing.
    MidiOutPort(std::string uniqueName, MidiOutDevice* device);

    const std::string& Name() const { return name_; }
    bool IsOpen() const { return device_ != nullptr; }

    void SendShort(uint32_t message);
    // Follows the General MIDI 2 settings the block carries, then sends it.
    void SendLong(std::span<const uint8_t> bytes);
    // A note-on with velocity above 0, kept in the held notes with `tag` (the track's patch tag) in
    // bits 24-31. With every slot in use, the note in the first slot is released to make room: a
    // note the port forgets could never be silenced.
    void SendAndHold(uint32_t noteOn, uint8_t tag);
    // The note-off (velocity 0) of a held note; its slot is freed.
    void SendAndRelease(uint32_t noteOn);
    // Sustain off where it is down, then a note-off for every held note; the held table empties.
    void ReleaseHeldNotes();
    // A note-off for every key from the lowest to the highest played on each channel.
    void FreeStuckNotes();
    // Every known controller, bend, pressure and registered parameter that differs from its default
    // is sent back to it (after the held notes are released).
    void ResetControllers();
    // A control change, kept in the channel state (the chase and the sequencer send controllers so).
    void SetController(int channel, int number, int value) { Controller(channel, number, value); }
    void SetBankAndProgram(int channel, int bank, int program);
    void SetRegisteredParameter(int channel, int parameter, int32_t value);
    void SetNonRegisteredParameter(int channel, int parameter, int32_t value);
    void SetMasterVolume(int32_t volume);
    // On the note's channel: volume full, the bank and program of `patch` (bank × 256 + program), then
    // the note struck and released, so the user hears what the patch sounds like.
    void AuditionPatch(int32_t patch, uint32_t noteOn);
    void ClearState();

    // The state alone, without sending: the sequencer and the chase store what they send themselves,
    // and keep some values (bank selects, parameter numbers) until the message that uses them.
    void StoreController(int channel, int number, uint8_t value)
    {
        channels_[Index(channel)].controllers[Index(number, 128)] = value;
    }
    void StoreProgram(int channel, uint8_t program) { channels_[Index(channel)].program = program; }
    void StorePressure(int channel, uint8_t value) { channels_[Index(channel)].pressure = value; }
    void StorePitchBend(int channel, uint16_t value) { channels_[Index(channel)].pitchBend = value; }
    void StorePolyPressure(int channel, int key, uint8_t value)
    {
        channels_[Index(channel)].polyPressure[Index(key, 128)] = value;
    }
    // Widens the channel's played range without holding the note (a note-off sent for a note
    // the port never held).
    void NotePlayed(int channel, int key);
    // Frees one slot of the held table without sending anything.
    void ForgetHeldSlot(int slot);

    // The state as it stands, for the chase and the views.
    uint8_t Controller(int channel, int number) const
    {
        return channels_[Index(channel)].controllers[Index(number, 128)];
    }
    uint8_t Program(int channel) const { return channels_[Index(channel)].program; }
    uint8_t Pressure(int channel) const { return channels_[Index(channel)].pressure; }
    // The two data bytes of the last pitch bend, first data byte low; 0x8080 unknown.
    uint16_t PitchBend(int channel) const { return channels_[Index(channel)].pitchBend; }
    int32_t Bank(int channel) const { return channels_[Index(channel)].bank; }
    uint32_t Parameter(int channel, int parameter) const;
    std::span<const uint32_t> HeldNotes() const { return {held_.data(), static_cast<size_t>(highestHeld_ + 1)}; }
    const DeviceSettings& Settings() const { return settings_; }
    // Notes released early because all held slots were in use.
    uint64_t NotesStolen() const { return notesStolen_; }

  private:
    struct Channel {
        std::array<uint8_t, 128> polyPressure;
        std::array<uint8_t, 128> controllers;
        int32_t bank; // 14-bit, -1 unknown
        uint8_t program;
        uint8_t pressure;
        uint16_t pitchBend;                 // the two data bytes as sent, first data byte low; 0x8080 unknown
        std::array<uint32_t, 4> parameters; // registered parameters 0, 1, 2, 5
        uint8_t lowestNote;
        uint8_t highestNote;
    };
    static size_t Index(int value, int count = 16)
    {
        return static_cast<size_t>(value) & static_cast<size_t>(count - 1);
    }
    void Send(uint32_t message);
    void Controller(int channel, int number, int value);
    // The number's MSB on `numberController`, its LSB on the one below, then data entry MSB and LSB.
    void SendParameter(int channel, int numberController, int parameter, int32_t value);
    void FollowDeviceSettings(std::span<const uint8_t> bytes);

    std::string name_;
    MidiOutDevice* device_;
    std::array<Channel, 16> channels_;
    std::array<uint32_t, HeldNoteSlots> held_;
    int highestHeld_ = -1;
    DeviceSettings settings_;
    uint64_t notesStolen_ = 0;
};

// Parses a synthesizer's reset text ("F0 7E 7F 09 01 F7"): upper-case two-digit hex tokens; a value
// above 127 only as a leading F0 or a trailing F7. None for a bad or empty text.
std::optional<std::vector<uint8_t>> ParseResetSysex(std::string_view text);

} // namespace cantivo
