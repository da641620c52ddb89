#pragma once

#include <cstdint>
#include <string>

namespace cantivo {

enum CueKind : int32_t {
    CueMarker = 0,
    CueCaesura = 1,
    CueFermata = 2,
    CueVamp = 3,
    CueSkip = 4,
    CueAdLib = 5,
    CueHoldAndCut = 6,
    CueBreath = 7,
    CueAdvanceAndCut = 8,
    CueAdvance = 9,
};
inline constexpr int CueKindCount = 10;

struct Cue {
    std::string label;
    int32_t kind = CueMarker;
    int32_t count = 0; // repeat count of a vamp
    int32_t stopAt = 0;
    int32_t restartAt = 0;
    uint32_t selectionMark = 0;

    // The time the cue list is ordered by: restart-at for an ad lib, stop-at for every other kind.
    int32_t AnchorTime() const { return kind == CueAdLib ? restartAt : stopAt; }
    // The label as the user interface shows it: a vamp with a count gets "(%dx)".
    std::string DisplayLabel() const;
};

// The kinds that repeat a section or go back once: their restart-at lies before their stop-at.
inline bool IsVampFamily(int32_t kind)
{
    return kind == CueVamp || kind == CueBreath || kind == CueAdvanceAndCut || kind == CueAdvance;
}

// The name the user interface shows for a kind ("Vamp (Repeat)"); empty for an unknown kind.
const char* CueKindName(int kind);
// The drawing colour (0xBBGGRR) of a kind.
uint32_t CueKindColour(int kind);
// Black (0) on a light colour, white (0xFFFFFF) on a dark one.
uint32_t TextColourFor(uint32_t colour);

} // namespace cantivo
