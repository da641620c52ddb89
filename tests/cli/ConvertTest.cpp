#include "song/MidiFileReader.h"
#include "song/MidiFileWriter.h"
#include "song/Song.h"
#include "support/SongComparison.h"
#include "support/TestContext.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/wait.h>

namespace cantivo {
namespace {

namespace fs = std::filesystem;
using test::SongDifference;
using test::TestContext;

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string Quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string ReadText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class ConvertTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "cantivo-convert-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        fs::create_directory(folder / "tmp");
        fs::create_directory(folder / "songs");
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    RunResult Run(const std::vector<std::string>& args) const
    {
        std::string command = "CANTIVO_CONFIG=" + Quote((folder / "Cantivo.ini").string()) +
                              " TMPDIR=" + Quote((folder / "tmp").string()) + " " + Quote(CANTIVO_CLI_PATH);
        for (const std::string& arg : args)
            command += " " + Quote(arg);
        const fs::path errPath = folder / "stderr.txt";
        command += " 2>" + Quote(errPath.string()) + " </dev/null";
        RunResult result;
        FILE* pipe = ::popen(command.c_str(), "r");
        if (!pipe)
            return result;
        std::array<char, 4096> buffer{};
        size_t got = 0;
        while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
            result.out.append(buffer.data(), got);
        const int status = ::pclose(pipe);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.err = ReadText(errPath);
        return result;
    }

    // A song that clips again every time it is read and encoded: the file stores velocity 127 with a
    // velocity offset of +127, which reads back as velocity 1 and encodes as 128.
    fs::path WriteClippingSong(const std::string& name)
    {
        auto song = std::make_unique<Song>(context.Context());
        song->NewSongDefaults();
        song->title = "Clipped Title";
        auto track = std::make_unique<Track>();
        track->name = "Keys";
        track->velocityOffset = 127;
        track->events.push_back(SongEvent::Note(0, 0, 64, 100, 60));
        track->events.push_back(SongEvent::Note(60, 0, 60, 1, 60));
        song->tracks.insert(song->tracks.end() - 1, std::move(track));
        const std::vector<uint8_t> bytes = WriteSongToBytes(*song);
        const fs::path path = folder / "songs" / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    std::set<std::string> SongFolderNames() const
    {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder / "songs"))
            names.insert(entry.path().filename().string());
        return names;
    }

    fs::path folder;
    TestContext context;
};

TEST_F(ConvertTest, AConvertedFileHoldsTheSameSongAndKeepsItsName)
{
    const fs::path in = WriteClippingSong("in.mid");
    const fs::path out = folder / "songs" / "out.mid";
    const RunResult run = Run({"convert", in.string(), out.string(), "--yes"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(SongFolderNames(), (std::set<std::string>{"in.mid", "out.mid"})) << "no rename after the title";

    Song original(context.Context());
    ASSERT_TRUE(ReadSong(original, in.string()));
    Song converted(context.Context());
    ASSERT_TRUE(ReadSong(converted, out.string()));
    EXPECT_EQ(converted.title, "Clipped Title");
    ASSERT_EQ(converted.tracks.size(), 3u);
    EXPECT_EQ(converted.tracks[1]->velocityOffset, 0) << "--yes applies the clipping offset";
    ASSERT_EQ(converted.tracks[1]->events.size(), 2u);
    EXPECT_EQ(converted.tracks[1]->events[0].Data2(), 127);
    EXPECT_EQ(converted.tracks[1]->events[1].Data2(), 127);
}

TEST_F(ConvertTest, WithoutYesTheOffsetQuestionLeavesOutUnwritten)
{
    const fs::path in = WriteClippingSong("in.mid");
    const fs::path out = folder / "songs" / "out.mid";
    for (const std::vector<std::string>& flags : {std::vector<std::string>{}, std::vector<std::string>{"--no"}}) {
        std::vector<std::string> args = {"convert", in.string(), out.string()};
        args.insert(args.end(), flags.begin(), flags.end());
        const RunResult run = Run(args);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_NE(run.err.find("Track offsets will cause values to be clipped"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("not written"), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(out));
    }
}

TEST_F(ConvertTest, AnExistingOutIsReplacedWholeAndAnEqualSongConvertsAgainToTheSameBytes)
{
    auto song = std::make_unique<Song>(context.Context());
    song->NewSongDefaults();
    song->title = "Plain";
    const std::vector<uint8_t> bytes = WriteSongToBytes(*song);
    const fs::path in = folder / "songs" / "in.mid";
    std::ofstream(in, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    const fs::path out = folder / "songs" / "out.mid";
    std::ofstream(out) << "an older file";

    ASSERT_EQ(Run({"convert", in.string(), out.string()}).exitCode, 0);
    const std::string first = ReadText(out);
    ASSERT_EQ(Run({"convert", out.string(), out.string()}).exitCode, 0);
    EXPECT_EQ(ReadText(out), first);
    EXPECT_EQ(SongFolderNames(), (std::set<std::string>{"in.mid", "out.mid"}));
}

TEST_F(ConvertTest, FailuresGiveTheToolsExitCodes)
{
    const fs::path in = WriteClippingSong("in.mid");
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int exitCode;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"missing input",
         {"convert", (folder / "none.mid").string(), (folder / "x.mid").string()},
         1,
         "there is no such file"},
        {"output folder missing",
         {"convert", in.string(), (folder / "no" / "x.mid").string(), "--yes"},
         1,
         "could not be saved"},
        {"no output named", {"convert", in.string()}, 2, "OUT"},
        {"both answers", {"convert", in.string(), (folder / "x.mid").string(), "--yes", "--no"}, 2, "excludes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RunResult run = Run(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(folder / "x.mid"));
    }
    EXPECT_EQ(SongFolderNames(), (std::set<std::string>{"in.mid"}));
}

TEST_F(ConvertTest, ACorpusFileConvertsToTheSongItHolds)
{
    const char* corpus = std::getenv("CANTIVO_CORPUS");
    const fs::path file = fs::path(corpus && *corpus ? corpus : CANTIVO_CORPUS_DEFAULT) / "files" / "gen_karaoke.kar";
    if (!fs::exists(file))
        GTEST_SKIP() << file << " is not there (set CANTIVO_CORPUS)";
    const fs::path in = folder / "songs" / "karaoke.kar";
    fs::copy_file(file, in);
    const fs::path out = folder / "songs" / "karaoke.mid";
    const RunResult run = Run({"convert", in.string(), out.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    Song original(context.Context());
    ASSERT_TRUE(ReadSong(original, in.string()));
    Song converted(context.Context());
    ASSERT_TRUE(ReadSong(converted, out.string()));
    EXPECT_EQ(SongDifference(original, converted), "");
}

} // namespace
} // namespace cantivo
