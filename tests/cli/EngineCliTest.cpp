// cantivo-cli render and play end to end: the WAV, the capture log and the failures a user meets.
#include "song/Song.h"
#include "song/SongFileBytes.h"
#include "support/CommandLine.h"
#include "support/TestContext.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

const fs::path SoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

using cantivo::test::Quote;
using cantivo::test::ReadFile;

struct Logged {
    int64_t time;
    int port;
    std::vector<int> bytes;
};

std::vector<Logged> ReadLog(const fs::path& path)
{
    std::vector<Logged> lines;
    std::istringstream in(ReadFile(path));
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        Logged entry{};
        fields >> entry.time >> entry.port;
        std::string hex;
        while (fields >> hex)
            entry.bytes.push_back(std::stoi(hex, nullptr, 16));
        lines.push_back(entry);
    }
    return lines;
}

// What the log leaves sounding at its end: held keys and sustain pedals down, per port and channel.
std::pair<size_t, size_t> LeftSounding(const std::vector<Logged>& log)
{
    std::set<std::tuple<int, int, int>> notes;
    std::set<std::pair<int, int>> pedals;
    for (const Logged& entry : log) {
        if (entry.bytes.size() != 3)
            continue;
        const int type = entry.bytes[0] & 0xF0, channel = entry.bytes[0] & 0x0F;
        if (type == 0x90 && entry.bytes[2] > 0)
            notes.insert({entry.port, channel, entry.bytes[1]});
        else if (type == 0x80 || type == 0x90)
            notes.erase({entry.port, channel, entry.bytes[1]});
        else if (type == 0xB0 && entry.bytes[1] == 64)
            entry.bytes[2] >= 64 ? (void)pedals.insert({entry.port, channel})
                                 : (void)pedals.erase({entry.port, channel});
    }
    return {notes.size(), pedals.size()};
}

struct Wave {
    int64_t frames = 0;
    int rate = 0;
    std::vector<short> samples;
};

Wave ReadWave(const fs::path& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    Wave wave;
    if (!file)
        return wave;
    wave.frames = info.frames;
    wave.rate = info.samplerate;
    wave.samples.resize(static_cast<size_t>(info.frames * info.channels));
    sf_readf_short(file, wave.samples.data(), info.frames);
    sf_close(file);
    return wave;
}

// The times (microseconds) of the note-ons of `key` in the log.
std::vector<int64_t> NoteOns(const std::vector<Logged>& log, int key)
{
    std::vector<int64_t> times;
    for (const Logged& entry : log)
        if (entry.bytes.size() == 3 && (entry.bytes[0] & 0xF0) == 0x90 && entry.bytes[1] == key && entry.bytes[2] > 0)
            times.push_back(entry.time);
    return times;
}

struct RunResult {
    int exitCode = -1;
    std::string out, err;
};

class EngineCliTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        if (!fs::exists(SoundFont))
            GTEST_SKIP() << "no General MIDI SoundFont at " << SoundFont << " (scripts/bootstrap installs it)";
        std::string pattern = (fs::temp_directory_path() / "cantivo-engine-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        demo = fs::path(CANTIVO_SOURCE_DIR) / "data" / "songs" / "demo.mid";
    }
    void TearDown() override
    {
        std::error_code ignored;
        if (!folder.empty())
            fs::remove_all(folder, ignored);
    }
    RunResult Run(const Args& args, const std::string& prefix = "") const
    {
        std::string command = prefix + "env CANTIVO_CONFIG=" + Quote((folder / "settings.ini").string()) +
                              " CANTIVO_DATA=" + Quote((folder / "data").string()) + " " + Quote(CANTIVO_CLI_PATH);
        for (const std::string& arg : args)
            command += " " + Quote(arg);
        command += " >" + Quote((folder / "out.txt").string()) + " 2>" + Quote((folder / "err.txt").string());
        const int status = std::system((command + " </dev/null").c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(folder / "out.txt"),
                ReadFile(folder / "err.txt")};
    }
    fs::path Script(const std::string& text) const
    {
        const fs::path path = folder / ("script" + std::to_string(scripts_++) + ".txt");
        std::ofstream(path) << text;
        return path;
    }

    // Eight 4/4 measures at 120 bpm (a measure lasts 2 s), a note on every beat keyed 60 + measure,
    // with the cues given; written by the project's own writer.
    fs::path BeatSong(const std::vector<cantivo::Cue>& cues, const std::string& name = "cues.mid") const
    {
        using namespace cantivo;
        test::TestContext context;
        Song song(context.Context());
        song.NewSongDefaults();
        auto track = std::make_unique<Track>();
        const int32_t beat = song.timebase;
        for (int measure = 0; measure < 8; ++measure)
            for (int b = 0; b < 4; ++b)
                track->events.push_back(
                    SongEvent::Note((measure * 4 + b) * beat, 0, static_cast<uint8_t>(60 + measure), 100, beat / 2));
        song.tracks.insert(song.tracks.end() - 1, std::move(track));
        for (const Cue& cue : cues)
            song.cues.push_back(std::make_unique<Cue>(cue));
        const std::vector<uint8_t> bytes = WriteSongToBytes(song);
        const fs::path path = folder / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    fs::path folder;
    fs::path demo;

  private:
    mutable int scripts_ = 0;
};

TEST_F(EngineCliTest, ARenderIsDeterministicAndEndsWithNothingSounding)
{
    const std::string script = Script("# tempo and volume along the way\n0 Play\n3000 Tempo faster\n"
                                      "3000 Tempo faster\n6000 Volume down\n9000 Pause\n9500 Pause/un-pause\n")
                                   .string();
    std::string wavs[2], logs[2];
    for (int i = 0; i < 2; ++i) {
        const fs::path wav = folder / ("out" + std::to_string(i) + ".wav");
        const fs::path log = folder / ("out" + std::to_string(i) + ".log");
        const RunResult result =
            Run({"render", demo.string(), wav.string(), "--capture", log.string(), "--script", script});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_NE(result.out.find("Rendered " + wav.string()), std::string::npos) << result.out;
        wavs[i] = ReadFile(wav);
        logs[i] = ReadFile(log);
    }
    EXPECT_EQ(wavs[0], wavs[1]);
    EXPECT_EQ(logs[0], logs[1]);
    const auto log = ReadLog(folder / "out0.log");
    EXPECT_EQ(LeftSounding(log), (std::pair<size_t, size_t>{0, 0}));
    // The volume command reached the synth as a universal master volume at its time.
    const auto volume = std::find_if(log.begin(), log.end(), [](const Logged& e) {
        return e.bytes.size() == 8 && e.bytes[1] == 0x7F && e.bytes[3] == 0x04 && e.bytes[4] == 0x01;
    });
    ASSERT_NE(volume, log.end());
    EXPECT_GE(volume->time, 6'000'000);
    EXPECT_LE(volume->time, 6'003'000);
}

TEST_F(EngineCliTest, ACorpusSongRendersAudibleFromItsFirstNoteForItsLengthAndATail)
{
    const char* variable = std::getenv("CANTIVO_CORPUS");
    const fs::path corpus = variable && *variable ? fs::path(variable) : fs::path(CANTIVO_CORPUS_DEFAULT);
    const fs::path song = corpus / "files" / "Avgvst_ANewComrade.mid";
    if (!fs::exists(song))
        GTEST_SKIP() << "no MIDI corpus at " << corpus << " (set CANTIVO_CORPUS)";
    const fs::path wav = folder / "song.wav", log = folder / "song.log";
    const RunResult result = Run({"render", song.string(), wav.string(), "--capture", log.string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const Wave wave = ReadWave(wav);
    ASSERT_EQ(wave.rate, 44100);
    const auto entries = ReadLog(log);
    ASSERT_FALSE(entries.empty());
    const auto firstNote = std::find_if(entries.begin(), entries.end(), [](const Logged& e) {
        return e.bytes.size() == 3 && (e.bytes[0] & 0xF0) == 0x90 && e.bytes[2] > 0;
    });
    ASSERT_NE(firstNote, entries.end());
    const double length = static_cast<double>(entries.back().time) / 1e6; // the last message: the end of the song
    const double seconds = static_cast<double>(wave.frames) / wave.rate;
    EXPECT_GE(seconds, length);
    EXPECT_LE(seconds, length + 4.5);
    size_t loud = 0;
    while (loud < wave.samples.size() && std::abs(wave.samples[loud]) < 8)
        ++loud;
    ASSERT_LT(loud, wave.samples.size()) << "the render is silent";
    const double firstSound = static_cast<double>(loud / 2) / wave.rate;
    const double firstNoteTime = static_cast<double>(firstNote->time) / 1e6;
    EXPECT_GE(firstSound, firstNoteTime - 0.002);
    EXPECT_LE(firstSound, firstNoteTime + 0.05);
}

TEST_F(EngineCliTest, BadInputIsAClearMessageANonZeroExitAndNoFileWritten)
{
    std::ofstream(folder / "damaged.mid") << "MThd this is not a song";
    struct Case {
        const char* name;
        Args args;
        int exitCode;
        std::string message;
    };
    const std::string wav = (folder / "x.wav").string(), log = (folder / "x.log").string();
    const Case cases[] = {
        {"unknown command",
         {"render", demo.string(), wav, "--capture", log, "--script", Script("0 Play\n10 Tempo fastr\n").string()},
         2,
         "script line 2: unknown command \"Tempo fastr\""},
        {"time backwards",
         {"render", demo.string(), wav, "--capture", log, "--script", Script("2000 Play\n1000 Stop\n").string()},
         2,
         "script line 2"},
        {"missing SoundFont",
         {"render", demo.string(), wav, "--capture", log, "--soundfont", (folder / "none.sf2").string()},
         1,
         "\"Synth\"/\"SoundFont\""},
        {"unreadable song",
         {"render", (folder / "damaged.mid").string(), wav, "--capture", log},
         1,
         "Sorry, the song can not be opened--it may be damaged."},
        {"bad start", {"render", demo.string(), wav, "--start", "99:1:000"}, 2, "no measure 99"},
        {"unknown port", {"play", demo.string(), "--port", "Nowhere", "--capture", log}, 2, "\"Nowhere\""},
        {"capture port without a log", {"play", demo.string(), "--port", "Capture"}, 2, "--capture"},
        {"nothing to open again", {"play", "--port", "Capture", "--capture", log}, 2, "no set or song was opened"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RunResult result = Run(c.args);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_FALSE(fs::exists(wav));
        EXPECT_FALSE(fs::exists(log));
    }
}

TEST_F(EngineCliTest, PlayRunsInRealTimeIntoTheLogAndATerminateSignalLeavesNothingSounding)
{
    const fs::path log = folder / "play.log";
    const auto started = std::chrono::steady_clock::now();
    const RunResult result =
        Run({"play", demo.string(), "--start", "5:1:000", "--port", "Capture", "--capture", log.string()},
            "timeout --preserve-status -s TERM 1.5 ");
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_GE(took, 1.4);
    const auto entries = ReadLog(log);
    ASSERT_FALSE(entries.empty());
    EXPECT_LE(entries.back().time, 1'700'000) << "played in real time, not faster";
    EXPECT_EQ(LeftSounding(entries), (std::pair<size_t, size_t>{0, 0}));
    for (const Logged& e : entries)
        EXPECT_EQ(e.port, 0) << "every logical port plays through Capture alone";
}

TEST_F(EngineCliTest, TheBuiltInSynthIsResetAsItsGeneralMidiBindingSays)
{
    const fs::path log = folder / "reset.log";
    const RunResult result = Run({"render", demo.string(), (folder / "out.wav").string(), "--capture", log.string(),
                                  "--script", Script("0 Reset MIDI\n100 Stop\n").string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::vector<int> systemOn = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    int resets = 0;
    for (const Logged& e : ReadLog(log))
        resets += e.bytes == systemOn && e.port == 0 ? 1 : 0;
    EXPECT_EQ(resets, 2) << "once as the song is cued up (\"AdvanceReset\" 2), once for Reset MIDI";
}

TEST_F(EngineCliTest, PlayWithoutAFileOpensTheOnePlayedLastAfterTheDelayedStartUp)
{
    const fs::path log = folder / "play.log";
    ASSERT_EQ(Run({"play", demo.string(), "--port", "Capture", "--capture", log.string()},
                  "timeout --preserve-status -s TERM 0.3 ")
                  .exitCode,
              0);
    const RunResult again =
        Run({"play", "--port", "Capture", "--capture", log.string()}, "timeout --preserve-status -s TERM 2.2 ");
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_NE(again.err.find("Opening the last set or song: " + fs::absolute(demo).lexically_normal().string()),
              std::string::npos)
        << again.err;
    const auto entries = ReadLog(log);
    ASSERT_FALSE(entries.empty());
    EXPECT_GE(entries.front().time, 1'500'000) << "nothing plays before the delayed start-up";
    EXPECT_EQ(LeftSounding(entries), (std::pair<size_t, size_t>{0, 0}));
}

} // namespace

TEST_F(EngineCliTest, ARenderWaitsAtCuesForTheScriptsTapsAndEndsWhereTheScriptRunsOut)
{
    using cantivo::Cue;
    const int32_t bar = 480;
    Cue fermata{"Hold", cantivo::CueFermata, 0, 2 * bar, 2 * bar};
    Cue vamp{"Vamp", cantivo::CueVamp, 2, 5 * bar, 4 * bar};
    const fs::path song = BeatSong({fermata, vamp});
    const fs::path log = folder / "cues.log";
    // The fermata halts at 4 s; the tap at 7 s plays on; the vamp plays measure 4 twice. After the end
    // the script starts the song again, and it waits at the fermata once more.
    RunResult result = Run({"render", song.string(), (folder / "cues.wav").string(), "--capture", log.string(),
                            "--script", Script("0 Play\n7000 Play\n30000 Goto beginning\n30000 Play\n").string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    auto entries = ReadLog(log);
    EXPECT_EQ(LeftSounding(entries), (std::pair<size_t, size_t>{0, 0}));
    const auto second = NoteOns(entries, 62);
    ASSERT_EQ(second.size(), 4u);
    EXPECT_NEAR(static_cast<double>(second[0]), 7'000'000.0, 5'000) << "measure 2 starts at the tap";
    EXPECT_EQ(NoteOns(entries, 64).size(), 8u) << "the vamp's measure twice";
    EXPECT_EQ(NoteOns(entries, 67).size(), 4u) << "and the song goes on to its end";
    EXPECT_EQ(NoteOns(entries, 60).size(), 8u) << "then starts again";
    EXPECT_NE(result.err.find("waits at a cue"), std::string::npos) << result.err;

    // Without the second tap the render ends at the fermata, saying so, with nothing left sounding.
    result = Run({"render", song.string(), (folder / "held.wav").string(), "--capture", log.string(), "--script",
                  Script("0 Play\n").string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("waits at a cue at 3.1.000"), std::string::npos) << result.err;
    entries = ReadLog(log);
    EXPECT_EQ(LeftSounding(entries), (std::pair<size_t, size_t>{0, 0}));
    EXPECT_TRUE(NoteOns(entries, 62).empty());
}

TEST_F(EngineCliTest, TapsAheadOfTheBeatSpeedTheSongUpAndTapsBehindSlowItDown)
{
    std::ofstream(folder / "settings.ini") << "[FollowTap]\nEnabled=1\n";
    const fs::path song = BeatSong({});
    // Eight taps from the song's third beat on, a little faster or slower than its 500 ms beat, so each
    // lands a little further ahead of the song's beat or behind it.
    auto taps = [](int interval) {
        std::string script = "0 Play\n";
        for (int tap = 0; interval != 0 && tap < 8; ++tap)
            script += std::to_string(1000 + tap * interval) + " Play\n";
        return script;
    };
    std::map<int, int64_t> beat;
    for (int interval : {0, 470, 530}) {
        const fs::path log = folder / ("taps" + std::to_string(interval) + ".log");
        const RunResult result = Run({"render", song.string(), (folder / "taps.wav").string(), "--capture",
                                      log.string(), "--script", Script(taps(interval)).string()});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        // The song's beat once the taps have stopped, from the notes of its last measure.
        const auto notes = NoteOns(ReadLog(log), 67);
        ASSERT_EQ(notes.size(), 4u) << interval;
        beat[interval] = notes[3] - notes[0];
    }
    EXPECT_EQ(beat[0], 1'500'000);
    EXPECT_LT(beat[470], 1'500'000 - 15'000) << "taps ahead sped the song up";
    EXPECT_GT(beat[530], 1'500'000 + 15'000) << "taps behind slowed it down";
}

TEST_F(EngineCliTest, ARenderOfASetAdvancesFromSongToSongAsTheSettingsSay)
{
    const fs::path first = BeatSong({}, "first.mid");
    const fs::path second = BeatSong({}, "second.mid");
    ASSERT_EQ(Run({"set", "new", (folder / "show.set").string()}).exitCode, 0);
    ASSERT_EQ(Run({"set", "add", (folder / "show.set").string(), first.string()}).exitCode, 0);
    ASSERT_EQ(Run({"set", "add", (folder / "show.set").string(), second.string()}).exitCode, 0);
    std::ofstream(folder / "settings.ini") << "[PlaybackOptions]\nAutoAdvance=2\nAdvanceWait=2000\n";
    const fs::path log = folder / "show.log";
    RunResult result =
        Run({"render", (folder / "show.set").string(), (folder / "show.wav").string(), "--capture", log.string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    // Each song is 16 s; the second begins two seconds after the first ends, and the show ends after it.
    const auto starts = NoteOns(ReadLog(log), 60);
    ASSERT_EQ(starts.size(), 8u);
    EXPECT_NEAR(static_cast<double>(starts[4] - starts[0]), 18'000'000.0, 10'000);
    EXPECT_EQ(LeftSounding(ReadLog(log)), (std::pair<size_t, size_t>{0, 0}));
    EXPECT_EQ(result.err.find("waits"), std::string::npos) << result.err;

    // "Advance: wait": the next song is cued up and the render ends there, saying so.
    std::ofstream(folder / "settings.ini") << "[PlaybackOptions]\nAutoAdvance=1\nAdvanceWait=0\n";
    result = Run({"render", (folder / "show.set").string(), (folder / "show.wav").string(), "--capture", log.string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(NoteOns(ReadLog(log), 60).size(), 4u);
    EXPECT_NE(result.err.find("the set waits at song 2/2"), std::string::npos) << result.err;

    // The script moves through the set with the set's own commands, as the keys do.
    std::ofstream(folder / "settings.ini") << "[PlaybackOptions]\nAutoAdvance=0\n";
    result = Run({"render", (folder / "show.set").string(), (folder / "show.wav").string(), "--capture", log.string(),
                  "--script", Script("0 Play\n2000 Stop\n2500 Next song\n3000 Play\n5000 Stop\n").string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto moved = NoteOns(ReadLog(log), 60);
    ASSERT_EQ(moved.size(), 8u) << result.err; // the first measure of each song
    EXPECT_NEAR(static_cast<double>(moved[4] - moved[0]), 3'000'000.0, 10'000);
    EXPECT_EQ(LeftSounding(ReadLog(log)), (std::pair<size_t, size_t>{0, 0}));
}

TEST_F(EngineCliTest, TheDemoSetRendersThroughEveryHoldWithItsScript)
{
    const fs::path set = fs::path(CANTIVO_SOURCE_DIR) / "data" / "sets" / "demo" / "Demo.set";
    const fs::path script = set.parent_path() / "demo-script.txt";
    const fs::path log = folder / "demo.log";
    const RunResult result = Run({"render", set.string(), (folder / "demo.wav").string(), "--capture", log.string(),
                                  "--script", script.string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err.find("waits"), std::string::npos) << "every hold was released: " << result.err;
    const auto entries = ReadLog(log);
    EXPECT_EQ(LeftSounding(entries), (std::pair<size_t, size_t>{0, 0}));
    // The last song's last chord (G major, key 67) sounds after the caesura's release.
    const auto last = NoteOns(entries, 67);
    ASSERT_FALSE(last.empty());
    EXPECT_GT(last.back(), 44'000'000);
}

TEST_F(EngineCliTest, AsSyncMasterTheCaptureHoldsTwentyFourClocksAQuarterAtTheTempoInForceAndStopAtTheEnd)
{
    // 32 quarters at 120 bpm; after 4 s the ratio goes to 110%.
    const fs::path song = BeatSong({});
    std::ofstream(folder / "settings.ini") << "[SyncOptions]\nMasterSlave=1\n";
    std::string script = "0 Play\n";
    for (int i = 0; i < 10; ++i)
        script += "4000 Tempo faster\n";
    const fs::path log = folder / "sync.log";
    const RunResult result = Run({"render", song.string(), (folder / "sync.wav").string(), "--capture", log.string(),
                                  "--script", Script(script).string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    // "Port" 0 is every output; the first one's share.
    std::vector<Logged> sync;
    for (const Logged& entry : ReadLog(log))
        if (entry.port == 0 && !entry.bytes.empty() && entry.bytes[0] >= 0xF1 && entry.bytes[0] != 0xF7)
            sync.push_back(entry);
    const auto start = std::find_if(sync.begin(), sync.end(), [](const Logged& e) { return e.bytes[0] == 0xFB; });
    ASSERT_NE(start, sync.end());
    ASSERT_NE(start, sync.begin());
    EXPECT_EQ(start[-1].bytes, (std::vector<int>{0xF2, 0x00, 0x00})) << "the pointer at bar 1, then Continue";
    EXPECT_EQ(sync.back().bytes, (std::vector<int>{0xFC})) << "Stop at the end";
    std::vector<int64_t> clocks;
    for (const Logged& entry : sync)
        if (entry.bytes == std::vector<int>{0xF8})
            clocks.push_back(entry.time);
    // The song's 32 quarters, and the clock due at its very end.
    EXPECT_GE(clocks.size(), 32u * 24);
    EXPECT_LE(clocks.size(), 32u * 24 + 1);
    // Each gap is a 24th of a quarter at the tempo in force: 20833 us, then 18939 us at 110%.
    size_t slow = 0, fast = 0;
    for (size_t i = 1; i < clocks.size(); ++i) {
        const double gap = static_cast<double>(clocks[i] - clocks[i - 1]);
        if (std::abs(gap - 500'000.0 / 24) <= 2)
            ++slow;
        else if (std::abs(gap - 500'000.0 / 24 / 1.1) <= 2)
            ++fast;
    }
    EXPECT_GE(slow, 4u * 2 * 24 - 2) << "four seconds at 120 bpm";
    EXPECT_GE(fast, 24u * 24 - 2) << "the other 24 quarters at 110%";
    EXPECT_GE(slow + fast, clocks.size() - 2) << "at most the gap across the change is neither";
    EXPECT_EQ(LeftSounding(ReadLog(log)), (std::pair<size_t, size_t>{0, 0}));
}
