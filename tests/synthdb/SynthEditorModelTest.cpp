#include "synthdb/SynthEditorModel.h"
#include "synthdb/SynthDatabase.h"
#include "synthdb/SynthFile.h"

#include "support/TestContext.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace cantivo {
namespace {

namespace fs = std::filesystem;

constexpr const char* BoxText = "[Bank 0:Main]\n0=Piano\n1=Organ\n[Drum 0/0:Kit]\n36=Kick\n"
                                "[Controllers]\n7=Level\n[NRPN]\n300=Cutoff\n";

class SynthEditorModelTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        std::string warning;
        db = SynthDatabase::Open({":memory:", ""}, warning);
        Synthesizer box = ParseSynthText("Box", BoxText).synth;
        ASSERT_TRUE(db->WriteSynth(box));
        Synthesizer other;
        other.name = "Other";
        ASSERT_TRUE(db->WriteSynth(other));
        model.Load(*db);
        ASSERT_EQ(model.Synths().size(), 2u);
    }
    SynthItem Bank() const { return {SynthItemKind::Bank, 0, 0}; }
    SynthItem Patch(int entry) const { return {SynthItemKind::Patch, 0, 0, entry}; }

    std::unique_ptr<SynthDatabase> db;
    SynthEditorModel model;
    test::ScriptedPrompter prompter;
};

TEST_F(SynthEditorModelTest, TreeGroupsAndTitle)
{
    const SynthItem synth{SynthItemKind::Synth, 0};
    std::vector<std::string> groups;
    for (const SynthItem& item : model.Children(synth))
        groups.push_back(model.ItemText(item));
    EXPECT_EQ(groups, (std::vector<std::string>{"Patches", "Drumsets", "Controllers", "NRPN"}));
    EXPECT_EQ(model.ItemText(model.Children({SynthItemKind::PatchesGroup, 0})[0]), "Bank 0 (0/0): Main");
    EXPECT_EQ(model.ItemText(model.Children(Bank())[1]), "2: Organ");
    EXPECT_EQ(model.Title(std::nullopt), "Synth database...");
    EXPECT_EQ(model.Title(Patch(0)), "Synth database [Box] ...");
    EXPECT_EQ(model.MenuItems(Bank()), (std::vector<std::string>{"Insert bank", "Remove bank", "Insert patch"}));
}

TEST_F(SynthEditorModelTest, NewItemsStartWithTheirTexts)
{
    EXPECT_EQ(model.ItemText(model.InsertBank(0)), "Bank ?: New bank");
    EXPECT_EQ(model.ItemText(model.InsertPatch(0, 0)), "3: New Patch"); // after patches 1 and 2
    const SynthItem set = model.InsertDrumSet(0);
    EXPECT_EQ(model.ItemText(set), "?,?: New drumset");
    model.CancelInsert(set);
    EXPECT_EQ(model.Children({SynthItemKind::DrumsetsGroup, 0}).size(), 1u);
    EXPECT_EQ(model.ItemText(model.InsertNote(0, 0)), "37: New note");
    EXPECT_EQ(model.ItemText(model.InsertController(0)), "8: New CC");
    EXPECT_EQ(model.ItemText(model.InsertNrpn(0)), "301: New NRPN");
    // A full bank has no free number to offer.
    const SynthItem bank = model.InsertBank(1);
    ASSERT_TRUE(model.EditBank(bank, 5, "Full"));
    for (int i = 0; i < 128; ++i)
        (void)model.InsertPatch(1, 0);
    EXPECT_EQ(model.ItemText(model.InsertPatch(1, 0)), "?: New Patch");
    // A bank whose number is never given is not stored.
    ASSERT_TRUE(model.WriteBack(*db));
    EXPECT_EQ(db->LoadSynth(model.Synths()[0].number)->banks.size(), 1u);
}

TEST_F(SynthEditorModelTest, EditsRefuseNumbersOutOfRangeOrInUse)
{
    const SynthItem newBank = model.InsertBank(0);
    const SynthItem newSet = model.InsertDrumSet(0);
    const SynthItem newNote = model.InsertNote(0, 0);
    const SynthItem newCc = model.InsertController(0);
    const SynthItem newNrpn = model.InsertNrpn(0);
    const struct {
        SynthEditResult result;
        const char* message;
    } cases[] = {
        {model.EditBank(newBank, 0, "Again"), "That bank number is already in use."},
        {model.EditBank(newBank, 16384, "Far"), "Please enter an integer between 0 and 16383."},
        {model.EditPatch(Patch(1), 1, "Organ", ""), "That patch number is already in use."},
        {model.EditPatch(Patch(1), 129, "Organ", ""), "Please enter an integer between 1 and 128."},
        {model.EditDrumSet(newSet, 0, 1, "Again"), "That bank/patch number is already in use."},
        {model.EditNote(newNote, 36, "Again"), "That note number is already in use."},
        {model.EditController(newCc, 7, "Again"), "That CC number is already in use."},
        {model.EditController(newCc, 128, "High"), "Please enter an integer between 0 and 127."},
        {model.EditNrpn(newNrpn, 300, "Again"), "That NRPN number is already in use."},
        {model.EditNrpn(newNrpn, 16384, "High"), "Please enter an integer between 0 and 16383."},
    };
    for (const auto& entry : cases) {
        EXPECT_FALSE(entry.result);
        EXPECT_EQ(entry.result.message, entry.message);
    }
    // An accepted number puts the item in number order.
    const SynthEditResult moved = model.EditPatch(Patch(1), 1 + 0x7F, "Last", "Keys");
    ASSERT_TRUE(moved);
    EXPECT_EQ(model.ItemText(moved.item), "128: Last");
    EXPECT_EQ(moved.item.entry, 1);
    EXPECT_EQ(model.Range(newBank).high, 16383);
}

TEST_F(SynthEditorModelTest, RemovalAsksWithTheItemText)
{
    const struct {
        SynthItem item;
        const char* question;
    } cases[] = {
        {{SynthItemKind::Nrpn, 0, -1, 0}, "Are you sure that you want to delete NRPN 300: Cutoff"},
        {{SynthItemKind::Controller, 0, -1, 0}, "Are you sure that you want to delete CC 7: Level"},
        {{SynthItemKind::Note, 0, 0, 0}, "Are you sure that you want to delete Note 36: Kick"},
        {{SynthItemKind::DrumSet, 0, 0}, "Are you sure that you want to delete Drumset Bank 0 (0/0), PC1: Kit"},
        {{SynthItemKind::Patch, 0, 0, 0}, "Are you sure that you want to delete Patch 1: Piano"},
        {{SynthItemKind::Bank, 0, 0}, "Are you sure that you want to delete Bank 0 (0/0): Main"},
        {{SynthItemKind::Synth, 1}, "Are you sure that you want to delete Synth: Other"},
    };
    for (const auto& entry : cases) {
        EXPECT_EQ(model.RemovalQuestion(entry.item), entry.question);
        prompter.answers = {false};
        EXPECT_FALSE(model.Remove(entry.item, prompter));
        EXPECT_EQ(model.RemovalQuestion(entry.item), entry.question); // No keeps it
    }
    prompter.answers = {true};
    EXPECT_TRUE(model.Remove({SynthItemKind::Patch, 0, 0, 0}, prompter));
    EXPECT_EQ(model.ItemText(Patch(0)), "2: Organ");
}

TEST_F(SynthEditorModelTest, EditSynthChecksTheUserResetText)
{
    SynthSettings settings = model.Settings(0);
    settings.name = std::string(60, 'N');
    settings.cc0Only = true;
    settings.resetBits = TechGmReset | TechUserReset;
    settings.resetText = "F0 41\n10 f7";
    const SynthEditResult refused = model.EditSynth(0, settings);
    EXPECT_FALSE(refused);
    EXPECT_EQ(refused.message, "f7 is not a valid hex byte (00-7F).  Enter data like 00 4F 22... etc.");
    EXPECT_EQ(refused.selectStart, 9u);
    EXPECT_EQ(refused.selectLength, 2u);
    EXPECT_EQ(model.Synths()[0].name, "Box"); // nothing taken from a refused dialog

    settings.resetText = "F0  41\n10 F7";
    ASSERT_TRUE(model.EditSynth(0, settings));
    const Synthesizer& synth = model.Synths()[0];
    EXPECT_EQ(synth.name, std::string(48, 'N'));
    EXPECT_EQ(synth.technology, TechGmReset | TechUserReset | TechCc0Only);
    EXPECT_EQ(synth.resetSysex, "F0 41 10 F7");
    EXPECT_EQ(model.ItemText(Bank()), "Bank 0: Main");
    EXPECT_EQ(model.Range(Bank()).high, 127);
}

TEST_F(SynthEditorModelTest, OkWritesTheTreeAndDeletesRemovedSynthsEverywhere)
{
    const int32_t boxNumber = model.Synths()[0].number;
    prompter.answers = {true};
    ASSERT_TRUE(model.Remove({SynthItemKind::Synth, 0}, prompter));
    ASSERT_TRUE(model.EditController(model.InsertController(0), 1, "Mod"));
    ASSERT_TRUE(model.EditBank(model.InsertBank(0), 1, "Keys"));
    ASSERT_TRUE(model.EditPatch(model.InsertPatch(0, 0), 1, "Rhodes", "Piano"));

    std::string pattern = (fs::temp_directory_path() / "cantivo-editor-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path file = fs::path(pattern) / "Imported.txt";
    std::ofstream(file) << "[Bank 2:Two]\n4=Five\nbad line\n";
    const std::vector<std::string> messages = model.Import({file.string(), (fs::path(pattern) / "none.txt").string()});
    fs::remove_all(pattern);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_NE(messages[0].find("Line 3:"), std::string::npos);
    EXPECT_NE(messages[1].find("cannot be opened"), std::string::npos);

    // Before OK nothing has changed.
    EXPECT_TRUE(db->LoadSynth(boxNumber));
    ASSERT_TRUE(model.WriteBack(*db));
    EXPECT_FALSE(model.Changed());
    EXPECT_FALSE(db->LoadSynth(boxNumber));
    EXPECT_FALSE(db->QueryPatchName(boxNumber, 0, 0));
    EXPECT_FALSE(db->QueryDrumName(boxNumber, 0, 0, 36));
    EXPECT_FALSE(db->QueryControllerName(boxNumber, 7));
    EXPECT_FALSE(db->QueryNrpnName(boxNumber, 300));
    const std::optional<SynthInfo> other = db->FindSynth("Other");
    ASSERT_TRUE(other);
    EXPECT_EQ(db->QueryControllerName(other->number, 1), "Mod");
    EXPECT_EQ(db->Categories(), (std::vector<std::string>{"Piano"}));
    const std::optional<SynthInfo> imported = db->FindSynth("Imported");
    ASSERT_TRUE(imported);
    EXPECT_EQ(db->QueryPatchName(imported->number, 2, 4), "Five");
}

} // namespace
} // namespace cantivo
