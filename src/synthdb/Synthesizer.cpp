#include "synthdb/Synthesizer.h"

#include <array>
#include <cstdio>

namespace cantivo {

namespace {

std::string Format(const char* format, auto... values)
{
    char buffer[64];
    const int size = std::snprintf(buffer, sizeof buffer, format, values...);
    return std::string(buffer, size < 0 ? 0 : std::min<size_t>(size, sizeof buffer - 1));
}

// Note head and staff step (from the middle line) of the General MIDI percussion notes 35 to 59:
// heads 0 plain, 1 cross, 2 diamond; a circle marks an open hi-hat.
struct PercussionNotation {
    int8_t head;
    int8_t offset;
    int8_t circle;
};
constexpr std::array<PercussionNotation, 25> PercussionSchema = {{
    {0, -7, 0}, // 35 Acoustic Bass Drum
    {0, -6, 0}, // 36 Bass Drum 1
    {1, -2, 0}, // 37 Side Stick
    {0, -2, 0}, // 38 Acoustic Snare
    {1, -2, 0}, // 39 Hand Clap
    {0, -2, 0}, // 40 Electric Snare
    {0, -5, 0}, // 41 Low Floor Tom
    {1, 5, 0},  // 42 Closed Hi-Hat
    {0, -4, 0}, // 43 High Floor Tom
    {1, -7, 0}, // 44 Pedal Hi-Hat
    {0, -3, 0}, // 45 Low Tom
    {1, 5, 1},  // 46 Open Hi-Hat
    {0, -1, 0}, // 47 Low-Mid Tom
    {0, 0, 0},  // 48 Hi-Mid Tom
    {1, 6, 0},  // 49 Crash Cymbal 1
    {0, 1, 0},  // 50 High Tom
    {1, 4, 0},  // 51 Ride Cymbal 1
    {1, 6, 1},  // 52 Chinese Cymbal
    {2, 4, 0},  // 53 Ride Bell
    {1, 3, 0},  // 54 Tambourine
    {1, 7, 0},  // 55 Splash Cymbal
    {2, 3, 0},  // 56 Cowbell
    {1, 7, 1},  // 57 Crash Cymbal 2
    {1, -3, 0}, // 58 Vibraslap
    {1, 4, 1},  // 59 Ride Cymbal 2
}};

} // namespace

std::string BankText(int32_t bank, const std::string& name, bool cc0Only)
{
    if (cc0Only)
        return Format("Bank %d: ", bank >> 7) + name;
    return Format("Bank %d (%d/%d): ", bank, bank >> 7, bank & 127) + name;
}

std::string DrumSetText(int32_t bank, int32_t program, const std::string& name, bool cc0Only)
{
    if (cc0Only)
        return Format("Bank %d, PC%d: ", bank >> 7, program + 1) + name;
    return Format("Bank %d (%d/%d), PC%d: ", bank, bank >> 7, bank & 127, program + 1) + name;
}

std::string PatchText(int32_t patch, const std::string& name)
{
    return Format("%d: ", patch + 1) + name;
}

std::string NumberText(int32_t number, const std::string& name)
{
    return Format("%d: ", number) + name;
}

std::string PortDrumSetText(int32_t bank, int32_t program, const std::string& name)
{
    return Format("%d/%d: ", bank, program) + name;
}

std::string ControllerListText(const std::string& name, int32_t number)
{
    return name + Format(" (%d)", number);
}

const char* BuiltInControllerName(int32_t controller)
{
    switch (controller) {
    case 0:
        return "Bank Select";
    case 1:
        return "Modulation Depth";
    case 2:
        return "Breath";
    case 4:
        return "Foot Type";
    case 5:
        return "Portamento Time";
    case 6:
        return "Data Entry";
    case 7:
        return "Volume";
    case 10:
        return "Pan";
    case 11:
        return "Expression";
    case 16:
        return "General 1";
    case 17:
        return "General 2";
    case 18:
        return "General 3";
    case 19:
        return "General 4";
    case 32:
        return "Bank Select";
    case 38:
        return "Data Entry";
    case 64:
        return "Hold1";
    case 65:
        return "Portamento ON/OFF";
    case 66:
        return "Sostenuto";
    case 67:
        return "Soft";
    case 68:
        return "Legato Switch";
    case 71:
        return "Resonance";
    case 72:
        return "Release Time";
    case 73:
        return "Attack Time";
    case 74:
        return "Brightness";
    case 75:
        return "Decay Time";
    case 76:
        return "Vibrato Rate";
    case 77:
        return "Vibrato Depth";
    case 78:
        return "Vibrato Delay";
    case 80:
        return "General 5";
    case 81:
        return "General 6";
    case 82:
        return "General 7";
    case 83:
        return "General 8";
    case 84:
        return "Portamento Control";
    case 91:
        return "Reverb";
    case 92:
        return "Tremolo";
    case 93:
        return "Chorus";
    case 94:
        return "Celeste";
    case 95:
        return "Phaser";
    case 97:
        return "Aftertouch";
    case 98:
        return "NRPN LSB";
    case 99:
        return "NRPN MSB";
    case 100:
        return "RPN LSB";
    case 101:
        return "RPN MSB";
    case 120:
        return "All Sound Off";
    case 121:
        return "Reset All Controllers";
    case 123:
        return "All Notes Off";
    case 124:
        return "Omni Mode Off";
    case 125:
        return "Omni Mode On";
    case 126:
        return "Mono Mode On";
    case 127:
        return "Poly Mode On";
    default:
        return nullptr;
    }
}

namespace {

void AppendPseudoControllers(std::vector<ControllerEntry>& list)
{
    list.push_back({224, "Pitch (224)"});
    list.push_back({208, "Pressure (208)"});
}

} // namespace

const std::vector<ControllerEntry>& BuiltInControllerList()
{
    static const std::vector<ControllerEntry> list = [] {
        std::vector<ControllerEntry> entries;
        for (int32_t number = 0; number < 128; ++number) {
            const char* name = BuiltInControllerName(number);
            entries.push_back({number, name ? ControllerListText(name, number) : std::to_string(number)});
        }
        AppendPseudoControllers(entries);
        return entries;
    }();
    return list;
}

std::vector<ControllerEntry> ControllerList(const std::vector<NamedNumber>& names)
{
    if (names.empty())
        return BuiltInControllerList();
    std::vector<ControllerEntry> list;
    list.reserve(names.size() + 2);
    for (const NamedNumber& controller : names)
        list.push_back({controller.number, ControllerListText(controller.name, controller.number)});
    AppendPseudoControllers(list);
    return list;
}

void ApplyPercussionNotation(DrumNote& note)
{
    note.noteHead = note.noteOffset = note.noteCircle = note.articulation = 0;
    if (note.number < 35 || note.number > 59)
        return;
    const PercussionNotation& notation = PercussionSchema[note.number - 35];
    note.noteHead = notation.head;
    note.noteOffset = notation.offset;
    note.noteCircle = notation.circle;
}

std::string ClipText(const std::string& text, size_t length)
{
    size_t characters = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        // A byte that is not a continuation byte starts a character.
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && characters++ == length)
            return text.substr(0, i);
    }
    return text;
}

} // namespace cantivo
