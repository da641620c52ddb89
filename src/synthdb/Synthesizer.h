#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace cantivo {

// The "Technology" bits of a synthesizer: bits 1 to 64 are what "On MIDI Reset (F10)" sends, 128 the
// bank-select mode.
inline constexpr int32_t TechGmReset = 1;
inline constexpr int32_t TechGsReset = 2;
inline constexpr int32_t TechXgReset = 4;
inline constexpr int32_t TechDefaultControllers = 8;   // "Set used CCs to defaults"
inline constexpr int32_t TechAllSoundOff = 16;         // "CC120 - All Sound Off"
inline constexpr int32_t TechResetAllControllers = 32; // "CC121 - Reset All CCs"
inline constexpr int32_t TechUserReset = 64;           // send "ResetSysex"
inline constexpr int32_t TechCc0Only = 128;            // banks selected by controller 0 alone

// A number the user has not given yet (an item just inserted in the editor); it shows as "?".
inline constexpr int32_t UnknownNumber = std::numeric_limits<int32_t>::min();
inline constexpr int32_t MaxBankNumber = 16383;
inline constexpr int32_t MaxNrpnNumber = 16383;
// The longest texts the fields hold.
inline constexpr size_t SynthNameLength = 48;
inline constexpr size_t CategoryLength = 12;
inline constexpr size_t ControllerNameLength = 50;
inline constexpr size_t PortNameLength = 40;

struct SynthPatch {
    int32_t number = 0; // program 0 to 127
    std::string name;
    std::string category;
    bool operator==(const SynthPatch&) const = default;
};

struct SynthBank {
    int32_t number = 0; // 14-bit: MSB * 128 + LSB
    std::string name;
    std::vector<SynthPatch> patches; // by number
    bool operator==(const SynthBank&) const = default;
};

struct DrumNote {
    int32_t number = 0;
    std::string name;
    int32_t noteHead = 0;
    int32_t noteOffset = 0;
    int32_t noteCircle = 0;
    int32_t articulation = 0;
    bool operator==(const DrumNote&) const = default;
};

struct DrumSet {
    int32_t bank = 0;
    int32_t program = 0; // 0 to 127
    std::string name;
    std::vector<DrumNote> notes; // by number
    bool operator==(const DrumSet&) const = default;
};

// A controller or NRPN name.
struct NamedNumber {
    int32_t number = 0;
    std::string name;
    bool operator==(const NamedNumber&) const = default;
};

// One synthesizer with everything the database holds for it, in key order.
struct Synthesizer {
    int32_t number = 0; // "SynthNumber"; 0 for one not yet stored
    std::string name;
    int32_t technology = 0;
    std::string resetSysex;
    std::vector<SynthBank> banks;
    std::vector<DrumSet> drumSets;
    std::vector<NamedNumber> controllers;
    std::vector<NamedNumber> nrpns;
    bool operator==(const Synthesizer&) const = default;

    bool Cc0Only() const { return (technology & TechCc0Only) != 0; }
};

// A line of a controller list: the controller number (224 pitch bend, 208 channel pressure) and its text.
struct ControllerEntry {
    int32_t number = 0;
    std::string text;
    bool operator==(const ControllerEntry&) const = default;
};

// The display texts of the database's items.
std::string BankText(int32_t bank, const std::string& name, bool cc0Only);
std::string DrumSetText(int32_t bank, int32_t program, const std::string& name, bool cc0Only);
std::string PatchText(int32_t patch, const std::string& name);
// A drum note, controller or NRPN.
std::string NumberText(int32_t number, const std::string& name);
std::string PortDrumSetText(int32_t bank, int32_t program, const std::string& name);
std::string ControllerListText(const std::string& name, int32_t number);

// The built-in name of a controller 0 to 127, or nullptr for one without a name.
const char* BuiltInControllerName(int32_t controller);
// The 128 built-in controllers in number order (an unnamed one shows its bare number), then the
// pseudo-controllers "Pitch (224)" and "Pressure (208)".
const std::vector<ControllerEntry>& BuiltInControllerList();
// A synthesizer's controller list: its own names in number order, or the built-in ones when it names
// none; the two pseudo-controllers always follow.
std::vector<ControllerEntry> ControllerList(const std::vector<NamedNumber>& names);

// The notation a drum note read from a synth data file gets: the percussion staff schema for notes 35 to
// 59, plain notes elsewhere.
void ApplyPercussionNotation(DrumNote& note);

// Clips a UTF-8 text to at most `length` characters.
std::string ClipText(const std::string& text, size_t length);

} // namespace cantivo
