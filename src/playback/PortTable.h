#pragma once

#include "playback/MidiOutPort.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cantivo {

class Profile;

// A system output device as a backend enumerated it; `device` is null when it failed to open.
struct OutputDeviceEntry {
    std::string name;
    std::unique_ptr<MidiOutDevice> device;
};

// How a port's synthesizer wants to be reset, from the instrument database.
struct SynthReset {
    uint32_t technology = 0; // the "Technology" bits
    std::string resetSysex;  // the "User" reset text
};
// Technology bits that choose the resets, in the order they are sent.
inline constexpr uint32_t ResetUsedControllers = 8;
inline constexpr uint32_t ResetGeneralMidi = 1;
inline constexpr uint32_t ResetGs = 2;
inline constexpr uint32_t ResetXg = 4;
inline constexpr uint32_t ResetUserSysex = 64;
inline constexpr uint32_t ResetAllSoundOff = 16;
inline constexpr uint32_t ResetAllControllers = 32;

// Finds the synthesizer bound to a port by its unique name; the instrument database implements it.
class SynthResetLookup {
  public:
    virtual ~SynthResetLookup() = default;
    virtual std::optional<SynthReset> ForPort(const std::string& uniqueName) const = 0;
};

// Every output port and the logical mapping the songs address them by. Songs name logical ports 0-15;
// "PortsToUse" names the device each one uses.
class PortTable {
  public:
    static constexpr int MaxLogicalPorts = 16;

    // The second device of a name is "Name (2)", the third "Name (3)"; the first keeps its name.
    static std::vector<std::string> UniqueNames(const std::vector<std::string>& names);
    // Logical port i names its device in "PortsToUse" "<prefix>i" (say "MIDIOUT0"); reading stops at the
    // first empty or missing value. An entry is the device's index, or -1 when no device has that name.
    // With no value at all, logical port i is device i.
    static std::vector<int32_t> ReadMapping(const Profile& profile, const std::string& prefix,
                                            const std::vector<std::string>& deviceNames);
    // The play period in milliseconds: the configured "TimerResolution" brought within what the timer can do.
    static int ClampTimerResolution(int configured, int minimum, int maximum);

    // Takes the enumerated devices (in device order), names them uniquely and reads the mapping.
    void OpenOutputs(std::vector<OutputDeviceEntry> devices, const Profile& profile);
    void CloseAll();

    int OutputCount() const { return static_cast<int>(outputs_.size()); }
    MidiOutPort& Output(int index) { return *outputs_.at(static_cast<size_t>(index)); }
    const std::vector<int32_t>& OutputMapping() const { return outputMapping_; }
    // The port a logical port plays through; null when it maps to no device.
    MidiOutPort* OutputForLogical(int logicalPort);

    // "Free stuck notes": every output port, mapped or not.
    void FreeStuckNotes();
    // The port half of "Reset MIDI": each device some logical port uses is reset once, the logical
    // entries taken from the last to the first. Without a lookup (or an entry for the port) a reset only
    // clears the port's state.
    void ResetMappedPorts(const SynthResetLookup* lookup);
    // Resets one port as its synthesizer asks, then clears its state.
    static void ResetPort(MidiOutPort& port, const SynthResetLookup* lookup);

  private:
    std::vector<std::unique_ptr<MidiOutDevice>> devices_;
    std::vector<std::unique_ptr<MidiOutPort>> outputs_;
    std::vector<int32_t> outputMapping_;
};

} // namespace cantivo
