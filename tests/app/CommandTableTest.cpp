#include "app/CommandTable.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>

namespace cantivo {
namespace {

std::string Lower(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower;
}

TEST(CommandTable, HoldsThe116BindableFunctionsFirstWithUniqueIdsAndNames)
{
    const auto bindable = BindableCommands();
    ASSERT_EQ(bindable.size(), 116u);
    EXPECT_EQ(bindable.data(), AllCommands().data()) << "the bindable functions open the table";

    std::set<uint16_t> ids;
    std::set<std::string> names;
    for (const CommandInfo& command : AllCommands()) {
        SCOPED_TRACE(command.shortName);
        EXPECT_TRUE(ids.insert(command.id).second) << "id " << command.id << " twice";
        // Unique even ignoring case, so the case-insensitive look-up can never pick the wrong one.
        EXPECT_TRUE(names.insert(Lower(command.shortName)).second);
        EXPECT_FALSE(command.shortName.empty());
        EXPECT_FALSE(command.prompt.empty());
        EXPECT_EQ(command.prompt.find('\n'), std::string_view::npos);
        const bool listed = static_cast<size_t>(&command - AllCommands().data()) < bindable.size();
        EXPECT_EQ(command.bindable, listed);
    }
}

TEST(CommandTable, FunctionListOrderIdsAndShortNames)
{
    struct Case {
        size_t index;
        uint16_t id;
        std::string_view shortName;
    };
    const Case cases[] = {
        {0, 32789, "Enter to open song in set view"},
        {1, 57600, "New song or Cantivo set"},
        {63, 32775, "Play"},
        {67, 32776, "Stop"},
        {82, 33000, "Advance: no"},
        {87, 32810, "Tempo faster"},
        {107, 32984, "Check for updates"},
        {108, 61467, "Menu: File"},
        {109, 61468, "Menu: Edit"},
        {110, 61469, "Menu: View"},
        {111, 61470, "Menu: Insert"},
        {112, 61471, "Menu: Sequencer"},
        {113, 61472, "Menu: Adjust"},
        {114, 61473, "Menu: Setup"},
        {115, 61474, "Menu: Help"},
    };
    const auto bindable = BindableCommands();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shortName);
        ASSERT_LT(c.index, bindable.size());
        EXPECT_EQ(bindable[c.index].id, c.id);
        EXPECT_EQ(bindable[c.index].shortName, c.shortName);
    }
}

TEST(CommandTable, LooksUpByNumberAndByShortName)
{
    struct Case {
        std::string_view name;
        int id; // -1: no such command
    };
    const Case cases[] = {
        {"Play", 32775},
        {"Pause/un-pause", 32878},
        {"Goto position", 32922},
        {"Next song", 33003},
        {"Previous song", 33004},
        {"tempo FASTER", 32810}, // case ignored as a convenience
        {"MENU: help", 61474},
        {"Tempo fastr", -1},
        {"Play ", -1}, // no trimming: a script trims before it asks
        {"Plays", -1},
        {"", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CommandInfo* found = FindCommandByShortName(c.name);
        if (c.id < 0) {
            EXPECT_EQ(found, nullptr);
            continue;
        }
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->id, c.id);
        EXPECT_EQ(FindCommand(found->id), found);
    }
    EXPECT_EQ(FindCommand(0), nullptr);
    EXPECT_EQ(FindCommand(32772), nullptr);
    ASSERT_NE(FindCommand(CommandId::VolumeUp), nullptr);
    EXPECT_EQ(FindCommand(CommandId::VolumeUp)->shortName, "Volume up");
    EXPECT_FALSE(FindCommand(CommandId::NextSong)->bindable);
    EXPECT_TRUE(FindCommand(CommandId::RevertToPreviousSong)->bindable);
}

TEST(CommandTable, TextResourceIsPromptNewlineShortName)
{
    struct Case {
        uint16_t id;
        std::string_view text;
    };
    const Case cases[] = {
        {ToNumber(CommandId::NextSong), "Advance to the next song\nNext song"},
        {ToNumber(CommandId::PreviousSong), "Return to the previous song\nPrevious song"},
        {ToNumber(CommandId::Go), "Go\nEnter to open song in set view"},
        {ToNumber(CommandId::Play), "Play/Tap (Cue)\nPlay"},
        {ToNumber(CommandId::Pause), "Pause and hold notes\nPause"},
        {ToNumber(CommandId::Stop), "Stop and silence notes\nStop"},
        {ToNumber(CommandId::ResetMidi), "Send the most command synthesizer reset commands\nReset MIDI"},
        {ToNumber(CommandId::FreeStuckNotes), "Send explicit MIDI commands to silence rogue notes\nFree stuck notes"},
        {ToNumber(CommandId::AdvancePlay), "Advance to the next song; then immediately begin playback\nAdvance: play"},
        {ToNumber(CommandId::Undo), "Undo the last action\nUndo"},
        {ToNumber(CommandId::UnSolo), "Undo all Solo command(s)\nUn-solo"},
        {32772, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CommandText(c.id), c.text) << c.id;
    }
}

TEST(CommandTable, FunctionNameIsTheShortNameOrTheNumber)
{
    EXPECT_EQ(FunctionName(32794), "Free stuck notes");
    EXPECT_EQ(FunctionName(32772), "32772") << "a stored map may hold a number the program does not know";
    EXPECT_EQ(FunctionName(0), "0");
}

} // namespace
} // namespace cantivo
