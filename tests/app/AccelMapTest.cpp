#include "app/AccelMap.h"
#include "app/CommandTable.h"
#include "app/IniProfile.h"
#include "support/TestContext.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace cantivo {
namespace {

using test::MemoryProfile;

constexpr uint8_t V = AccelVirtualKey;

// The built-in map as a user reads it, in its order.
TEST(AccelMap, DefaultMapHoldsItsSixtyTwoBindingsInOrder)
{
    const std::vector<std::pair<std::string, std::string>> expected = {{"Ctrl+N", "New song or Cantivo set"},
                                                                       {"Ctrl+O", "Open"},
                                                                       {"Ctrl+S", "Save"},
                                                                       {"Alt+Ctrl+S", "Save ALL"},
                                                                       {"Ctrl+P", "Print"},
                                                                       {"Ctrl+F6", "Revert to previous song"},
                                                                       {"Ctrl+Z", "Undo"},
                                                                       {"Ctrl+Y", "Redo"},
                                                                       {"Ctrl+C", "Copy"},
                                                                       {"Ctrl+X", "Cut"},
                                                                       {"Ctrl+V", "Paste"},
                                                                       {"Delete", "Delete"},
                                                                       {"Ctrl+A", "Select all"},
                                                                       {"Ctrl+Q", "Quantize"},
                                                                       {"Alt+Enter", "Properties"},
                                                                       {"Ctrl+1", "View clips and cues"},
                                                                       {"Ctrl+2", "View events"},
                                                                       {"Ctrl+3", "View staff"},
                                                                       {"Ctrl+4", "View piano roll"},
                                                                       {"Ctrl+5", "View lyrics"},
                                                                       {"Ctrl+6", "View audio"},
                                                                       {"Alt+1", "View tempos"},
                                                                       {"Alt+2", "View realtime sliders"},
                                                                       {"Alt+3", "View expression"},
                                                                       {"Alt+4", "View pitch"},
                                                                       {"Ctrl+Enter", "Play"},
                                                                       {"Space", "Pause/un-pause"},
                                                                       {"Ctrl+R", "Record"},
                                                                       {"Esc", "Stop"},
                                                                       {"/", "Solo"},
                                                                       {"\\", "Un-solo"},
                                                                       {"F7", "Repeat measure"},
                                                                       {"F8", "Skip next measure"},
                                                                       {"F11", "Last vamp"},
                                                                       {"Ctrl+Home", "Goto beginning"},
                                                                       {"Ctrl+End", "Goto end"},
                                                                       {"Ctrl+PgDn", "Goto next cue"},
                                                                       {"Ctrl+PgUp", "Goto previous cue"},
                                                                       {"Ctrl+Left", "Previous measure"},
                                                                       {"Ctrl+Right", "Next measure"},
                                                                       {"Ctrl+G", "Goto position"},
                                                                       {"Ctrl+Up", "Previous note"},
                                                                       {"Ctrl+Down", "Next note"},
                                                                       {"Ctrl+]", "Tempo faster"},
                                                                       {"Ctrl+[", "Tempo slower"},
                                                                       {"Ctrl+0", "Tempo normal"},
                                                                       {"Alt+[", "Volume down"},
                                                                       {"Alt+0", "Volume full"},
                                                                       {"Alt+]", "Volume up"},
                                                                       {"F10", "Reset MIDI"},
                                                                       {"F12", "Free stuck notes"},
                                                                       {"Alt+A", "Menu: Adjust"},
                                                                       {"Alt+E", "Menu: Edit"},
                                                                       {"Alt+F", "Menu: File"},
                                                                       {"Alt+H", "Menu: Help"},
                                                                       {"Alt+I", "Menu: Insert"},
                                                                       {"Alt+S", "Menu: Sequencer"},
                                                                       {"Alt+U", "Menu: Setup"},
                                                                       {"Alt+V", "Menu: View"},
                                                                       {"F1", "Help"},
                                                                       {"Shift+F1", "Context Help"},
                                                                       {"Enter", "Enter to open song in set view"}};
    const std::span<const AccelEntry> entries = DefaultAccelEntries();
    ASSERT_EQ(entries.size(), expected.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(entries[i].flags & V);
        EXPECT_EQ(ShortcutText(entries[i]), expected[i].first);
        EXPECT_EQ(FunctionName(entries[i].command), expected[i].second);
    }

    // The stored bytes: 62 records of flags, 0, key, command, little-endian.
    const std::vector<uint8_t> bytes = EncodeAccelEntries(entries);
    ASSERT_EQ(bytes.size(), 372u);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 12),
              (std::vector<uint8_t>{0x09, 0, 'N', 0, 0x00, 0xE1, 0x09, 0, 'O', 0, 0x01, 0xE1}));
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 18, bytes.begin() + 24),
              (std::vector<uint8_t>{0x19, 0, 'S', 0, 0x31, 0x80})); // Ctrl+Alt+S Save ALL, 32817
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 29 * 6, bytes.begin() + 30 * 6),
              (std::vector<uint8_t>{0x01, 0, 0xBF, 0, 0x2F, 0x80})); // "/" Solo, 32815
    EXPECT_EQ(std::vector<uint8_t>(bytes.end() - 6, bytes.end()), (std::vector<uint8_t>{0x01, 0, 0x0D, 0, 0x15, 0x80}));
    EXPECT_EQ(DecodeAccelEntries(bytes), std::vector<AccelEntry>(entries.begin(), entries.end()));
}

TEST(AccelMap, ShortcutTexts)
{
    const struct {
        AccelEntry entry;
        const char* text;
    } cases[] = {
        {{0x18, 0x53, 1}, "Alt+Ctrl+S"}, // a character entry
        {{V | AccelCtrl, 0x78, 1}, "Ctrl+F9"},
        {{V | AccelAlt | AccelCtrl | AccelShift, 0x21, 1}, "Alt+Ctrl+Shift+PgUp"},
        {{V, 0x22, 1}, "PgDn"},
        {{V, 0x23, 1}, "End"},
        {{V, 0x24, 1}, "Home"},
        {{V, 0x25, 1}, "Left"},
        {{V, 0x26, 1}, "Up"},
        {{V, 0x27, 1}, "Right"},
        {{V, 0x28, 1}, "Down"},
        {{V, 0x87, 1}, "F24"},
        {{V, 0x61, 1}, "Num 1"},
        {{V, 0xFF, 1}, "Key 0xFF"},
        {{0, 0x01, 1}, "Ctrl+A"}, // a control character: Ctrl and the letter 64 above it
        {{AccelShift, 'a', 1}, "Shift+a"},
        {{0, ' ', 1}, " "},
        {{0, 0xE9, 1}, "\xC3\xA9"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ShortcutText(c.entry), c.text) << int(c.entry.flags) << " " << c.entry.key;
}

TEST(AccelMap, StoredValueSizeRules)
{
    const struct {
        size_t bytes;
        size_t entries;
    } cases[] = {{0, 0}, {5, 0}, {7, 1}, {594, 99}, {600, 100}, {601, 0}, {606, 0}, {6000, 0}};
    for (const auto& c : cases) {
        std::vector<uint8_t> bytes(c.bytes, 0x01);
        EXPECT_EQ(DecodeAccelEntries(bytes).size(), c.entries) << c.bytes;
    }
}

TEST(AccelMap, QtKeysTranslateBothWays)
{
    const struct {
        uint16_t virtualKey;
        int qtKey;
    } cases[] = {{0x70, 0x01000030}, {0x87, 0x01000047}, {0x0D, 0x01000004}, {0x1B, 0x01000000},
                 {0x22, 0x01000017}, {0x2E, 0x01000007}, {'A', 'A'},         {'7', '7'},
                 {0x20, 0x20},       {0xBF, 0x2F},       {0xDB, 0x5B},       {0xDD, 0x5D}};
    for (const auto& c : cases) {
        EXPECT_EQ(QtKeyFromVirtualKey(c.virtualKey), c.qtKey) << c.virtualKey;
        EXPECT_EQ(VirtualKeyFromQtKey(c.qtKey), c.virtualKey) << c.qtKey;
    }
    for (uint16_t key = 0; key < 256; ++key) {
        if (const std::optional<int> qt = QtKeyFromVirtualKey(key)) {
            EXPECT_EQ(VirtualKeyFromQtKey(*qt), key) << key;
        }
    }
    EXPECT_EQ(VirtualKeyFromQtKey(0x01000005), 0x0D); // the keypad's Enter
    EXPECT_FALSE(VirtualKeyFromQtKey(0x01ffffff));
    EXPECT_EQ(QtModifiersFromAccelFlags(V | AccelCtrl | AccelShift), 0x06000000);
    EXPECT_EQ(AccelFlagsFromQtModifiers(0x0A000000), AccelAlt | AccelShift);
}

TEST(AccelMapStore, FirstStartActivatesAndStoresDefault)
{
    MemoryProfile profile;
    AccelMapStore store(profile);
    const ActiveAccelTable table = store.Activate();
    EXPECT_TRUE(table.enabled);
    EXPECT_EQ(table.name, "Default");
    ASSERT_EQ(table.entries.size(), 100u);
    EXPECT_EQ(FindAccelCommand(table.entries, V, 0x20), ToNumber(CommandId::PauseUnpause));
    EXPECT_EQ(profile.GetBinary("AccelMap", "Default"), EncodeAccelEntries(DefaultAccelEntries()));

    AccelMapEditorModel editor(store);
    ASSERT_EQ(editor.Maps().size(), 1u);
    EXPECT_EQ(editor.SelectedMap()->name, "Default");
    EXPECT_EQ(editor.SelectedMap()->entries.size(), 62u);
    EXPECT_FALSE(editor.CanChangeEntries());
    EXPECT_FALSE(editor.CanDelete());
    std::string message;
    EXPECT_FALSE(editor.AddEntry({V, 0x78, 1}, message));
}

TEST(AccelMapStore, ActivationFollowsTheSectionValues)
{
    const struct {
        const char* name;
        int enabled;
        std::string useWhich;
        std::vector<uint8_t> stored; // the value "Live"
        bool expectEnabled;
        std::optional<uint16_t> ctrlF9;
    } cases[] = {
        {"disabled", 0, "Default", {}, false, std::nullopt},
        {"stored map", 1, "Live", {0x09, 0, 0x78, 0, 0x0A, 0x80}, true, 32778},
        {"map not stored", 1, "Gone", {0x09, 0, 0x78, 0, 0x0A, 0x80}, true, std::nullopt},
        {"over 600 bytes", 1, "Live", std::vector<uint8_t>(606, 0x09), true, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryProfile profile;
        ASSERT_TRUE(profile.WriteInt("AccelMap", "Enabled", c.enabled));
        ASSERT_TRUE(profile.WriteString("AccelMap", "UseWhich", c.useWhich));
        ASSERT_TRUE(profile.WriteBinary("AccelMap", "Live", c.stored));
        const ActiveAccelTable table = AccelMapStore(profile).Activate();
        EXPECT_EQ(table.enabled, c.expectEnabled);
        EXPECT_EQ(table.entries.size(), c.expectEnabled ? 100u : 0u);
        EXPECT_EQ(FindAccelCommand(table.entries, V | AccelCtrl, 0x78), c.ctrlF9);
        // The zero entries past the stored ones match nothing, not even a zero key.
        EXPECT_FALSE(FindAccelCommand(table.entries, 0, 0));
    }
}

TEST(AccelMapEditorModel, NewMapFromDefaultWithAKeyWorksAtOnceAfterOk)
{
    MemoryProfile profile;
    AccelMapStore store(profile);
    (void)store.Activate();
    AccelMapEditorModel editor(store);
    EXPECT_FALSE(editor.CanSaveNewMap(""));
    EXPECT_FALSE(editor.CanSaveNewMap("Default"));
    ASSERT_TRUE(editor.SaveNewMap("Live"));
    EXPECT_EQ(editor.SelectedMap()->name, "Live");
    EXPECT_TRUE(editor.CanChangeEntries());
    std::string message;
    ASSERT_TRUE(editor.AddEntry({V | AccelCtrl, 0x78, ToNumber(CommandId::NextMeasure)}, message));
    // A shortcut already bound in the map is refused with the function that has it.
    EXPECT_FALSE(editor.AddEntry({V, 0x20, ToNumber(CommandId::Play)}, message));
    EXPECT_EQ(message, "Space is already assigned to 'Pause/un-pause'.");
    EXPECT_TRUE(editor.ReplaceEntry(26, {V, 0x20, ToNumber(CommandId::Play)}, message));
    ASSERT_TRUE(editor.Save());

    EXPECT_EQ(profile.GetString("AccelMap", "UseWhich", ""), "Live");
    const ActiveAccelTable table = store.Activate();
    EXPECT_EQ(FindAccelCommand(table.entries, V | AccelCtrl, 0x78), ToNumber(CommandId::NextMeasure));
    EXPECT_EQ(FindAccelCommand(table.entries, V, 0x20), ToNumber(CommandId::Play));
    EXPECT_EQ(store.Load("Default")->entries.size(), 62u);
}

TEST(AccelMapEditorModel, RenameDeleteRemoveAndTheEntryLimit)
{
    MemoryProfile profile;
    AccelMapStore store(profile);
    (void)store.Activate();
    AccelMapEditorModel editor(store);
    ASSERT_TRUE(editor.SaveNewMap("Live"));
    EXPECT_FALSE(editor.Rename("Default"));
    EXPECT_FALSE(editor.Rename(""));
    ASSERT_TRUE(editor.Rename("Stage"));
    ASSERT_TRUE(editor.RemoveEntries({0, 61, 0}));
    EXPECT_EQ(editor.SelectedMap()->entries.size(), 60u);
    EXPECT_EQ(ShortcutText(editor.SelectedMap()->entries.front()), "Ctrl+O");
    EXPECT_FALSE(editor.RemoveEntries({60}));

    std::string message;
    for (uint16_t key = 1; editor.SelectedMap()->entries.size() < MaxAccelEntries; ++key)
        ASSERT_TRUE(editor.AddEntry({V | AccelShift | AccelAlt, key, 1}, message)) << message;
    EXPECT_FALSE(editor.AddEntry({V | AccelShift | AccelCtrl, 'Q', 1}, message));
    EXPECT_EQ(message, "A map holds at most 100 shortcuts.");

    ASSERT_TRUE(editor.Save());
    EXPECT_EQ(store.Load("Stage")->entries.size(), 100u);
    EXPECT_FALSE(store.Load("Live"));

    ASSERT_TRUE(editor.Select("Default"));
    EXPECT_FALSE(editor.DeleteSelected());
    ASSERT_TRUE(editor.Select("Stage"));
    ASSERT_TRUE(editor.DeleteSelected());
    EXPECT_EQ(editor.SelectedMap()->name, "Default");
    ASSERT_TRUE(editor.Save());
    EXPECT_EQ(profile.EnumValues("AccelMap"), std::vector<std::string>{"Default"});
}

// The INI file keeps every byte of a map, and a second program sees what the editor stored.
TEST(AccelMapStore, MapsKeepEveryByteInTheSettingsFile)
{
    const std::filesystem::path path = std::filesystem::temp_directory_path() / "cantivo-accelmap-test.ini";
    std::filesystem::remove(path);
    AccelMap map{"Band \\ 1/2 %", {}};
    for (uint16_t i = 0; i < 100; ++i)
        map.entries.push_back(
            {static_cast<uint8_t>(i * 7), static_cast<uint16_t>(i * 0x0A0B), static_cast<uint16_t>(0xFFFF - i)});
    {
        IniProfile profile(path.string());
        AccelMapStore store(profile);
        (void)store.Activate();
        ASSERT_TRUE(store.SaveAll({map, {"Default", {DefaultAccelEntries().begin(), DefaultAccelEntries().end()}}},
                                  map.name, true));
    }
    IniProfile again(path.string());
    AccelMapStore store(again);
    EXPECT_EQ(store.UseWhich(), map.name);
    EXPECT_EQ(store.Load(map.name), map);
    EXPECT_EQ(store.LoadAll().size(), 2u);
    // Entry bytes come back whole, the zero padding byte included.
    EXPECT_EQ(again.GetBinary("AccelMap", map.name), EncodeAccelEntries(map.entries));
    std::filesystem::remove(path);
}

std::vector<AccelMap> ThreeMaps()
{
    return {{"Default", {DefaultAccelEntries().begin(), DefaultAccelEntries().end()}},
            {"Live", {{V | AccelCtrl, 0x78, 32778}, {0x18, 'S', 57603}}},
            {std::string(300, 'x'), {}}}; // a name long enough for the two-byte length
}

TEST(AccelMapFile, ExportThenImportGivesTheMapsReversedAndTheSameBytes)
{
    const std::vector<AccelMap> maps = ThreeMaps();
    const std::vector<uint8_t> file = ExportAccelMaps(maps);
    EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.begin() + 16),
              (std::vector<uint8_t>{1, 0, 0, 0, 3, 0, 0, 0, 0xFF, 0x2C, 0x01, 'x', 'x', 'x', 'x', 'x'}));

    std::vector<AccelMap> imported;
    std::string error;
    ASSERT_TRUE(ImportAccelMaps(
        file, imported, [](const std::string&) { return true; }, error))
        << error;
    EXPECT_EQ(imported, std::vector<AccelMap>(maps.rbegin(), maps.rend()));
    EXPECT_EQ(WriteAccelMapFile(imported), file);
    EXPECT_EQ(ExportAccelMaps(std::vector<AccelMap>(imported.rbegin(), imported.rend())), file);
}

TEST(AccelMapFile, ExistingNamesAreReplacedOrSkippedAsAnswered)
{
    const std::vector<uint8_t> file = WriteAccelMapFile(ThreeMaps());
    for (bool yes : {true, false}) {
        std::vector<AccelMap> list = {{"Live", {}}, {"Other", {{V, 0x41, 1}}}};
        std::vector<std::string> asked;
        std::string error;
        ASSERT_TRUE(ImportAccelMaps(
            file, list,
            [&](const std::string& name) {
                asked.push_back(AccelOverwriteQuestion(name));
                return yes;
            },
            error));
        EXPECT_EQ(asked, std::vector<std::string>{"Map 'Live' already exists.  Overwrite?"});
        ASSERT_EQ(list.size(), 4u);
        EXPECT_EQ(list[0].entries.size(), yes ? 2u : 0u);
        EXPECT_EQ(list[1].name, "Other");
        EXPECT_EQ(list[2].name, "Default");
    }
}

TEST(AccelMapFile, DamagedFilesStopWithAMessageAndKeepTheMapsReadBefore)
{
    const std::vector<uint8_t> file = WriteAccelMapFile(ThreeMaps());
    const size_t firstMapEnd = 8 + 1 + 7 + 4 + 372;
    for (size_t length = 0; length < file.size(); ++length) {
        const AccelMapFileRead read = ReadAccelMapFile(std::span(file).first(length));
        EXPECT_FALSE(read.complete) << length;
        EXPECT_NE(read.error.find("The accelerator map file is damaged"), std::string::npos) << length;
        EXPECT_EQ(read.maps.size(), length < firstMapEnd ? 0u : (length < firstMapEnd + 1 + 4 + 4 + 12 ? 1u : 2u))
            << length;
    }

    // A map that claims more entries than a map can hold.
    std::vector<uint8_t> tooMany = {1, 0, 0, 0, 1, 0, 0, 0, 1, 'A', 101, 0, 0, 0};
    tooMany.resize(tooMany.size() + 606);
    const AccelMapFileRead read = ReadAccelMapFile(tooMany);
    EXPECT_FALSE(read.complete);
    EXPECT_EQ(read.error, "The accelerator map file is damaged: map 'A' has 101 entries, at most 100 fit.");

    // A count of maps far past the end is no reason to allocate.
    EXPECT_FALSE(ReadAccelMapFile(std::vector<uint8_t>{1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}).complete);
}

TEST(AccelMapFile, WideNamesAreRead)
{
    // 0xFF, the mark 0xFFFE, a length of 2 characters, then UTF-16LE "Lé".
    const std::vector<uint8_t> file = {1, 0, 0, 0, 1, 0, 0, 0, 0xFF, 0xFE, 0xFF, 2, 'L', 0, 0xE9, 0, 0, 0, 0, 0};
    const AccelMapFileRead read = ReadAccelMapFile(file);
    ASSERT_TRUE(read.complete) << read.error;
    EXPECT_EQ(read.maps.at(0).name, "L\xC3\xA9");
}

} // namespace
} // namespace cantivo
