#include "song/Cue.h"

namespace cantivo {

namespace {

struct CueKindInfo {
    const char* name;
    uint32_t colour;
};

constexpr CueKindInfo CueKinds[CueKindCount] = {
    {"Marker", 0xF0F0F0},        {"Caesura (Cut)", 0x0000D0}, {"Fermata (Hold)", 0x00FFFF},
    {"Vamp (Repeat)", 0x00D000}, {"Skip", 0xF0F0F0},          {"Ad lib (cola voce)", 0x10E0E0},
    {"Hold && Cut", 0x0080FF},   {"Breath", 0xF0F0F0},        {"Advance && Cut", 0x800080},
    {"Advance", 0x800000},
};

} // namespace

const char* CueKindName(int kind)
{
    return kind >= 0 && kind < CueKindCount ? CueKinds[kind].name : "";
}

uint32_t CueKindColour(int kind)
{
    return kind >= 0 && kind < CueKindCount ? CueKinds[kind].colour : 0xF0F0F0;
}

uint32_t TextColourFor(uint32_t colour)
{
    // Colours are 0xBBGGRR: red in the low byte.
    const double red = colour & 0xFF;
    const double green = (colour >> 8) & 0xFF;
    const double blue = (colour >> 16) & 0xFF;
    return 0.299 * red + 0.587 * green + 0.114 * blue >= 128.0 ? 0x000000 : 0xFFFFFF;
}

std::string Cue::DisplayLabel() const
{
    if (kind != CueVamp || count == 0)
        return label;
    return label + (label.empty() ? "" : " ") + "(" + std::to_string(count) + "x)";
}

} // namespace cantivo
