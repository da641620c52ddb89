#include "synthdb/SynthFile.h"
#include "synthdb/ResetText.h"
#include "synthdb/Synthesizer.h"

#include <gtest/gtest.h>

namespace cantivo {
namespace {

// Two banks (one at the top of the 14-bit range), a drum set based on another with note 36 replaced and
// note 41 added, controllers and NRPN names.
constexpr const char* FullSynthText = "[Bank 0:Main]\n"
                                      "0=Piano\n"
                                      "127=Gunshot\n"
                                      "[Bank 16383:X]\n"
                                      "5=Strings = wide\n"
                                      "[Drum 128/0:Standard]\n"
                                      "36=Kick\n"
                                      "38=Snare\n"
                                      "60=Bongo\n"
                                      "[Drum 128/8:Room]\n"
                                      "BasedOn=Drum 128/0\n"
                                      "36=Room Kick\n"
                                      "41=Low Tom\n"
                                      "[Controllers]\n"
                                      "7=Level\n"
                                      "[NRPN]\n"
                                      "16383=Top\n";

TEST(SynthFile, ExportThenImportGivesTheSameSynth)
{
    const SynthImport first = ParseSynthText("Box", FullSynthText);
    ASSERT_TRUE(first.messages.empty()) << first.messages.front();
    ASSERT_EQ(first.synth.banks.size(), 2u);
    ASSERT_EQ(first.synth.drumSets.size(), 2u);
    EXPECT_EQ(first.synth.banks[1].patches[0].name, "Strings = wide"); // the name is all after the first "="
    const SynthImport second = ParseSynthText("Box", ExportSynthText(first.synth));
    EXPECT_TRUE(second.messages.empty());
    EXPECT_EQ(second.synth, first.synth);
}

TEST(SynthFile, BasedOnCopiesTheEarlierSetAndLaterNotesReplaceOrInsert)
{
    const Synthesizer synth = ParseSynthText("Box", FullSynthText).synth;
    const DrumSet& standard = synth.drumSets[0];
    const DrumSet& room = synth.drumSets[1];
    EXPECT_EQ(room.name, "Room");
    std::vector<std::pair<int32_t, std::string>> notes;
    for (const DrumNote& note : room.notes)
        notes.emplace_back(note.number, note.name);
    const std::vector<std::pair<int32_t, std::string>> expected = {
        {36, "Room Kick"}, {38, "Snare"}, {41, "Low Tom"}, {60, "Bongo"}};
    EXPECT_EQ(notes, expected);
    EXPECT_EQ(standard.notes[0].name, "Kick"); // the source set keeps its own note
    // Notes read from the file have the percussion notation for 35 to 59 and plain notation above.
    EXPECT_NE(standard.notes[0].noteOffset, 0);
    EXPECT_EQ(standard.notes[2].noteHead, 0);
    EXPECT_EQ(standard.notes[2].noteOffset, 0);
    EXPECT_EQ(room.notes[1], standard.notes[1]);
}

TEST(SynthFile, BadLinesAreNamedByNumberAndGoodLinesKept)
{
    const SynthImport read = ParseSynthText("Bad", "stray=1\n"
                                                   "[Bank 1:One]\n"
                                                   "no equals here\n"
                                                   "x=letter first\n"
                                                   "200=Too high\n"
                                                   "3=Good\n"
                                                   "\n"
                                                   "[Bank nine]\n"
                                                   "4=Lost with its header\n"
                                                   "[Effects]\n"
                                                   "1=skipped\n"
                                                   "[Drum 0/0:Kit]\n"
                                                   "BasedOn=Drum 9/9\n"
                                                   "36=Kick\n"
                                                   "[NRPN]\n"
                                                   "16384=Too high\n"
                                                   "16383=Top\r\n");
    const std::vector<std::string> expected = {
        "Line 1: this line stands before the first section; it is ignored.",
        "Line 3: \"no equals here\" is not an entry (a number, \"=\" and a name); it is ignored.",
        "Line 4: \"x=letter first\" is not an entry (a number, \"=\" and a name); it is ignored.",
        "Line 5: the patch number 200 is not from 0 to 127; the line is ignored.",
        "Line 8: a bank header needs a bank number from 0 to 16383, \":\" and a name; the section is skipped.",
        "Unknown section type: [Effects]",
        "Line 13: \"BasedOn=Drum 9/9\" names no drum set (bank/program) read before it; it is ignored.",
        "Line 16: the NRPN number 16384 is not from 0 to 16383; the line is ignored."};
    EXPECT_EQ(read.messages, expected);
    ASSERT_EQ(read.synth.banks.size(), 1u);
    EXPECT_EQ(read.synth.banks[0].patches, (std::vector<SynthPatch>{{3, "Good", ""}}));
    ASSERT_EQ(read.synth.drumSets.size(), 1u);
    EXPECT_EQ(read.synth.drumSets[0].notes.size(), 1u);
    EXPECT_EQ(read.synth.nrpns, (std::vector<NamedNumber>{{16383, "Top"}}));
}

TEST(SynthFile, SynthIsNamedAfterTheFile)
{
    EXPECT_EQ(SynthNameFromPath("/home/me/Synths/My Synth.txt"), "My Synth");
    EXPECT_EQ(SynthNameFromPath("C:\\Synths\\Old.TXT"), "Old");
    EXPECT_EQ(SynthNameFromPath("plain"), "plain");
}

TEST(SynthTexts, DisplayTextsOfEachItem)
{
    const Synthesizer synth = ParseSynthText("Box", FullSynthText).synth;
    const SynthBank& top = synth.banks[1];
    const struct {
        std::string text;
        std::string expected;
    } cases[] = {
        {BankText(top.number, top.name, false), "Bank 16383 (127/127): X"},
        {BankText(top.number, top.name, true), "Bank 127: X"},
        {DrumSetText(128, 8, "Room", false), "Bank 128 (1/0), PC9: Room"},
        {DrumSetText(128, 8, "Room", true), "Bank 1, PC9: Room"},
        {PatchText(0, "Piano"), "1: Piano"},
        {NumberText(36, "Kick"), "36: Kick"},
        {PortDrumSetText(128, 8, "Room"), "128/8: Room"},
        {ControllerListText("Level", 7), "Level (7)"},
    };
    for (const auto& entry : cases)
        EXPECT_EQ(entry.text, entry.expected);
}

TEST(SynthTexts, BuiltInControllerListHasEveryNumberThenPitchAndPressure)
{
    const std::vector<ControllerEntry>& list = BuiltInControllerList();
    ASSERT_EQ(list.size(), 130u);
    EXPECT_EQ(list[0].text, "Bank Select (0)");
    EXPECT_EQ(list[3].text, "3");
    EXPECT_EQ(list[7].text, "Volume (7)");
    EXPECT_EQ(list[127].text, "Poly Mode On (127)");
    EXPECT_EQ(list[128], (ControllerEntry{224, "Pitch (224)"}));
    EXPECT_EQ(list[129], (ControllerEntry{208, "Pressure (208)"}));
    const std::vector<ControllerEntry> own = ControllerList({{7, "Level"}});
    const std::vector<ControllerEntry> expected = {{7, "Level (7)"}, {224, "Pitch (224)"}, {208, "Pressure (208)"}};
    EXPECT_EQ(own, expected);
}

TEST(ResetText, UserTextsAcceptedAndRefused)
{
    const struct {
        const char* text;
        const char* refusedToken; // nullptr: accepted
    } cases[] = {
        {"F0 41 10 F7", nullptr},
        {" F0  41\r\n10 F7 ", nullptr},
        {"", nullptr},
        {"41 F0", "F0"},
        {"f0 41 10 f7", "f0"},
        {"F0 41 0a F7", "0a"},
        {"F7 41", "F7"},
        {"41 80", "80"},
        {"41 4 10", "4"},
        {"41 100", "100"},
    };
    for (const auto& entry : cases) {
        const std::string cleaned = CleanResetText(entry.text);
        const std::optional<ResetTextError> error = CheckResetText(cleaned);
        if (!entry.refusedToken) {
            EXPECT_FALSE(error) << entry.text;
            continue;
        }
        ASSERT_TRUE(error) << entry.text;
        EXPECT_EQ(error->message, std::string(entry.refusedToken) +
                                      " is not a valid hex byte (00-7F).  Enter data like 00 4F 22... etc.");
        EXPECT_EQ(cleaned.substr(error->start, error->length), entry.refusedToken);
    }
}

} // namespace
} // namespace cantivo
