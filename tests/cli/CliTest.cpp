#include "song/MidiFileReader.h"
#include "song/Song.h"
#include "song/SongFileBytes.h"
#include "support/SongComparison.h"
#include "support/TestContext.h"

#include "support/CommandLine.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/wait.h>

namespace cantivo {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Args = std::vector<std::string>;

constexpr const char* Damaged = "Sorry, the song can not be opened--it may be damaged.";

using cantivo::test::Quote;
using cantivo::test::ReadFile;
using cantivo::test::RunResult;

void WriteFile(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
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

    RunResult Run(const Args& args) const
    {
        return test::RunCli(folder,
                            "CANTIVO_CONFIG=" + Quote(config.string()) + " TMPDIR=" + Quote((folder / "tmp").string()) +
                                " CANTIVO_DATA=" + Quote((folder / "data").string()),
                            args);
    }

    // A song that clips again every time it is read and encoded: the file stores velocity 127 with a
    // velocity offset of +127, which reads back as velocity 1 and encodes as 128.
    fs::path WriteClippingSong()
    {
        Song song(context.Context());
        song.NewSongDefaults();
        song.title = "Clipped Title";
        auto track = std::make_unique<Track>();
        track->velocityOffset = 127;
        track->events = {SongEvent::Note(0, 0, 64, 100, 60), SongEvent::Note(60, 0, 60, 1, 60)};
        song.tracks.insert(song.tracks.end() - 1, std::move(track));
        const std::vector<uint8_t> bytes = WriteSongToBytes(song);
        WriteFile(folder / "songs" / "in.mid", std::string(bytes.begin(), bytes.end()));
        return folder / "songs" / "in.mid";
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
std::string Bytes(std::initializer_list<int> values)
{
    std::string bytes;
    for (int value : values)
        bytes += static_cast<char>(value);
    return bytes;
}
std::string VarLen(uint32_t value)
{
    std::string bytes(1, static_cast<char>(value & 0x7F));
    while (value >>= 7)
        bytes.insert(bytes.begin(), static_cast<char>((value & 0x7F) | 0x80));
    return bytes;
}
std::string Chunk(const char* id, const std::string& body)
{
    const auto size = static_cast<int>(body.size());
    return std::string(id, 4) + Bytes({size >> 24, size >> 16, size >> 8, size}) + body;
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
    // clang-format off
    const std::string conductor = TrackChunk({
        {0, Meta(0x03, "Tiny")}, {0, Meta(0x58, Bytes({3, 2, 24, 8}))}, {0, Meta(0x59, Bytes({0xFB, 1}))},
        {0, Meta(0x51, Bytes({0x07, 0xA1, 0x20}))}, {0, Meta(0x06, "Start")},          // 500000 us, a marker
        {288, Meta(0x51, Bytes({0x06, 0x1A, 0x80}))},                                     // 400000 us
        {0, Meta(0x7F, Bytes({'c', 'v', 22, 3, 96, 0, 0, 0}) + "2||Chorus")}});
    const std::string piano = TrackChunk({
        {0, Meta(0x03, "Piano")}, {0, Meta(0x21, Bytes({3}))}, {0, Bytes({0xC2, 5})}, {0, Bytes({0xB2, 7, 100})},
        {0, Bytes({0x92, 60, 100})}, {48, Bytes({0xB2, 11, 80})}, {48, Bytes({0x82, 60, 0})}, {0, Meta(0x05, "la")},
        {0, Bytes({0x92, 64, 90})}, {96, Bytes({0x92, 64, 0})},
        {0, Bytes({0xB2, 101, 0})}, {0, Bytes({0xB2, 100, 0})}, {0, Bytes({0xB2, 6, 2})},
        {48, Bytes({0xE2, 0x00, 0x40})}, {0, Bytes({0xF0, 3, 0x43, 0x12, 0xF7})},
        {0, Bytes({0xF0, 0x7F, 0x7F, 0x09, 0x01, 0x02, 0x00, 0x40, 0xF7})}}); // pressure bends the pitch
    // clang-format on
    return Chunk("MThd", Bytes({0, 1, 0, 2, 0, 96})) + conductor + piano;
}

// Exit codes 0/1/2 with their messages; a failed run prints nothing on stdout, writes no output file
// and no settings, and leaves no working folder behind.
TEST_F(CliTest, ExitCodesAndMessagesSayWhatWentWrong)
{
    const std::string song = (folder / "song.mid").string(), out = (folder / "x.mid").string();
    const std::string in = WriteClippingSong().string(), songOut = (folder / "songs" / "out.mid").string();
    WriteFile(song, TinySong());
    struct Case {
        Args args;
        int exitCode;
        const char* inOut; // expected in stdout
        std::vector<std::string> inErr;
    };
    std::vector<Case> cases = {
        {{}, 2, "", {"subcommand"}},
        {{"frobnicate", song}, 2, "", {"there is no subcommand \"frobnicate\"."}},
        {{"dump"}, 2, "", {"FILE"}},
        {{"info", song, "--bogus"}, 2, "", {"--bogus"}},
        {{"--yes", "--no", "info", song}, 2, "", {"--no"}},
        {{"info", song, "extra.mid"}, 2, "", {"extra.mid"}},
        {{"convert", song}, 2, "", {"OUT"}},
        {{"convert", song, out, "--yes", "--no"}, 2, "", {"excludes"}},
        {{"info", song}, 0, "Tiny", {}},
        {{"--help"}, 0, "dump", {}},
        {{"info", "--help"}, 0, "--json", {}},
        {{"convert", in, songOut}, 1, "", {"Track offsets will cause values to be clipped", "not written"}},
        {{"convert", in, songOut, "--no"}, 1, "", {"not written"}},
        {{"convert", in, (folder / "no" / "x.mid").string(), "--yes"}, 1, "", {"could not be saved"}},
        {{"convert", (folder / "none.mid").string(), songOut}, 1, "", {"there is no such file.", Damaged}},
        {{"dump", (folder / "tmp").string()}, 1, "", {"this is a folder, not a song file.", Damaged}},
    };
    // Files the reader refuses: each command says the song is damaged and exits 1.
    const std::string tiny = TinySong();
    const std::pair<const char*, std::string> files[] = {
        {"text.mid", "this is not a MIDI file\n"},
        {"short-header.mid", std::string("MThd\0\0\0\2\0\1", 10)},
        {"no-track.mid", Chunk("MThd", Bytes({0, 1, 0, 2, 0, 96}))},
        {"wrong-chunk.mid", Chunk("MThd", Bytes({0, 1, 0, 1, 0, 96})) + Chunk("XXXX", "abc")},
        {"truncated.mid", tiny.substr(0, tiny.size() - 20)},
        {"bad-riff.rmi", std::string("RIFF\x04\0\0\0RMID", 12)},
    };
    for (const auto& [name, bytes] : files) {
        WriteFile(folder / name, bytes);
        cases.push_back({{"info", (folder / name).string()}, 1, "", {Damaged}});
        cases.push_back({{"dump", (folder / name).string(), "--json"}, 1, "", {Damaged}});
    }
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& arg : c.args)
            line += arg + " ";
        SCOPED_TRACE(line);
        const RunResult result = Run(c.args);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        EXPECT_NE(result.out.find(c.inOut), std::string::npos) << result.out;
        if (c.exitCode != 0) {
            EXPECT_EQ(result.out, "");
        }
        for (const std::string& expected : c.inErr)
            EXPECT_NE(result.err.find(expected), std::string::npos) << expected << "\n" << result.err;
    }
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(SongFolderNames(), (std::set<std::string>{"in.mid"}));
    EXPECT_FALSE(fs::exists(config)) << "using songs must not create the settings file";
    EXPECT_TRUE(fs::is_empty(folder / "tmp")) << "the private working folder goes with every run";
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
    EXPECT_EQ(info["tracks"][1]["initial"]["patch"], 5);
    EXPECT_EQ(info["tracks"][1]["events"]["RPN"], 1);
    EXPECT_EQ(info["tracks"][1]["destinations"], json::parse(R"({"channelPressure": {"pitch": 64}})"));
    // 240 ticks: 288 at 500000 us per 96 ticks would be 1.5 s; 240 is 1.25 s.
    EXPECT_EQ(info["length"].get<std::string>().substr(0, 7), "0:00:01");

    const fs::path demo = fs::path(CANTIVO_SOURCE_DIR) / "data" / "songs" / "demo.mid";
    for (const auto& [path, texts] : std::vector<std::pair<fs::path, Args>>{
             {folder / "tiny.mid",
              {"Tiny", "3/4", "Bb minor", "Chorus (2x)", "port 3, channel 3", "patch 5",
               "destinations from channelPressure: pitch 64"}},
             {demo, {"Lantern Waltz", "3/4", "Intro", "Coda", "Intro vamp", "lyric"}}}) {
        const RunResult text = Run({"info", path.string()});
        ASSERT_EQ(text.exitCode, 0) << text.err;
        for (const std::string& expected : texts)
            EXPECT_NE(text.out.find(expected), std::string::npos) << expected << "\n" << text.out;
    }
}

// A recovery file is only taken (--yes) or dropped (--no) when the user says so.
TEST_F(CliTest, RecoveryFileIsLeftAloneUnlessTheAnswerIsGiven)
{
    const std::string saved = TinySong();
    std::string recovered = saved;
    recovered.replace(recovered.find("Tiny"), 4, "Rcvd");
    const fs::path song = folder / "show.mid", sav = folder / "show.sav";
    for (const auto& [flag, title] : {std::pair{"", "Tiny"}, {"--no", "Tiny"}, {"--yes", "Rcvd"}}) {
        SCOPED_TRACE(flag);
        WriteFile(song, saved);
        WriteFile(sav, recovered);
        Args args = {"info", song.string(), "--json"};
        if (*flag)
            args.insert(args.begin(), flag);
        const RunResult result = Run(args);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_NE(result.err.find("AutoRecover files were found for " + song.string()), std::string::npos);
        EXPECT_EQ(json::parse(result.out)["title"], title);
        EXPECT_EQ(fs::exists(sav), !*flag);
        if (!*flag) {
            EXPECT_EQ(ReadFile(sav), recovered);
            EXPECT_NE(result.err.find("--yes"), std::string::npos) << "tell the user how to choose";
        }
        EXPECT_EQ(ReadFile(song), std::string(title) == "Tiny" ? saved : recovered);
    }
}

TEST_F(CliTest, ADamagedSettingsStoreIsOnlyAWarningAndIsLeftAsItIs)
{
    WriteFile(folder / "tiny.mid", TinySong());
    const std::string garbage("\x01\x02garbage\0", 10);
    fs::create_directories(config.parent_path());
    WriteFile(config, garbage);
    RunResult result = Run({"info", (folder / "tiny.mid").string()});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.err.find(config.string()), std::string::npos) << result.err;
    EXPECT_EQ(ReadFile(config), garbage);

    // --config wins over CANTIVO_CONFIG.
    WriteFile(folder / "other.ini", "[SongDefaults]\nTimebase=240\n");
    result = Run({"--config", (folder / "other.ini").string(), "info", (folder / "tiny.mid").string()});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err.find(config.string()), std::string::npos) << result.err;
}

TEST_F(CliTest, ConvertedFileHoldsTheSameSongKeepsItsNameAndIsReplacedWhole)
{
    const fs::path in = WriteClippingSong(), out = folder / "songs" / "out.mid";
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

TEST_F(CliTest, CorpusFileConvertsToTheSongItHolds)
{
    const char* env = std::getenv("CANTIVO_CORPUS");
    const fs::path karaoke = fs::path(env && *env ? env : CANTIVO_CORPUS_DEFAULT) / "files" / "gen_karaoke.kar";
    if (!fs::exists(karaoke))
        GTEST_SKIP() << karaoke << " is not there (set CANTIVO_CORPUS)";
    const fs::path in = folder / "songs" / "karaoke.kar", out = folder / "songs" / "karaoke.mid";
    fs::copy_file(karaoke, in);
    const RunResult run = Run({"convert", in.string(), out.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    Song original(context.Context()), converted(context.Context());
    ASSERT_TRUE(ReadSong(original, in.string()));
    ASSERT_TRUE(ReadSong(converted, out.string()));
    EXPECT_EQ(test::SongDifference(original, converted), "");
}

TEST_F(CliTest, SetCommandsEditThroughTheHistoryAndSaveEachChange)
{
    const std::string song = WriteClippingSong().string();
    const std::string set = (folder / "songs" / "show.set").string();
    ASSERT_EQ(Run({"set", "new", set}).exitCode, 0);
    EXPECT_EQ(Run({"set", "new", set}).exitCode, 1) << "an existing file is never replaced";
    ASSERT_EQ(Run({"set", "add", set, song}).exitCode, 0);
    ASSERT_EQ(Run({"set", "add", set, song, "--at", "1"}).exitCode, 0);
    RunResult listed = Run({"set", "list", set});
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_NE(listed.out.find("Songs   2"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("  2  Clipped Title (in.mid)  0:00:00."), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("Total   0:00:0"), std::string::npos) << listed.out;

    // Bad positions are usage errors and leave the file as it was.
    const std::string before = ReadFile(set);
    EXPECT_EQ(Run({"set", "remove", set, "3"}).exitCode, 2);
    EXPECT_EQ(Run({"set", "move", set, "0", "1"}).exitCode, 2);
    EXPECT_EQ(Run({"set", "add", set, (folder / "none.mid").string()}).exitCode, 1);
    EXPECT_EQ(ReadFile(set), before);
    ASSERT_EQ(Run({"set", "move", set, "1", "2"}).exitCode, 0);
    ASSERT_EQ(Run({"set", "remove", set, "1"}).exitCode, 0);
    listed = Run({"set", "list", set});
    EXPECT_NE(listed.out.find("Songs   1"), std::string::npos) << listed.out;

    // Import copies into the set's folder; export writes a copy and leaves the set's song alone.
    fs::create_directories(folder / "elsewhere");
    fs::copy_file(song, folder / "elsewhere" / "encore.mid");
    EXPECT_EQ(Run({"set", "import", set, (folder / "none.mid").string()}).exitCode, 1);
    const RunResult imported = Run({"set", "import", set, (folder / "elsewhere" / "encore.mid").string(), "--at", "1"});
    ASSERT_EQ(imported.exitCode, 0) << imported.err;
    EXPECT_TRUE(fs::exists(folder / "songs" / "encore.mid"));
    listed = Run({"set", "list", set});
    EXPECT_NE(listed.out.find("  1  Clipped Title (encore.mid)"), std::string::npos) << listed.out;
    const std::string copy = (folder / "template.mid").string();
    ASSERT_EQ(Run({"set", "export", set, "1", copy, "--yes"}).exitCode, 0); // its offset question
    EXPECT_EQ(ReadFile(copy).substr(0, 4), "MThd");
    EXPECT_EQ(Run({"set", "export", set, "1", copy, "--no"}).exitCode, 1) << "an existing file is kept on No";
    EXPECT_EQ(Run({"set", "export", set, "5", copy}).exitCode, 2);

    // A damaged set file: the message, exit 1, the file untouched.
    WriteFile(folder / "songs" / "bad.set", "xy");
    const RunResult bad = Run({"set", "list", (folder / "songs" / "bad.set").string()});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_NE(bad.err.find("Sorry, the set can not be opened--it may be damaged."), std::string::npos) << bad.err;
    EXPECT_EQ(ReadFile(folder / "songs" / "bad.set"), "xy");
}

} // namespace
} // namespace cantivo
