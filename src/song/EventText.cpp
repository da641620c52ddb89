#include "song/EventText.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>

namespace cantivo {

namespace {

constexpr int MinKeySignature = -7;
constexpr int MaxKeySignature = 7;
constexpr int KeySignatureCount = MaxKeySignature - MinKeySignature + 1;
constexpr int NaturalAccidental = 2;
// Indexed by accidental: double flat, flat, natural, sharp, double sharp.
constexpr const char* AccidentalSigns[5] = {"'", "b", "", "#", "x"};
constexpr char Letters[] = "CDEFGAB";
// Pitch class of each natural letter.
constexpr int NaturalPitch[7] = {0, 2, 4, 5, 7, 9, 11};

struct Spelling {
    int letter;     // index into "CDEFGAB"
    int accidental; // 0 double flat … 4 double sharp
};
using SpellingRow = std::array<Spelling, 12>;

// Spellings of pitch classes 0-11 for key signatures −7 to 7; ' is the double flat, x the double sharp.
// Letters borrowed from the neighbouring octave (B# for 0, Cb for 11) keep the key's own octave.
constexpr const char* SpellingTable[KeySignatureCount] = {
    "D' Db E' Eb Fb F Gb G Ab B' Bb Cb", // -7
    "C Db D Eb Fb F Gb A' Ab B' Bb Cb",  // -6
    "C Db E' Eb Fb F Gb G Ab A Bb Cb",   // -5
    "C Db D Eb E F Gb G Ab A Bb Cb",     // -4
    "C Db D Eb Fb F Gb G Ab A Bb B",     // -3
    "C Db D Eb E F F# G Ab A Bb Cb",     // -2
    "C C# D Eb E F Gb G Ab A Bb B",      // -1
    "C Db D Eb E F F# G G# A Bb B",      // 0
    "C C# D D# E F F# G Ab A Bb B",      // 1
    "C C# D Eb E F F# G G# A A# B",      // 2
    "C C# D D# E E# F# G G# A Bb B",     // 3
    "B# C# D D# E F F# G G# A A# B",     // 4
    "C C# D D# E E# F# Fx G# A A# B",    // 5
    "B# C# Cx D# E E# F# G G# A A# B",   // 6
    "B# C# D D# E E# F# Fx G# Gx A# B",  // 7
};

constexpr int LetterIndex(char letter)
{
    for (int index = 0; index < 7; ++index)
        if (Letters[index] == letter)
            return index;
    return -1;
}

constexpr int AccidentalIndex(char sign)
{
    switch (sign) {
    case '\'':
        return 0;
    case 'b':
        return 1;
    case '#':
        return 3;
    case 'x':
        return 4;
    default:
        return NaturalAccidental;
    }
}

constexpr SpellingRow ParseRow(const char* text)
{
    SpellingRow row{};
    int pitchClass = 0;
    for (const char* cursor = text; *cursor && pitchClass < 12;) {
        if (*cursor == ' ') {
            ++cursor;
            continue;
        }
        Spelling spelling{LetterIndex(*cursor++), NaturalAccidental};
        if (*cursor && *cursor != ' ')
            spelling.accidental = AccidentalIndex(*cursor++);
        row[pitchClass++] = spelling;
    }
    return row;
}

constexpr std::array<SpellingRow, KeySignatureCount> BuildSpellings()
{
    std::array<SpellingRow, KeySignatureCount> rows{};
    for (int index = 0; index < KeySignatureCount; ++index)
        rows[index] = ParseRow(SpellingTable[index]);
    return rows;
}

constexpr std::array<SpellingRow, KeySignatureCount> Spellings = BuildSpellings();

// Every entry must name the pitch class it stands for; a slip in the table fails the build.
constexpr bool SpellingsAreConsistent()
{
    for (const SpellingRow& row : Spellings)
        for (int pitchClass = 0; pitchClass < 12; ++pitchClass) {
            const Spelling spelling = row[pitchClass];
            if (spelling.letter < 0)
                return false;
            const int sounding = NaturalPitch[spelling.letter] + spelling.accidental - NaturalAccidental;
            if ((sounding + 24) % 12 != pitchClass)
                return false;
        }
    return true;
}
static_assert(SpellingsAreConsistent());

// The letter that an accidental moves onto the pitch class, or −1 when none does (a double flat on
// pitch class 1, for example).
int LetterForAccidental(int pitchClass, int accidental)
{
    for (int letter = 0; letter < 7; ++letter)
        if ((NaturalPitch[letter] + accidental - NaturalAccidental + 24) % 12 == pitchClass)
            return letter;
    return -1;
}

// Tonic pitch class of the major key of each key signature −7 to 7.
constexpr int TonicPitch[KeySignatureCount] = {11, 6, 1, 8, 3, 10, 5, 0, 7, 2, 9, 4, 11, 6, 1};
// The key signature written for a major key on each pitch class.
constexpr int KeySignatureOfTonic[12] = {0, -5, 2, -3, 4, -1, 6, 1, -4, 3, -2, 5};

std::string MetaText(const SongEvent& event)
{
    const uint8_t* bytes = event.Data();
    const size_t size = event.DataSize();
    if (!bytes)
        return {};
    // A sequence number is a 16-bit value, not text.
    if (event.Data1() == 0 && size == 2)
        return std::to_string(bytes[0] * 256 + bytes[1]);
    // The text ends at a zero byte, as it would on screen.
    const uint8_t* end = std::find(bytes, bytes + size, uint8_t{0});
    return std::string(reinterpret_cast<const char*>(bytes), static_cast<size_t>(end - bytes));
}

std::string ParameterText(const SongEvent& event)
{
    const int32_t value = event.length;
    if (value == ParamIncrement)
        return "Data increment";
    if (value == ParamDecrement)
        return "Data decrement";
    char buffer[64];
    const uint32_t number = event.ParameterNumber();
    if (event.Status() == StatusRpn) {
        switch (number) {
        case 0: // pitch-bend range and modulation depth range: semitones and cents
        case 5:
            std::snprintf(buffer, sizeof buffer, "%d.%02d", value / 128, (value % 128) * 100 / 128);
            return buffer;
        case 1: { // fine tuning: cents around the centre value 8192, rounded to the nearest
            const int64_t scaled = int64_t{value} * 10000;
            const int64_t rounded = scaled >= 0 ? (scaled + 4096) / 8192 : (scaled - 4096) / 8192;
            const int64_t cents = rounded - 10000;
            const int64_t magnitude = std::llabs(cents);
            std::snprintf(buffer, sizeof buffer, "%c%lld.%02lld", cents < 0 ? '-' : '+',
                          static_cast<long long>(magnitude / 100), static_cast<long long>(magnitude % 100));
            return buffer;
        }
        case 2: // coarse tuning
            std::snprintf(buffer, sizeof buffer, "%d", value / 128);
            return buffer;
        default:
            break;
        }
    }
    std::snprintf(buffer, sizeof buffer, "%d (%d/%d)", value, value / 128, value % 128);
    return buffer;
}

} // namespace

std::string EventValueText(const SongEvent& event)
{
    if (event.IsAudioClip())
        return {};
    if (event.IsParameter())
        return ParameterText(event);
    switch (event.Type()) {
    case 0x90:
    case 0xA0:
    case 0xB0:
        return std::to_string(event.Data2());
    case 0xD0:
        return std::to_string(event.Data1());
    case 0xE0:
        return std::to_string(event.Data2() * 128 + event.Data1() - 8192);
    default:
        break;
    }
    if (event.IsMeta() && event.Data1() <= 7)
        return MetaText(event);
    return {};
}

std::string NoteName(const SongEvent& event, int keySignature)
{
    const int key = event.Data1() & 0x7F;
    const int pitchClass = key % 12;
    const int row = std::clamp(keySignature, MinKeySignature, MaxKeySignature) - MinKeySignature;
    Spelling spelling = Spellings[row][pitchClass];
    // A chosen spelling wins over the key's when some letter can carry it; otherwise the key's stands.
    if (event.spelling >= 0 && event.spelling <= 4 && event.spelling != spelling.accidental) {
        const int letter = LetterForAccidental(pitchClass, event.spelling);
        if (letter >= 0)
            spelling = Spelling{letter, event.spelling};
    }
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%c%s%d (%d)", Letters[spelling.letter], AccidentalSigns[spelling.accidental],
                  key / 12 - 1, key);
    return buffer;
}

int TransposedKeySignature(int keySignature, int keyOffset)
{
    const int clamped = std::clamp(keySignature, MinKeySignature, MaxKeySignature);
    if (keyOffset % 12 == 0)
        return clamped;
    const int tonic = TonicPitch[clamped - MinKeySignature];
    const int moved = ((tonic - keyOffset % 12) % 12 + 12) % 12;
    return KeySignatureOfTonic[moved];
}

} // namespace cantivo
