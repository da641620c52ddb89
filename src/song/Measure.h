#pragma once

#include <cstddef>
#include <cstdint>

namespace cantivo {

// A read refuses a song that would need more measures than this to reach its end: such an end comes
// from a damaged or hostile file, and its measure table alone would cost tens of megabytes.
inline constexpr size_t MaxReadMeasures = size_t{1} << 18;

// One measure of the song; the table has no gaps: each starts where the previous one ends.
struct Measure {
    int32_t start = 0;
    int32_t length = 0;
    int32_t reserved[2] = {0, 0};
    uint16_t number = 1; // printed number; 0 = only the letter shows
    uint8_t letter = 0;  // upper-case rehearsal letter, 0 = none
    int8_t key = 0;      // sharps positive, flats negative
    uint8_t mode = 0;    // 0 major, 1 minor
    uint8_t numerator = 4;
    uint8_t denominator = 4; // the beat unit as a plain number
    uint8_t clocksPerClick = 24;
    uint8_t thirtySecondsPerQuarter = 8;

    int32_t End() const { return start + length; }
    // (timebase × 4 ÷ denominator) × numerator, integer division first.
    static int32_t LengthFor(int32_t timebase, int denominator, int numerator)
    {
        return denominator == 0 ? 0 : (timebase * 4 / denominator) * numerator;
    }
};

} // namespace cantivo
