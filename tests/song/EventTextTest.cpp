#include "song/EventText.h"
#include "song/AudioClip.h"

#include <gtest/gtest.h>

#include <string>

namespace cantivo {
namespace {

SongEvent NoteWithSpelling(int key, int spelling)
{
    SongEvent note = SongEvent::Note(0, 0, static_cast<uint8_t>(key), 100, 120);
    note.spelling = static_cast<int8_t>(spelling);
    return note;
}

TEST(NoteName, SpellsKeysForTheKeySignature)
{
    struct Case {
        int key;
        int keySignature;
        int spelling;
        const char* name;
    };
    const Case cases[] = {
        {60, 0, -1, "C4 (60)"},
        {61, 0, -1, "Db4 (61)"},
        {66, 0, -1, "F#4 (66)"},
        {66, -1, -1, "Gb4 (66)"},
        {0, 0, -1, "C-1 (0)"},
        {127, 0, -1, "G9 (127)"},
        // Letters borrowed from the neighbouring octave keep the key's own octave number.
        {60, 4, -1, "B#4 (60)"},
        {71, -7, -1, "Cb4 (71)"},
        {72, 7, -1, "B#5 (72)"},
        {11, -2, -1, "Cb-1 (11)"},
        {60, -7, -1, "D'4 (60)"},
        {57, -6, -1, "B'3 (57)"},
        {67, 5, -1, "Fx4 (67)"},
        {62, 6, -1, "Cx4 (62)"},
        {69, 7, -1, "Gx4 (69)"},
        // Key signatures beyond ±7 are read as ±7.
        {60, 9, -1, "B#4 (60)"},
        {60, -12, -1, "D'4 (60)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(NoteName(NoteWithSpelling(c.key, c.spelling), c.keySignature), c.name);
    }
}

TEST(NoteName, SpellingFieldChoosesTheAccidental)
{
    struct Case {
        int key;
        int keySignature;
        int spelling;
        const char* name;
    };
    const Case cases[] = {
        {61, 0, 3, "C#4 (61)"},
        {61, 0, 1, "Db4 (61)"},
        {60, 0, 3, "B#4 (60)"},
        {71, 0, 1, "Cb4 (71)"},
        {60, 0, 0, "D'4 (60)"},
        {62, 0, 4, "Cx4 (62)"},
        {62, 0, 0, "E'4 (62)"},
        {65, 0, 3, "E#4 (65)"},
        {60, 4, 2, "C4 (60)"},  // natural over the key's B#
        {61, 1, 3, "C#4 (61)"}, // the key's own choice
        {60, 0, 2, "C4 (60)"},
        // No letter carries a double flat on pitch class 1 or a double sharp on 8: the key's spelling stands.
        {61, 0, 0, "Db4 (61)"},
        {68, 0, 4, "G#4 (68)"},
        // Values outside 0-4 mean automatic.
        {61, 0, 7, "Db4 (61)"},
        {61, 0, -1, "Db4 (61)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(NoteName(NoteWithSpelling(c.key, c.spelling), c.keySignature), c.name);
    }
}

TEST(TransposedKeySignature, MovesTheTonicDownByTheOffset)
{
    struct Case {
        int keySignature;
        int offset;
        int expected;
    };
    const Case cases[] = {
        {0, 0, 0},    {3, 12, 3}, {-4, -24, -4}, // whole octaves keep the key
        {0, 2, -2},                              // C moved down a tone is B flat
        {0, -2, 2},                              // C moved up a tone is D
        {0, 1, 5},                               // B
        {0, 7, -1},                              // F
        {2, 2, 0},                               // D down a tone is C
        {-7, 1, -2},                             // C flat (11) down a semitone is B flat
        {7, -1, 2},                              // C sharp (1) up a semitone is D
        {0, 14, -2},                             // beyond an octave
        {0, -13, -5}, {6, 6, 0},                 // F sharp down a tritone is C
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.keySignature << " by " << c.offset);
        EXPECT_EQ(TransposedKeySignature(c.keySignature, c.offset), c.expected);
    }
}

TEST(EventValueText, ChannelMessagesShowTheirValue)
{
    struct Case {
        SongEvent event;
        const char* text;
    };
    const Case cases[] = {
        {SongEvent::Note(0, 3, 60, 100, 120), "100"},
        {SongEvent::Short(0, 0xA2, 60, 77), "77"},
        {SongEvent::Short(0, 0xB0, 7, 127), "127"},
        {SongEvent::Short(0, 0xD5, 42), "42"},
        {SongEvent::Short(0, 0xE0, 0x00, 0x40), "0"},
        {SongEvent::Short(0, 0xE0, 0x7F, 0x7F), "8191"},
        {SongEvent::Short(0, 0xE0, 0x00, 0x00), "-8192"},
        {SongEvent::Short(0, 0xE0, 0x01, 0x40), "1"},
        {SongEvent::Short(0, 0xC0, 5), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(EventValueText(c.event), c.text);
    }
}

TEST(EventValueText, ParametersShowInTheirUnits)
{
    struct Case {
        bool registered;
        uint32_t number;
        int32_t value;
        const char* text;
    };
    const Case cases[] = {
        {true, 0, 2 * 128, "2.00"}, // bend range: semitones and cents
        {true, 0, 2 * 128 + 64, "2.50"},
        {true, 5, 127, "0.99"},
        {true, 1, 8192, "+0.00"}, // fine tuning: cents from the centre
        {true, 1, 0, "-100.00"},
        {true, 1, 16383, "+99.99"},
        {true, 1, 8191, "-0.01"},
        {true, 1, 8193, "+0.01"},
        {true, 1, 4096, "-50.00"},
        {true, 2, 64 * 128, "64"}, // coarse tuning
        {true, 3, 300, "300 (2/44)"},
        {false, 0, 300, "300 (2/44)"}, // an NRPN 0 is not a bend range
        {false, 0x1234, 16383, "16383 (127/127)"},
        {true, 0, ParamIncrement, "Data increment"},
        {false, 7, ParamDecrement, "Data decrement"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(EventValueText(SongEvent::Parameter(0, c.registered, c.number, c.value)), c.text);
    }
}

TEST(EventValueText, TextMetasShowTheirTextAndOtherDataShowsNothing)
{
    const auto meta = [](uint8_t type, const std::string& bytes) {
        return SongEvent::Meta(0, type, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    };
    EXPECT_EQ(EventValueText(meta(1, "Verse 1")), "Verse 1");
    EXPECT_EQ(EventValueText(meta(3, "Piano")), "Piano");
    EXPECT_EQ(EventValueText(meta(5, "la")), "la");
    EXPECT_EQ(EventValueText(meta(6, "")), "");
    EXPECT_EQ(EventValueText(meta(1, std::string("ab\0cd", 5))), "ab");
    EXPECT_EQ(EventValueText(meta(0, std::string("\x01\x02", 2))), "258"); // sequence number
    EXPECT_EQ(EventValueText(meta(0x51, "\x07\xA1\x20")), "");
    EXPECT_EQ(EventValueText(meta(0x7F, "abc")), "");

    const uint8_t sysex[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    EXPECT_EQ(EventValueText(SongEvent::Sysex(0, sysex, sizeof sysex)), "");
    // A clip event's kind word looks like a cue-point meta, but it carries no text.
    EXPECT_EQ(EventValueText(SongEvent::Clip(0, std::make_unique<AudioClip>("WaveData/0000abcd.wav"))), "");
}

} // namespace
} // namespace cantivo
