#include "support/CommandLine.h"

#include <gtest/gtest.h>

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

// Each run has a private settings file; the database folder comes from --data-dir or CANTIVO_DATA.
class SynthCliTest : public ::testing::Test {
  protected:
    RunResult Run(const std::vector<std::string>& args, const std::string& environment = "") const
    {
        return test::RunCli(folder, "CANTIVO_CONFIG=" + Quote((folder / "Cantivo.ini").string()) + " " + environment,
                            args);
    }
    test::TempFolder temp{"cantivo-synth-cli"};
    const fs::path folder = temp.path;
};

TEST_F(SynthCliTest, ImportShowBindExportThroughOneDatabaseFolder)
{
    const std::string data = (folder / "db").string();
    const fs::path file = folder / "Box One.txt";
    std::ofstream(file) << "[Bank 16383:X]\n0=Piano\n[Drum 0/0:Kit]\n36=Kick\n[Drum 0/8:Room]\nBasedOn=Drum 0/0\n"
                           "38=Snare\n[Controllers]\n7=Level\n[NRPN]\n300=Cutoff\nnot an entry\n";

    RunResult run = Run({"--data-dir", data, "synth", "import", file.string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("Imported Box One"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("Line 12:"), std::string::npos) << run.err;
    EXPECT_TRUE(fs::exists(folder / "db" / "cv.db"));

    // CANTIVO_DATA names the same folder.
    run = Run({"synth", "show", "Box One"}, "CANTIVO_DATA=" + Quote(data));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    for (const char* line : {"  Bank 16383 (127/127): X\n", "    1: Piano\n", "  Bank 0 (0/0), PC9: Room\n",
                             "    36: Kick\n    38: Snare\n", "Controllers\n  7: Level\n", "NRPN\n  300: Cutoff\n"})
        EXPECT_NE(run.out.find(line), std::string::npos) << line << " in\n" << run.out;

    run = Run({"synth", "bind", "USB Port", "Box One", "--drums", "10,11", "--data-dir", data});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    run = Run({"--data-dir", data, "synth", "list"});
    EXPECT_NE(run.out.find("  USB Port  Box One  drums 10,11\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("  Cantivo Synth  General MIDI  drums 10\n"), std::string::npos) << run.out;

    const fs::path exported = folder / "out" / "Box One.txt";
    fs::create_directory(folder / "out");
    run = Run({"--data-dir", data, "synth", "export", "Box One", exported.string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(ReadFile(exported).find("[Drum 0/8:Room]\n36=Kick\n38=Snare\n"), std::string::npos);

    // info names the sounds of tracks whose port is bound: the built-in synth plays General MIDI.
    const std::string opener = (fs::path(CANTIVO_SOURCE_DIR) / "data" / "sets" / "demo" / "1 Opener.mid").string();
    run = Run({"--data-dir", data, "info", opener});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("channel 1  (General MIDI, patch Acoustic Grand Piano)"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("channel 10  (General MIDI, drum set Standard)"), std::string::npos) << run.out;
}

TEST_F(SynthCliTest, FailuresAndUsageErrors)
{
    const std::string data = (folder / "db").string();
    const struct {
        std::vector<std::string> args;
        int exitCode;
        const char* says;
    } cases[] = {
        {{"synth", "show", "Nobody"}, 1, "there is no synth named \"Nobody\""},
        {{"synth", "bind", "Port", "General MIDI", "--drums", "17"}, 2, "a drum channel is 1 to 16, not 17"},
        {{"synth", "import", "/no/such/file.txt"}, 1, "cannot be opened"},
        {{"synth", "export", "General MIDI", "/no/such/folder/x.txt"}, 1, "could not be written"},
    };
    for (const auto& entry : cases) {
        std::vector<std::string> args = {"--data-dir", data};
        args.insert(args.end(), entry.args.begin(), entry.args.end());
        const RunResult run = Run(args);
        EXPECT_EQ(run.exitCode, entry.exitCode) << entry.args[1];
        EXPECT_NE(run.err.find(entry.says), std::string::npos) << run.err;
    }
    // A damaged database is reported, left as it is, and the shipped synths still list.
    std::ofstream(folder / "db" / "cv.db", std::ios::binary) << std::string(2048, 'x');
    const RunResult run = Run({"--data-dir", data, "synth", "list"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.err.find("is damaged"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("General MIDI"), std::string::npos);
    EXPECT_EQ(ReadFile(folder / "db" / "cv.db"), std::string(2048, 'x'));
}

} // namespace
} // namespace cantivo
