#include "synthdb/SynthDatabase.h"
#include "synthdb/SynthFile.h"
#include "synthdb/SynthLookup.h"

#include "support/CommandLine.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace cantivo {
namespace {

namespace fs = std::filesystem;

const std::string SourceData = std::string(CANTIVO_SOURCE_DIR) + "/data";

constexpr const char* BoxText = "[Bank 0:Main]\n0=Piano\n[Bank 129:Alt]\n0=Bright\n"
                                "[Drum 0/0:Kit]\n36=Kick\n[Drum 8/16:Only drums]\n36=Boom\n"
                                "[Controllers]\n7=Level\n[NRPN]\n300=Cutoff\n";

// Every test works in a folder of its own.
class SynthDatabaseTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "cantivo-synthdb-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        path = (folder / "cv.db").string();
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::permissions(path, fs::perms::owner_all, ignored);
        fs::remove_all(folder, ignored);
    }
    std::unique_ptr<SynthDatabase> Open(std::string& warning, int busyMs = 2000, bool readOnly = false)
    {
        return SynthDatabase::Open({path, SourceData, busyMs, readOnly}, warning);
    }
    std::unique_ptr<SynthDatabase> OpenClean()
    {
        std::string warning;
        auto db = Open(warning);
        EXPECT_EQ(warning, "");
        return db;
    }
    static int32_t AddBox(SynthDatabase& db)
    {
        Synthesizer box = ParseSynthText("Box", BoxText).synth;
        EXPECT_TRUE(db.WriteSynth(box));
        return box.number;
    }

    fs::path folder;
    std::string path;
};

sqlite3* RawOpen(const std::string& path)
{
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    return db;
}

void RawExec(sqlite3* db, const char* sql)
{
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "") << ": " << sql;
    sqlite3_free(error);
}

TEST_F(SynthDatabaseTest, FirstStartFillsTheShippedGeneralMidiBoundToTheBuiltInSynth)
{
    auto db = OpenClean();
    EXPECT_TRUE(fs::exists(path));
    SynthLookup& lookup = db->Lookup();
    const Synthesizer* gm = lookup.PortSynth("Cantivo Synth");
    ASSERT_NE(gm, nullptr);
    EXPECT_EQ(gm->name, "General MIDI");
    ASSERT_EQ(gm->banks.size(), 1u);
    EXPECT_EQ(gm->banks[0].patches.size(), 128u);
    ASSERT_EQ(gm->drumSets.size(), 1u);
    EXPECT_EQ(gm->drumSets[0].notes.front().number, 35);
    EXPECT_EQ(gm->drumSets[0].notes.back().number, 81);
    EXPECT_EQ(lookup.DrumMask("Cantivo Synth"), 1 << 9);
    EXPECT_EQ(*lookup.PatchName(gm->number, 0, 0), "Acoustic Grand Piano");
    EXPECT_EQ(*lookup.PatchName(gm->number, 0, 127), "Gunshot");
    EXPECT_EQ(*lookup.DrumNoteName(gm->number, 0, 0, 36), "Bass Drum 1");
    EXPECT_EQ(lookup.PortReset("Cantivo Synth")->technology, TechGmReset);
    EXPECT_TRUE(lookup.IsDrumTrack("Cantivo Synth", 9, 0, 0));
    // Bank 0 program 0 is a patch as well, so on another channel it is no drum track.
    EXPECT_FALSE(lookup.IsDrumTrack("Cantivo Synth", 0, 0, 0));
}

TEST_F(SynthDatabaseTest, ProblemsOfTheShippedFilesAreReportedAtFirstStart)
{
    fs::create_directories(folder / "data" / "synths");
    std::ofstream(folder / "data" / "synths" / "Rack.txt") << "[Oops]\n[Bank 0:Main]\n0=Piano\n";
    std::string warning;
    auto db = SynthDatabase::Open({path, (folder / "data").string()}, warning);
    EXPECT_NE(warning.find("Rack.txt: Unknown section type: [Oops]"), std::string::npos) << warning;
    EXPECT_TRUE(db->Writable());
    const std::optional<SynthInfo> rack = db->FindSynth("Rack");
    ASSERT_TRUE(rack);
    EXPECT_EQ(db->QueryPatchName(rack->number, 0, 0), "Piano");
    EXPECT_FALSE(db->QueryPort("Cantivo Synth")); // no General MIDI shipped here, so nothing is bound
}

TEST_F(SynthDatabaseTest, PortWithoutPortconfigHasNoSynth)
{
    auto db = OpenClean();
    SynthLookup& lookup = db->Lookup();
    EXPECT_EQ(lookup.PortSynth("Elsewhere"), nullptr);
    EXPECT_TRUE(lookup.PortDrumSetTexts("Elsewhere").empty());
    EXPECT_EQ(lookup.PortControllers("Elsewhere"), BuiltInControllerList());
    EXPECT_EQ(lookup.DrumMask("Elsewhere"), 0);
    EXPECT_FALSE(lookup.PortReset("Elsewhere"));
    EXPECT_FALSE(lookup.IsDrumTrack("Elsewhere", 9, 0, 0));
}

TEST_F(SynthDatabaseTest, StoredSynthLoadsBackAndLookupsFollowWrites)
{
    auto db = OpenClean();
    const int32_t number = AddBox(*db);
    Synthesizer expected = ParseSynthText("Box", BoxText).synth;
    expected.number = number;
    EXPECT_EQ(db->LoadSynth(number), expected);
    ASSERT_TRUE(db->BindPort({"Box Port", number, 0}));
    SynthLookup& lookup = db->Lookup();
    EXPECT_EQ(*lookup.BankName(number, 129), "Alt");
    EXPECT_EQ(*lookup.ControllerName(number, 7), "Level");
    EXPECT_EQ(lookup.ControllerName(number, 8), nullptr);
    EXPECT_EQ(*lookup.NrpnName(number, 300), "Cutoff");
    EXPECT_EQ(db->QueryPatchName(number, 129, 0), "Bright");
    EXPECT_EQ(lookup.PortControllers("Box Port").front().text, "Level (7)");
    EXPECT_EQ(lookup.PortDrumSetTexts("Box Port"), (std::vector<std::string>{"0/0: Kit", "8/16: Only drums"}));
    // A drum set that is not also a patch makes a drum track on any channel.
    EXPECT_TRUE(lookup.IsDrumTrack("Box Port", 0, 8, 16));
    EXPECT_FALSE(lookup.IsDrumTrack("Box Port", 0, 0, 0));

    expected.banks[0].patches[0].name = "Grand";
    ASSERT_TRUE(db->WriteSynth(expected));
    EXPECT_EQ(*lookup.PatchName(number, 0, 0), "Grand");
    ASSERT_TRUE(db->DeleteSynth(number));
    EXPECT_EQ(lookup.PortSynth("Box Port"), nullptr);
    EXPECT_FALSE(lookup.PortReset("Box Port"));
}

TEST_F(SynthDatabaseTest, OlderLayoutIsUpgradedWithItsRowsKept)
{
    sqlite3* old = RawOpen(path);
    RawExec(old, "CREATE TABLE synths (SynthNumber INTEGER PRIMARY KEY, SynthName TEXT, Technology INTEGER);"
                 "CREATE TABLE patches (SynthNumber INTEGER, BankNumber INTEGER, PatchNumber INTEGER, PatchName TEXT,"
                 " PRIMARY KEY (SynthNumber, BankNumber, PatchNumber));"
                 "CREATE TABLE drums (SynthNumber INTEGER, BankNumber INTEGER, PatchNumber INTEGER,"
                 " NoteNumber INTEGER, NoteName TEXT);"
                 "CREATE TABLE chords (ChordID INTEGER PRIMARY KEY, \"group\" TEXT, chord TEXT, data TEXT);"
                 "CREATE TABLE ports (PortName TEXT, SynthNumber INTEGER);"
                 "INSERT INTO synths VALUES (4, 'Old Synth', 3);"
                 "INSERT INTO patches VALUES (4, 0, -1, 'Old bank'), (4, 0, 9, 'Old patch');"
                 "INSERT INTO drums VALUES (4, 0, 0, -1, 'Old kit'), (4, 0, 0, 36, 'Old kick');"
                 "INSERT INTO chords VALUES (1, 'Standard', 'C', 'x32010');"
                 "INSERT INTO ports VALUES ('Old Port', 4);");
    sqlite3_close(old);

    std::string warning;
    auto db = Open(warning);
    EXPECT_EQ(warning, "");
    const std::optional<Synthesizer> synth = db->LoadSynth(4);
    ASSERT_TRUE(synth);
    EXPECT_EQ(synth->name, "Old Synth");
    EXPECT_EQ(synth->technology, 3);
    EXPECT_EQ(synth->resetSysex, "");
    ASSERT_EQ(synth->banks.size(), 1u);
    EXPECT_EQ(synth->banks[0].patches, (std::vector<SynthPatch>{{9, "Old patch", ""}}));
    ASSERT_EQ(synth->drumSets.size(), 1u);
    EXPECT_EQ(synth->drumSets[0].notes, (std::vector<DrumNote>{{36, "Old kick"}}));
    EXPECT_EQ(db->ChordsOfGroup("Standard"), (std::vector<ChordEntry>{{"C", 1}}));
    // The old database gets no shipped synths; its new tables work.
    EXPECT_EQ(db->Synths().size(), 1u);
    ASSERT_TRUE(db->BindPort({"Old Port", 4, 1}));
    Synthesizer changed = *synth;
    changed.controllers = {{7, "Vol"}};
    changed.nrpns = {{1, "One"}};
    changed.resetSysex = "F0 7E 7F 09 01 F7";
    ASSERT_TRUE(db->WriteSynth(changed));
    EXPECT_EQ(db->LoadSynth(4), changed);
    db.reset();

    sqlite3* check = RawOpen(path);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(check, "SELECT count(*) FROM ports", -1, &statement, nullptr);
    ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(statement, 0), 1); // nothing the user had is dropped
    sqlite3_finalize(statement);
    sqlite3_close(check);
}

TEST_F(SynthDatabaseTest, DamagedOrReadOnlyFileIsReportedAndLeftUntouched)
{
    const struct {
        const char* name;
        bool damaged;
        const char* says;
    } cases[] = {{"damaged", true, "is damaged"}, {"read-only", false, "cannot be written (it is read-only)"}};
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.name);
        fs::remove(path);
        if (entry.damaged) {
            std::ofstream(path, std::ios::binary) << "SQLite format 3" << std::string(4000, '\x5A');
        } else {
            AddBox(*OpenClean());
            fs::permissions(path, fs::perms::owner_read | fs::perms::group_read);
        }
        const std::string before = test::ReadFile(path);
        std::string warning;
        // root writes whatever the permissions say, so the read-only open is asked for as well.
        auto db = Open(warning, 2000, !entry.damaged && geteuid() == 0);
        EXPECT_NE(warning.find(path), std::string::npos) << warning;
        EXPECT_NE(warning.find(entry.says), std::string::npos) << warning;
        EXPECT_FALSE(db->Writable());
        // The program goes on: the damaged file gives the shipped synths, the read-only one its own.
        EXPECT_NE(db->FindSynth(entry.damaged ? "General MIDI" : "Box"), std::nullopt);
        Synthesizer another;
        another.name = "Another";
        const SynthDbResult write = db->WriteSynth(another);
        EXPECT_FALSE(write);
        EXPECT_NE(write.message.find("not saved"), std::string::npos);
        db.reset();
        EXPECT_EQ(test::ReadFile(path), before);
        fs::permissions(path, fs::perms::owner_all);
    }
}

TEST_F(SynthDatabaseTest, FileLockedByAnotherProgramAtOpenIsReportedAndLeftAlone)
{
    AddBox(*OpenClean());
    const std::string before = test::ReadFile(path);
    sqlite3* other = RawOpen(path);
    RawExec(other, "BEGIN EXCLUSIVE");
    std::string warning;
    auto db = Open(warning, 100);
    RawExec(other, "ROLLBACK");
    sqlite3_close(other);
    EXPECT_NE(warning.find(path + " is locked by another program"), std::string::npos) << warning;
    EXPECT_FALSE(db->Writable());
    EXPECT_TRUE(db->FindSynth("General MIDI"));
    EXPECT_FALSE(db->FindSynth("Box"));
    db.reset();
    EXPECT_EQ(test::ReadFile(path), before);
}

TEST_F(SynthDatabaseTest, WriteWaitsForAnotherWriterThenReportsAndKeepsNothingHalfDone)
{
    auto db = OpenClean();
    db.reset();
    std::string warning;
    db = Open(warning, 300);
    const int32_t number = db->FindSynth("General MIDI")->number;
    sqlite3* other = RawOpen(path);
    RawExec(other, "BEGIN IMMEDIATE; INSERT INTO portconfig VALUES ('Other Port', 1, 0)");

    const auto start = std::chrono::steady_clock::now();
    const SynthDbResult blocked = db->BindPort({"Mine", number, 0});
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(blocked);
    EXPECT_NE(blocked.message.find("in use by another program"), std::string::npos) << blocked.message;
    EXPECT_GE(waited, std::chrono::milliseconds(250));
    // Reading goes on while the other holds its write lock.
    EXPECT_EQ(*db->Lookup().PatchName(number, 0, 0), "Acoustic Grand Piano");

    RawExec(other, "COMMIT");
    sqlite3_close(other);
    EXPECT_FALSE(db->QueryPort("Mine"));
    ASSERT_TRUE(db->BindPort({"Mine", number, 0}));
    EXPECT_EQ(db->Ports().size(), 3u); // the built-in synth's, the other's and ours
}

TEST_F(SynthDatabaseTest, ChordLibraryGroupsAndChords)
{
    auto db = OpenClean();
    int32_t id = 0;
    for (const auto& [group, chord] : {std::pair{"Standard", "G"}, {"Jazz", "C9"}, {"Standard", "Am"}})
        ASSERT_TRUE(db->AddChord(group, chord, "320003", id));
    EXPECT_EQ(id, 3);
    std::vector<std::string> groups = db->ChordGroups();
    std::sort(groups.begin(), groups.end());
    EXPECT_EQ(groups, (std::vector<std::string>{"Jazz", "Standard"}));
    EXPECT_EQ(db->ChordsOfGroup("Standard"), (std::vector<ChordEntry>{{"Am", 3}, {"G", 1}}));
    ASSERT_TRUE(db->RemoveChord(3));
    EXPECT_EQ(db->ChordsOfGroup("Standard").size(), 1u);
    EXPECT_EQ(ChordFingering("x"), std::string(6, static_cast<char>(134)));
    EXPECT_EQ(ChordRemovalQuestion("Jazz", "C9"), "Are you sure that you want to remove 'Jazz/C9'?");
}

TEST(SynthDatabasePath, DataDirThenEnvironmentThenXdg)
{
    const char* home = std::getenv("HOME");
    const std::string savedHome = home ? home : "";
    EXPECT_EQ(DefaultSynthDatabasePath("/x/y"), "/x/y/cv.db");
    ::setenv("CANTIVO_DATA", "/data/here", 1);
    EXPECT_EQ(DefaultSynthDatabasePath(), "/data/here/cv.db");
    ::unsetenv("CANTIVO_DATA");
    ::setenv("XDG_DATA_HOME", "/xdg", 1);
    EXPECT_EQ(DefaultSynthDatabasePath(), "/xdg/Cantivo/cv.db");
    ::setenv("XDG_DATA_HOME", "relative", 1);
    ::setenv("HOME", "/home/me", 1);
    EXPECT_EQ(DefaultSynthDatabasePath(), "/home/me/.local/share/Cantivo/cv.db");
    ::setenv("HOME", savedHome.c_str(), 1);
    ::unsetenv("XDG_DATA_HOME");
}

} // namespace
} // namespace cantivo
