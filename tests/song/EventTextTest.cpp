#include "song/EventText.h"
#include "song/AudioClip.h"

#include <gtest/gtest.h>

#include <string>

namespace cantivo {
namespace {

TEST(NoteName, SpellsKeysForTheKeySignatureOrTheSpellingField)
{
    struct Case {
        int key;
        int keySignature;
        int spelling; // -1 automatic
        const char* name;
    };
    const Case cases[] = {
        {60, 0, -1, "C4 (60)"},
        {61, 0, -1, "Db4 (61)"},
        {66, -1, -1, "Gb4 (66)"},
        {0, 0, -1, "C-1 (0)"},
        {127, 0, -1, "G9 (127)"},
        // Letters borrowed from the neighbouring octave keep the key's own octave number.
        {60, 4, -1, "B#4 (60)"},
        {71, -7, -1, "Cb4 (71)"},
        {11, -2, -1, "Cb-1 (11)"},
        {60, -7, -1, "D'4 (60)"},
        {67, 5, -1, "Fx4 (67)"},
        {60, 9, -1, "B#4 (60)"}, // key signatures beyond ±7 are read as ±7
        {60, -12, -1, "D'4 (60)"},
        // The spelling field chooses the accidental.
        {61, 0, 3, "C#4 (61)"},
        {61, 0, 1, "Db4 (61)"},
        {60, 0, 3, "B#4 (60)"},
        {71, 0, 1, "Cb4 (71)"},
        {62, 0, 4, "Cx4 (62)"},
        {62, 0, 0, "E'4 (62)"},
        {60, 4, 2, "C4 (60)"}, // natural over the key's B#
        // No letter carries a double flat on pitch class 1 or a double sharp on 8: the key's spelling stands.
        {61, 0, 0, "Db4 (61)"},
        {68, 0, 4, "G#4 (68)"},
        {61, 0, 7, "Db4 (61)"}, // values outside 0-4 mean automatic
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SongEvent note = SongEvent::Note(0, 0, static_cast<uint8_t>(c.key), 100, 120);
        note.spelling = static_cast<int8_t>(c.spelling);
        EXPECT_EQ(NoteName(note, c.keySignature), c.name);
    }
}

TEST(TransposedKeySignature, MovesTheTonicDownByTheOffset)
{
    struct Case {
        int keySignature, offset, expected;
    };
    const Case cases[] = {
        {3, 12, 3},  {-4, -24, -4}, // whole octaves keep the key
        {0, 2, -2},                 // C moved down a tone is B flat
        {0, -2, 2},                 // C moved up a tone is D
        {-7, 1, -2},                // C flat (11) down a semitone is B flat
        {7, -1, 2},                 // C sharp (1) up a semitone is D
        {0, 14, -2}, {0, -13, -5},  // beyond an octave
        {6, 6, 0},                  // F sharp down a tritone is C
    };
    for (const Case& c : cases)
        EXPECT_EQ(TransposedKeySignature(c.keySignature, c.offset), c.expected) << c.keySignature << " by " << c.offset;
}

TEST(EventValueText, ShowsEachKindOfEventInItsUnits)
{
    const auto meta = [](uint8_t type, const std::string& bytes) {
        return SongEvent::Meta(0, type, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    };
    const uint8_t sysex[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    struct Case {
        SongEvent event;
        const char* text;
    };
    const Case cases[] = {
        {SongEvent::Note(0, 3, 60, 100, 120), "100"},
        {SongEvent::Short(0, 0xA2, 60, 77), "77"},
        {SongEvent::Short(0, 0xE0, 0x00, 0x40), "0"},
        {SongEvent::Short(0, 0xE0, 0x7F, 0x7F), "8191"},
        {SongEvent::Short(0, 0xE0, 0x00, 0x00), "-8192"},
        {SongEvent::Short(0, 0xC0, 5), ""},
        {SongEvent::Parameter(0, true, 0, 2 * 128 + 64), "2.50"}, // bend range: semitones and cents
        {SongEvent::Parameter(0, true, 5, 127), "0.99"},
        {SongEvent::Parameter(0, true, 1, 8192), "+0.00"}, // fine tuning: cents from the centre
        {SongEvent::Parameter(0, true, 1, 0), "-100.00"},
        {SongEvent::Parameter(0, true, 1, 8191), "-0.01"},
        {SongEvent::Parameter(0, true, 2, 64 * 128), "64"},     // coarse tuning
        {SongEvent::Parameter(0, false, 0, 300), "300 (2/44)"}, // an NRPN 0 is not a bend range
        {SongEvent::Parameter(0, true, 0, ParamIncrement), "Data increment"},
        {SongEvent::Parameter(0, false, 7, ParamDecrement), "Data decrement"},
        {meta(1, "Verse 1"), "Verse 1"},
        {meta(1, std::string("ab\0cd", 5)), "ab"},
        {meta(0, std::string("\x01\x02", 2)), "258"}, // sequence number
        {meta(0x51, "\x07\xA1\x20"), ""},
        {SongEvent::Sysex(0, sysex, sizeof sysex), ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(EventValueText(c.event), c.text) << c.text;
    // A clip event's kind word looks like a cue-point meta, but it carries no text.
    EXPECT_EQ(EventValueText(SongEvent::Clip(0, std::make_unique<AudioClip>("WaveData/0000abcd.wav"))), "");
}

} // namespace
} // namespace cantivo
