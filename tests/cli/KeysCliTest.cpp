#include "support/CommandLine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace cantivo {
namespace {

namespace fs = std::filesystem;
using test::Quote;
using test::ReadFile;

using test::RunResult;

// Each test has a private settings file and folder.
class KeysCliTest : public ::testing::Test {
  protected:
    RunResult Run(const std::vector<std::string>& args) const
    {
        return test::RunCli(folder, "CANTIVO_CONFIG=" + Quote(Settings().string()), args);
    }
    fs::path Settings() const { return folder / "Cantivo.ini"; }
    std::string File(const char* name) const { return (folder / name).string(); }

    test::TempFolder temp{"cantivo-keys-cli"};
    const fs::path folder = temp.path;
};

TEST_F(KeysCliTest, ListsShowsAndExportsTheDefaultMap)
{
    RunResult run = Run({"keys", "list"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "* Default (62 entries)\nEnabled: 1\n");

    run = Run({"keys", "show", "Default"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.rfind("Ctrl+N\tNew song or Cantivo set\nCtrl+O\tOpen\nCtrl+S\tSave\n", 0), 0u);
    EXPECT_NE(run.out.find("\n/\tSolo\n\\\tUn-solo\n"), std::string::npos);
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 62);

    ASSERT_EQ(Run({"keys", "export", "Default", File("one.dat")}).exitCode, 0);
    const std::string bytes = ReadFile(File("one.dat"));
    ASSERT_EQ(bytes.size(), 8u + 1 + 7 + 4 + 372);
    EXPECT_EQ(bytes.substr(0, 16), std::string("\1\0\0\0\1\0\0\0\7Default", 16));
}

TEST_F(KeysCliTest, ImportedMapsExportAgainByteIdentical)
{
    // Two maps: "Stage" with Ctrl+F9 Next measure, "Band" with F5 Play, in file order.
    const std::string file = std::string("\1\0\0\0\2\0\0\0", 8) +
                             std::string("\5Stage\1\0\0\0\x09\0\x78\0\x0A\x80", 16) +
                             std::string("\4Band\1\0\0\0\x01\0\x74\0\x07\x80", 15);
    std::ofstream(File("in.dat"), std::ios::binary) << file;
    RunResult run = Run({"keys", "import", File("in.dat")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    run = Run({"keys", "show", "Stage"});
    EXPECT_EQ(run.out, "Ctrl+F9\tNext measure\n");
    run = Run({"keys", "list"});
    EXPECT_NE(run.out.find("  Stage (1 entries)\n"), std::string::npos);

    // One map exports as it came in; importing the same name again asks, and unanswered keeps it.
    ASSERT_EQ(Run({"keys", "export", "Band", File("band.dat")}).exitCode, 0);
    EXPECT_EQ(ReadFile(File("band.dat")), std::string("\1\0\0\0\1\0\0\0", 8) + file.substr(8 + 16));
    run = Run({"keys", "import", File("band.dat")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("Kept the existing map 'Band'"), std::string::npos);

    ASSERT_EQ(Run({"keys", "export", "--all", File("all.dat")}).exitCode, 0);
    const std::string before = ReadFile(Settings());
    ASSERT_EQ(Run({"keys", "import", "--overwrite", File("all.dat")}).exitCode, 0);
    ASSERT_EQ(Run({"keys", "export", "--all", File("again.dat")}).exitCode, 0);
    EXPECT_EQ(ReadFile(File("again.dat")), ReadFile(File("all.dat")));
    EXPECT_EQ(ReadFile(Settings()), before);
}

TEST_F(KeysCliTest, DamagedFilesAndBadUseChangeNothing)
{
    ASSERT_EQ(Run({"keys", "list"}).exitCode, 0);
    const std::string before = ReadFile(Settings());
    // The first map is whole, the second ends inside its entries.
    std::ofstream(File("bad.dat"), std::ios::binary)
        << std::string("\1\0\0\0\2\0\0\0\1A\0\0\0\0\1B\2\0\0\0\1\0\x41\0", 24);
    const struct {
        std::vector<std::string> args;
        int exitCode;
        const char* message;
    } cases[] = {
        {{"keys", "import", File("bad.dat")},
         1,
         "The accelerator map file is damaged: it ends inside the entries of map 'B'.\nNo map was imported.\n"},
        {{"keys", "import", File("missing.dat")}, 1, "can not be read"},
        {{"keys", "show", "Nope"}, 2, "there is no accelerator map named 'Nope'"},
        {{"keys", "export", "Nope", File("x.dat")}, 2, "there is no accelerator map named 'Nope'"},
        {{"keys", "export", File("x.dat")}, 2, "give NAME FILE, or --all FILE"},
        {{"keys", "export", "Default", (folder / "no" / "x.dat").string()}, 1, "can not be written"},
        {{"keys"}, 2, ""},
    };
    for (const auto& c : cases) {
        const RunResult run = Run(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.args.back() << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(ReadFile(Settings()), before);
    }
    EXPECT_FALSE(fs::exists(File("x.dat")));
}

} // namespace
} // namespace cantivo

namespace cantivo {
namespace {

// A control map file of one map: format 1, one map, its counted name, one entry.
std::string ControlFile(const std::string& name, uint32_t entry)
{
    std::string bytes = {1, 0, 0, 0, 1, 0, 0, 0, static_cast<char>(name.size())};
    bytes += name;
    bytes += std::string{1, 0, 0, 0};
    for (int shift = 0; shift < 32; shift += 8)
        bytes += static_cast<char>(entry >> shift & 0xFF);
    return bytes;
}

TEST_F(KeysCliTest, ControlMapsImportShowExportAndRefuseWhatIsDamaged)
{
    const std::string pedal = ControlFile("Pedal", 0x00400001); // channel 1, controller 64: Play/Tap
    std::ofstream(File("pedal.dat"), std::ios::binary) << pedal;
    RunResult run = Run({"control", "import", File("pedal.dat")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    run = Run({"control", "list"});
    EXPECT_NE(run.out.find("  Pedal  1 entries\n"), std::string::npos) << run.out;
    run = Run({"control", "show", "Pedal"});
    EXPECT_NE(run.out.find("channel 1  controller 64  key <None>  Play/Tap (Cue)"), std::string::npos) << run.out;

    // The same name again, answered No, keeps the stored map; export gives back the same bytes.
    std::ofstream(File("other.dat"), std::ios::binary) << ControlFile("Pedal", 0x00400002);
    run = Run({"control", "import", File("other.dat"), "--no"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    run = Run({"control", "export", File("out.dat")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadFile(folder / "out.dat"), pedal);

    const std::string before = ReadFile(Settings());
    std::ofstream(File("cut.dat"), std::ios::binary) << pedal.substr(0, 12);
    run = Run({"control", "import", File("cut.dat")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("Nothing was imported."), std::string::npos) << run.err;
    EXPECT_EQ(Run({"control", "learn", "Nope"}).exitCode, 2);
    run = Run({"control", "learn", "Stop", "--timeout", "0.1"});
    EXPECT_NE(run.exitCode, 0); // no input on this machine, or nothing pressed
    EXPECT_EQ(ReadFile(Settings()), before) << "nothing stored changed";
}

// A damaged file is read whole before anything is stored: a whole first map does not slip in.
TEST_F(KeysCliTest, AControlMapFileDamagedAfterAWholeMapChangesNothing)
{
    const std::string pedal = ControlFile("Pedal", 0x00400001);
    std::ofstream(File("pedal.dat"), std::ios::binary) << pedal;
    ASSERT_EQ(Run({"control", "import", File("pedal.dat")}).exitCode, 0);
    const std::string before = ReadFile(Settings());
    // Two maps: "New" whole, then "Pedal" (stored already, so Yes would replace it) damaged.
    const std::string whole = std::string("\3New\1\0\0\0\2\0\0\0", 12);
    const std::string head = std::string("\1\0\0\0\2\0\0\0", 8) + whole + "\5Pedal";
    const struct {
        const char* what;
        std::string file;
        const char* message;
    } cases[] = {
        {"cut inside the entries", head + std::string("\2\0\0\0\1\0\0\0\1\0", 10),
         "The file ends inside the entries of map \"Pedal\". Nothing was imported."},
        {"cut inside the count", head + std::string("\2\0", 2),
         "The file ends inside map 2 of 2. Nothing was imported."},
        {"over 128 entries", head + std::string("\x81\0\0\0", 4) + std::string(129 * 4, '\1'),
         "Map \"Pedal\" has 129 entries; a control map holds at most 128. Nothing was imported."},
    };
    for (const auto& c : cases) {
        std::ofstream(File("bad.dat"), std::ios::binary) << c.file;
        const RunResult run = Run({"control", "import", File("bad.dat"), "--yes"});
        EXPECT_EQ(run.exitCode, 1) << c.what;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.what << ": " << run.err;
        EXPECT_EQ(run.out, "") << c.what;
        EXPECT_EQ(ReadFile(Settings()), before) << c.what;
    }
}

// A rig without a desktop chooses its maps from the command line.
TEST_F(KeysCliTest, UseChoosesTheMapInUse)
{
    std::ofstream(File("pedal.dat"), std::ios::binary) << ControlFile("Pedal", 0x00400001);
    ASSERT_EQ(Run({"control", "import", File("pedal.dat")}).exitCode, 0);
    const struct {
        std::vector<std::string> args;
        int exitCode;
        const char* said; // on stdout, or stderr when it fails
    } cases[] = {
        {{"keys", "use", "Nope"}, 2, "there is no accelerator map named 'Nope'"},
        {{"keys", "list"}, 0, "* Default (62 entries)"},
        {{"control", "use", "Pedal"}, 0, "The control map in use is now \"Pedal\".\n"},
        {{"control", "list"}, 0, "* Pedal  1 entries"},
        {{"control", "use", "Stage"}, 0, "\"Stage\"; no such map is stored yet"},
        {{"control", "list"}, 0, "the map in use: \"Stage\""},
        {{"control", "use", ""}, 2, "give the name of a map"},
    };
    for (const auto& c : cases) {
        const RunResult run = Run(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.args.back() << run.err;
        EXPECT_NE((c.exitCode == 0 ? run.out : run.err).find(c.said), std::string::npos)
            << c.args.back() << ": " << run.out << run.err;
    }
    // A copy of "Default" imported under another name becomes the active accelerator map.
    ASSERT_EQ(Run({"keys", "export", "Default", File("default.dat")}).exitCode, 0);
    std::string copy = ReadFile(File("default.dat"));
    copy.replace(8, 8, std::string("\7Concert", 8));
    std::ofstream(File("concert.dat"), std::ios::binary) << copy;
    ASSERT_EQ(Run({"keys", "import", File("concert.dat")}).exitCode, 0);
    RunResult run = Run({"keys", "use", "Concert"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    run = Run({"keys", "list"});
    EXPECT_NE(run.out.find("* Concert (62 entries)"), std::string::npos) << run.out;
}

} // namespace
} // namespace cantivo
