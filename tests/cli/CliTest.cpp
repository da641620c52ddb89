#include "song/MidiFileReader.h"
#include "song/MidiFileWriter.h"
#include "song/Song.h"
#include "support/SongComparison.h"
#include "support/TestContext.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace cantivo {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char* Damaged = "Sorry, the song can not be opened--it may be damaged.";

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

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

fs::path CorpusFolder()
{
    const char* env = std::getenv("CANTIVO_CORPUS");
    return env && *env ? env : CANTIVO_CORPUS_DEFAULT;
}

// Every run gets a private settings file and a private temporary folder, so the tool never touches the
// user's settings and its working folder can be checked for removal.
class CliTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "cantivo-cli-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        fs::create_directory(folder / "tmp");
        fs::create_directory(folder / "songs");
        config = folder / "settings" / "Cantivo.ini";
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    RunResult Run(const std::vector<std::string>& args) const
    {
        std::string command = "CANTIVO_CONFIG=" + Quote(config.string()) +
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
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.err = ReadFile(errPath);
        return result;
    }

    // A song in the songs folder, as the writer saves it.
    fs::path WriteSong(const std::string& name, Song& song) const
    {
        const std::vector<uint8_t> bytes = WriteSongToBytes(song);
        WriteFile(folder / "songs" / name, std::string(bytes.begin(), bytes.end()));
        return folder / "songs" / name;
    }
    // A song that clips again every time it is read and encoded: the file stores velocity 127 with a
    // velocity offset of +127, which reads back as velocity 1 and encodes as 128.
    fs::path WriteClippingSong(const std::string& name)
    {
        Song song(context.Context());
        song.NewSongDefaults();
        song.title = "Clipped Title";
        auto track = std::make_unique<Track>();
        track->velocityOffset = 127;
        track->events = {SongEvent::Note(0, 0, 64, 100, 60), SongEvent::Note(60, 0, 60, 1, 60)};
        song.tracks.insert(song.tracks.end() - 1, std::move(track));
        return WriteSong(name, song);
    }
    std::set<std::string> SongFolderNames() const
    {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder / "songs"))
            names.insert(entry.path().filename().string());
        return names;
    }

    fs::path folder;
    fs::path config;
    test::TestContext context;
};

// A small Standard MIDI File built byte by byte.
std::string VarLen(uint32_t value)
{
    std::string bytes(1, static_cast<char>(value & 0x7F));
    while (value >>= 7)
        bytes.insert(bytes.begin(), static_cast<char>((value & 0x7F) | 0x80));
    return bytes;
}

std::string Chunk(const char* id, const std::string& body)
{
    const auto size = static_cast<uint32_t>(body.size());
    std::string chunk(id, 4);
    for (int shift = 24; shift >= 0; shift -= 8)
        chunk += static_cast<char>((size >> shift) & 0xFF);
    return chunk + body;
}

std::string Bytes(std::initializer_list<int> values)
{
    std::string bytes;
    for (int value : values)
        bytes += static_cast<char>(value);
    return bytes;
}

std::string TrackChunk(const std::vector<std::pair<uint32_t, std::string>>& events)
{
    std::string body;
    for (const auto& [delta, bytes] : events)
        body += VarLen(delta) + bytes;
    return Chunk("MTrk", body + Bytes({0x00, 0xFF, 0x2F, 0x00}));
}

std::string Meta(int type, const std::string& data)
{
    return Bytes({0xFF, type}) + VarLen(static_cast<uint32_t>(data.size())) + data;
}

// Timebase 96, 3/4 in B-flat minor, a tempo change, a marker, a vamp cue and one piano track that
// exercises the reading rules the dump shows: initial values folded into the track, an RPN, a lyric.
std::string TinySong()
{
    const std::string conductor = TrackChunk({
        {0, Meta(0x03, "Tiny")},
        {0, Meta(0x58, Bytes({3, 2, 24, 8}))},
        {0, Meta(0x59, Bytes({0xFB, 1}))},
        {0, Meta(0x51, Bytes({0x07, 0xA1, 0x20}))}, // 500000
        {0, Meta(0x06, "Start")},
        {288, Meta(0x51, Bytes({0x06, 0x1A, 0x80}))}, // 400000
        {0, Meta(0x7F, Bytes({'c', 'v', 22, 3, 96, 0, 0, 0}) + "2||Chorus")},
    });
    const std::string piano = TrackChunk({
        {0, Meta(0x03, "Piano")},
        {0, Meta(0x21, Bytes({3}))},
        {0, Bytes({0xC2, 5})},
        {0, Bytes({0xB2, 7, 100})},
        {0, Bytes({0x92, 60, 100})},
        {48, Bytes({0xB2, 11, 80})},
        {48, Bytes({0x82, 60, 0})},
        {0, Meta(0x05, "la")},
        {0, Bytes({0x92, 64, 90})},
        {96, Bytes({0x92, 64, 0})},
        {0, Bytes({0xB2, 101, 0})},
        {0, Bytes({0xB2, 100, 0})},
        {0, Bytes({0xB2, 6, 2})},
        {48, Bytes({0xE2, 0x00, 0x40})},
        {0, Bytes({0xF0, 3, 0x43, 0x12, 0xF7})},
    });
    return Chunk("MThd", Bytes({0, 1, 0, 2, 0, 96})) + conductor + piano;
}

TEST_F(CliTest, ExitCodesSayWhatWentWrongAndNoWorkingFolderIsLeft)
{
    WriteFile(folder / "song.mid", TinySong());
    const std::string song = (folder / "song.mid").string();
    const std::string out = (folder / "x.mid").string();
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char* inOut; // expected in stdout ("" = no check)
        const char* inErr; // expected in stderr
    };
    const std::vector<Case> cases = {
        {{}, 2, "", "subcommand"},
        {{"frobnicate", song}, 2, "", "frobnicate"},
        {{"dump"}, 2, "", "FILE"},
        {{"info", song, "--bogus"}, 2, "", "--bogus"},
        {{"--yes", "--no", "info", song}, 2, "", "--no"},
        {{"info", song, "extra.mid"}, 2, "", "extra.mid"},
        {{"convert", song}, 2, "", "OUT"},
        {{"convert", song, out, "--yes", "--no"}, 2, "", "excludes"},
        {{"info", song}, 0, "Tiny", ""},
        {{"dump", (folder / "missing.mid").string()}, 1, "", Damaged},
        {{"--help"}, 0, "dump", ""},
        {{"info", "--help"}, 0, "--json", ""},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& arg : c.args)
            line += arg + " ";
        SCOPED_TRACE(line);
        const RunResult result = Run(c.args);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        EXPECT_NE(result.out.find(c.inOut), std::string::npos) << result.out;
        EXPECT_NE(result.err.find(c.inErr), std::string::npos) << result.err;
    }
    EXPECT_FALSE(fs::exists(out));
    EXPECT_TRUE(fs::is_empty(folder / "tmp")) << "the private working folder goes with every run";
}

TEST_F(CliTest, FilesThatCannotBeUsedExitOneWithTheDamagedMessage)
{
    const std::string tiny = TinySong();
    const std::pair<const char*, std::string> files[] = {
        {"text.mid", "this is not a MIDI file\n"},
        {"short-header.mid", "MThd\0\0\0\2\0\1"},
        {"no-track.mid", Chunk("MThd", Bytes({0, 1, 0, 2, 0, 96}))},
        {"wrong-chunk.mid", Chunk("MThd", Bytes({0, 1, 0, 1, 0, 96})) + Chunk("XXXX", "abc")},
        {"truncated.mid", tiny.substr(0, tiny.size() - 20)},
        {"bad-riff.rmi", std::string("RIFF\x04\0\0\0RMID", 12)},
    };
    std::vector<std::string> paths = {(folder / "missing.mid").string(), (folder / "tmp").string()};
    for (const auto& [name, bytes] : files) {
        WriteFile(folder / name, bytes);
        paths.push_back((folder / name).string());
    }
    for (const std::string& path : paths) {
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"info", path}, std::vector<std::string>{"dump", path, "--json"}}) {
            SCOPED_TRACE(args[0] + " " + path);
            const RunResult result = Run(args);
            EXPECT_EQ(result.exitCode, 1);
            EXPECT_NE(result.err.find(Damaged), std::string::npos) << result.err;
            EXPECT_TRUE(result.out.empty()) << result.out;
        }
    }
}

TEST_F(CliTest, DumpJsonOfAKnownSongHasTheContractedFields)
{
    WriteFile(folder / "tiny.mid", TinySong());
    const RunResult result = Run({"dump", (folder / "tiny.mid").string(), "--json"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const json dump = json::parse(result.out);

    EXPECT_EQ(dump["timebase"], 96);
    ASSERT_EQ(dump["tracks"].size(), 2u) << "the conductor and the piano; the trailing empty track is left out";
    EXPECT_TRUE(dump["tracks"][0]["events"].empty()) << "tempo, meter, key, name and cues leave track 0";
    const json& piano = dump["tracks"][1];
    EXPECT_EQ(piano["name"], "Piano");
    EXPECT_EQ(piano["port"], 3);
    EXPECT_EQ(piano["channel"], 2);

    // The program change and volume before the first note became initial values, not events; the
    // reader keeps the byte after F0 where it lands, so a sysex's data bytes are not compared.
    const json expected = json::parse(R"([
        {"time": 0, "status": 146, "data1": 60, "data2": 100, "length": 96, "hex": ""},
        {"time": 48, "status": 178, "data1": 11, "data2": 80, "length": 0, "hex": ""},
        {"time": 96, "status": 255, "data1": 5, "data2": 0, "length": 2, "hex": "6C 61"},
        {"time": 96, "status": 146, "data1": 64, "data2": 90, "length": 96, "hex": ""},
        {"time": 192, "status": 16, "data1": 0, "data2": 0, "length": 256, "hex": ""},
        {"time": 240, "status": 226, "data1": 0, "data2": 64, "length": 0, "hex": ""},
        {"time": 240, "status": 240, "length": 5, "hex": "F0 03 43 12 F7"}])");
    const json& events = piano["events"];
    ASSERT_EQ(events.size(), expected.size()) << events.dump(1);
    for (size_t i = 0; i < expected.size(); ++i)
        for (const auto& [field, value] : expected[i].items())
            EXPECT_EQ(events[i][field], value) << "event " << i << " " << field;

    EXPECT_EQ(dump["tempos"], json::parse(R"([{"tick": 0, "usPerQuarter": 500000, "us": 0.0},
                                              {"tick": 288, "usPerQuarter": 400000, "us": 1500000.0}])"));
    ASSERT_GE(dump["measures"].size(), 1u);
    EXPECT_EQ(dump["measures"][0], json::parse(R"({"start": 0, "length": 288, "number": 1, "letter": "",
                                                   "numerator": 3, "denominator": 4, "key": -5, "mode": 1})"));
    EXPECT_EQ(dump["cues"], json::parse(R"([
        {"kind": 0, "label": "Start", "stopAt": 0, "restartAt": 0, "count": 0},
        {"kind": 3, "label": "Chorus", "stopAt": 288, "restartAt": 192, "count": 2}])"));
}

TEST_F(CliTest, InfoShowsTextsLengthCuesAndTrackSettings)
{
    WriteFile(folder / "tiny.mid", TinySong());
    const RunResult result = Run({"info", (folder / "tiny.mid").string(), "--json"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const json info = json::parse(result.out);
    EXPECT_EQ(info["title"], "Tiny");
    EXPECT_EQ(info["format"], 1);
    EXPECT_EQ(info["cues"][1]["kindName"], "Vamp (Repeat)");
    EXPECT_EQ(info["cues"][1]["stopAtPosition"], "2:1:000");
    EXPECT_EQ(info["meters"][0]["keyName"], "Bb minor");
    const json& piano = info["tracks"][1];
    EXPECT_EQ(piano["initial"]["patch"], 5);
    EXPECT_EQ(piano["events"]["RPN"], 1);
    // 240 ticks: 288 at 500000 us per 96 ticks would be 1.5 s; 240 is 1.25 s.
    EXPECT_EQ(info["length"].get<std::string>().substr(0, 7), "0:00:01");

    const RunResult text = Run({"info", (folder / "tiny.mid").string()});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    for (const char* expected : {"Tiny", "3/4", "Bb minor", "Chorus (2x)", "port 3, channel 3", "patch 5"})
        EXPECT_NE(text.out.find(expected), std::string::npos) << expected << "\n" << text.out;

    const fs::path demo = fs::path(CANTIVO_SOURCE_DIR) / "data" / "songs" / "demo.mid";
    const RunResult shipped = Run({"info", demo.string()});
    ASSERT_EQ(shipped.exitCode, 0) << shipped.err;
    for (const char* expected : {"Lantern Waltz", "3/4", "Intro", "Coda", "Intro vamp", "lyric"})
        EXPECT_NE(shipped.out.find(expected), std::string::npos) << expected;
}

TEST_F(CliTest, RecoveryFileIsLeftAloneUnlessTheAnswerIsGiven)
{
    const std::string saved = TinySong();
    std::string recovered = TinySong();
    recovered.replace(recovered.find("Tiny"), 4, "Rcvd");
    struct Case {
        const char* flag;
        bool savRemains;
        const char* title;
    };
    for (const Case& c : {Case{"", true, "Tiny"}, Case{"--no", false, "Tiny"}, Case{"--yes", false, "Rcvd"}}) {
        SCOPED_TRACE(c.flag);
        const fs::path song = folder / "show.mid";
        const fs::path sav = folder / "show.sav";
        WriteFile(song, saved);
        WriteFile(sav, recovered);
        std::vector<std::string> args = {"info", song.string(), "--json"};
        if (*c.flag)
            args.insert(args.begin(), c.flag);
        const RunResult result = Run(args);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_NE(result.err.find("AutoRecover files were found for " + song.string()), std::string::npos);
        EXPECT_EQ(json::parse(result.out)["title"], c.title);
        EXPECT_EQ(fs::exists(sav), c.savRemains);
        if (c.savRemains) {
            EXPECT_EQ(ReadFile(sav), recovered);
            EXPECT_NE(result.err.find("--yes"), std::string::npos) << "tell the user how to choose";
        }
        EXPECT_EQ(ReadFile(song), std::string(c.title) == "Tiny" ? saved : recovered);
    }
}

TEST_F(CliTest, SettingsAreNeverWrittenByReadingAndADamagedStoreIsOnlyAWarning)
{
    WriteFile(folder / "tiny.mid", TinySong());
    RunResult result = Run({"info", (folder / "tiny.mid").string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_FALSE(fs::exists(config)) << "reading a song must not create the settings file";

    const std::string garbage("\x01\x02garbage\0", 10);
    fs::create_directories(config.parent_path());
    WriteFile(config, garbage);
    result = Run({"info", (folder / "tiny.mid").string()});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.err.find(config.string()), std::string::npos) << result.err;
    EXPECT_EQ(ReadFile(config), garbage) << "the damaged store is left as it is";

    // --config wins over CANTIVO_CONFIG.
    const fs::path other = folder / "other.ini";
    WriteFile(other, "[SongDefaults]\nTimebase=240\n");
    result = Run({"--config", other.string(), "info", (folder / "tiny.mid").string()});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err.find(config.string()), std::string::npos) << result.err;
}

TEST_F(CliTest, ConvertedFileHoldsTheSameSongKeepsItsNameAndIsReplacedWhole)
{
    const fs::path in = WriteClippingSong("in.mid");
    const fs::path out = folder / "songs" / "out.mid";
    WriteFile(out, "an older file");
    const RunResult run = Run({"convert", in.string(), out.string(), "--yes"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(SongFolderNames(), (std::set<std::string>{"in.mid", "out.mid"})) << "no rename after the title";
    Song converted(context.Context());
    ASSERT_TRUE(ReadSong(converted, out.string()));
    EXPECT_EQ(converted.title, "Clipped Title");
    ASSERT_EQ(converted.tracks.size(), 3u);
    EXPECT_EQ(converted.tracks[1]->velocityOffset, 0) << "--yes applies the clipping offset";
    ASSERT_EQ(converted.tracks[1]->events.size(), 2u);
    EXPECT_EQ(converted.tracks[1]->events[0].Data2(), 127);
    EXPECT_EQ(converted.tracks[1]->events[1].Data2(), 127);

    // A song that saves as it reads converts onto itself to the same bytes.
    const std::string first = ReadFile(out);
    ASSERT_EQ(Run({"convert", out.string(), out.string()}).exitCode, 0);
    EXPECT_EQ(ReadFile(out), first);
}

TEST_F(CliTest, ConvertThatCannotBeDoneLeavesOutUnwrittenAndExitsOne)
{
    const fs::path in = WriteClippingSong("in.mid");
    const fs::path out = folder / "songs" / "out.mid";
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{"convert", in.string(), out.string()}, "Track offsets will cause values to be clipped"},
        {{"convert", in.string(), out.string(), "--no"}, "not written"},
        {{"convert", (folder / "none.mid").string(), out.string()}, "there is no such file"},
        {{"convert", in.string(), (folder / "no" / "x.mid").string(), "--yes"}, "could not be saved"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[1] + " " + c.args[2]);
        const RunResult run = Run(c.args);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(SongFolderNames(), (std::set<std::string>{"in.mid"}));
    }
}

TEST_F(CliTest, CorpusFileConvertsToTheSongItHolds)
{
    const fs::path karaoke = CorpusFolder() / "files" / "gen_karaoke.kar";
    if (!fs::exists(karaoke))
        GTEST_SKIP() << karaoke << " is not there (set CANTIVO_CORPUS)";
    const fs::path in = folder / "songs" / "karaoke.kar";
    const fs::path out = folder / "songs" / "karaoke.mid";
    fs::copy_file(karaoke, in);
    const RunResult run = Run({"convert", in.string(), out.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    Song original(context.Context());
    ASSERT_TRUE(ReadSong(original, in.string()));
    Song converted(context.Context());
    ASSERT_TRUE(ReadSong(converted, out.string()));
    EXPECT_EQ(test::SongDifference(original, converted), "");
}

} // namespace
} // namespace cantivo
