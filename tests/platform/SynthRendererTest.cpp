#include "platform/SynthRenderer.h"
#include "platform/SynthDevice.h"
#include "support/TestContext.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace cantivo {
namespace {

namespace fs = std::filesystem;

class SynthRendererTest : public testing::Test {
  protected:
    void SetUp() override
    {
        folder_ = fs::temp_directory_path() / ("cantivo-render-" + std::to_string(::getpid()) + "-" +
                                               testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    // The default SoundFont, or a skip when this machine has none.
    SoundFontChoice SoundFontOrSkip()
    {
        test::MemoryProfile profile;
        SoundFontChoice choice = ResolveSoundFont(profile);
        return choice;
    }

    fs::path folder_;
};

#define REQUIRE_SOUNDFONT(choice)                                                                                      \
    do {                                                                                                               \
        if (!(choice).error.empty())                                                                                   \
            GTEST_SKIP() << "needs a General MIDI SoundFont: " << (choice).error;                                      \
    } while (false)

std::vector<int16_t> ReadFrames(const fs::path& path, SF_INFO& info)
{
    info = {};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        return {};
    std::vector<int16_t> samples(static_cast<size_t>(info.frames * info.channels));
    sf_readf_short(file, samples.data(), info.frames);
    sf_close(file);
    return samples;
}

std::string ReadBytes(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

// The first frame with a non-zero sample in either channel, or -1.
int64_t FirstSoundingFrame(const std::vector<int16_t>& samples)
{
    for (size_t i = 0; i < samples.size(); ++i)
        if (samples[i] != 0)
            return static_cast<int64_t>(i / 2);
    return -1;
}

// A piano note at `onMicroseconds` held for 200 ms, then 300 ms more.
bool RenderNote(const SoundFontChoice& soundFont, const fs::path& out, int64_t onMicroseconds, std::string& error)
{
    VirtualMicrosecondClock clock;
    auto renderer = SynthRenderer::Open(soundFont, clock, out.string(), error);
    if (!renderer)
        return false;
    renderer->SendShort(0x00C0);
    clock.Set(onMicroseconds);
    renderer->SendShort(0x643C90);
    clock.Advance(200000);
    renderer->SendShort(0x003C90);
    renderer->RenderUntil(clock.NowMicroseconds() + 300000);
    return renderer->Finish(error);
}

// The piano sample's first few values round to 0, so onsets are compared with a note at time 0.
// FluidSynth starts voices on its 64-frame grid: a note off the grid sounds up to 63 frames late, never early.
TEST_F(SynthRendererTest, ANoteStartsSoundingAtItsSample)
{
    const SoundFontChoice soundFont = SoundFontOrSkip();
    REQUIRE_SOUNDFONT(soundFont);
    const struct {
        int64_t microseconds;
        int64_t frame;
        int64_t lateBy;
    } cases[] = {{0, 0, 0}, {500000, 22050, 30}, {500680, 22080, 0}, {1234567, 54444, 20}, {1451247, 64000, 0}};
    int64_t attack = -1;
    for (const auto& test : cases) {
        const fs::path out = folder_ / "note.wav";
        std::string error;
        ASSERT_TRUE(RenderNote(soundFont, out, test.microseconds, error)) << error;
        SF_INFO info;
        const std::vector<int16_t> samples = ReadFrames(out, info);
        EXPECT_EQ(info.samplerate, 44100);
        EXPECT_EQ(info.channels, 2);
        EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
        EXPECT_EQ(info.frames, SynthRenderer::SampleAt(test.microseconds + 500000));
        EXPECT_EQ(SynthRenderer::SampleAt(test.microseconds), test.frame);
        const int64_t first = FirstSoundingFrame(samples);
        if (attack < 0)
            attack = first;
        ASSERT_GE(attack, 0);
        EXPECT_LT(attack, 64);
        EXPECT_EQ(first - attack - test.frame, test.lateBy) << test.microseconds;
        EXPECT_LT(test.lateBy, SynthRenderer::EventGridFrames);
    }
}

TEST_F(SynthRendererTest, TheSameInputGivesTheSameFile)
{
    const SoundFontChoice soundFont = SoundFontOrSkip();
    REQUIRE_SOUNDFONT(soundFont);
    std::string error;
    ASSERT_TRUE(RenderNote(soundFont, folder_ / "a.wav", 333333, error)) << error;
    ASSERT_TRUE(RenderNote(soundFont, folder_ / "b.wav", 333333, error)) << error;
    const std::string first = ReadBytes(folder_ / "a.wav");
    EXPECT_GT(first.size(), 44u + 4u * 22050u);
    EXPECT_TRUE(first == ReadBytes(folder_ / "b.wav"));
    // and a later note is a different file
    ASSERT_TRUE(RenderNote(soundFont, folder_ / "c.wav", 333334 + 1000, error)) << error;
    EXPECT_FALSE(first == ReadBytes(folder_ / "c.wav"));
}

// More messages than the queue holds are all played, at the same samples as when rendered one by one.
TEST_F(SynthRendererTest, AFullQueueIsRenderedNotDropped)
{
    const SoundFontChoice soundFont = SoundFontOrSkip();
    REQUIRE_SOUNDFONT(soundFont);
    const int messages = static_cast<int>(SynthRenderer::QueueCapacity) + 3000;
    const std::vector<uint8_t> gmOn = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    for (const bool renderEach : {false, true}) {
        VirtualMicrosecondClock clock;
        std::string error;
        auto renderer =
            SynthRenderer::Open(soundFont, clock, (folder_ / (renderEach ? "each.wav" : "batch.wav")).string(), error);
        ASSERT_TRUE(renderer) << error;
        renderer->SendLong(gmOn);
        renderer->SendShort(0x7F4591);
        for (int i = 0; i < messages; ++i) {
            clock.Advance(997);
            renderer->SendShort(0x0007B1 | static_cast<uint32_t>(i % 128) << 16);
            if (renderEach)
                renderer->RenderUntil(clock.NowMicroseconds());
        }
        renderer->RenderUntil(clock.NowMicroseconds() + 100000);
        ASSERT_TRUE(renderer->Finish(error)) << error;
    }
    const std::string batch = ReadBytes(folder_ / "batch.wav");
    EXPECT_GT(batch.size(), 44u + 4u * 44100u * 19u);
    EXPECT_TRUE(batch == ReadBytes(folder_ / "each.wav"));
}

TEST_F(SynthRendererTest, TheTailEndsAtSilenceWithinTheLimit)
{
    const SoundFontChoice soundFont = SoundFontOrSkip();
    REQUIRE_SOUNDFONT(soundFont);
    const struct {
        bool releaseNote;
        double maxSeconds;
        bool silent;
    } cases[] = {{true, 10.0, true}, {false, 0.5, false}, {true, 0.0, false}};
    for (const auto& test : cases) {
        VirtualMicrosecondClock clock;
        std::string error;
        const fs::path out = folder_ / "tail.wav";
        auto renderer = SynthRenderer::Open(soundFont, clock, out.string(), error);
        ASSERT_TRUE(renderer) << error;
        renderer->SendShort(0x7F3C90);
        clock.Set(100000);
        if (test.releaseNote)
            renderer->SendShort(0x003C90);
        renderer->RenderUntil(100000);
        const int64_t before = renderer->FramesWritten();
        EXPECT_EQ(renderer->FinishTail(test.maxSeconds), test.silent) << test.maxSeconds;
        const int64_t tail = renderer->FramesWritten() - before;
        EXPECT_LE(tail, static_cast<int64_t>(test.maxSeconds * 44100)) << test.maxSeconds;
        if (!test.silent) {
            EXPECT_EQ(tail, static_cast<int64_t>(test.maxSeconds * 44100));
        }
        ASSERT_TRUE(renderer->Finish(error)) << error;
        SF_INFO info;
        const std::vector<int16_t> samples = ReadFrames(out, info);
        ASSERT_EQ(info.frames, renderer->FramesWritten());
        if (test.silent) {
            // it stops after 100 ms of quiet, not long after the sound
            EXPECT_GT(tail, 4410);
            // -90 dBFS is just over one step of 16-bit audio
            const auto loudest = [](auto from, auto to) {
                int peak = 0;
                for (auto sample = from; sample != to; ++sample)
                    peak = std::max(peak, std::abs(static_cast<int>(*sample)));
                return peak;
            };
            EXPECT_LE(loudest(samples.end() - 2 * 4410, samples.end()), 1);
            EXPECT_GT(loudest(samples.end() - 2 * 4410 - 2 * 441, samples.end() - 2 * 4410), 0);
        }
    }
}

TEST_F(SynthRendererTest, AnUnwritableOutputFailsAndLeavesNoFile)
{
    const SoundFontChoice soundFont = SoundFontOrSkip();
    REQUIRE_SOUNDFONT(soundFont);
    const fs::path missingFolder = folder_ / "no-such-folder" / "out.wav";
    const fs::path folderItself = folder_;
    for (const fs::path& path : {missingFolder, folderItself}) {
        VirtualMicrosecondClock clock;
        std::string error;
        EXPECT_FALSE(SynthRenderer::Open(soundFont, clock, path.string(), error)) << path;
        EXPECT_NE(error.find("The rendered audio cannot be written to \"" + path.string() + "\": "), std::string::npos)
            << error;
    }
    EXPECT_TRUE(fs::is_empty(folder_));

    // A render that is never finished leaves nothing behind either.
    {
        VirtualMicrosecondClock clock;
        std::string error;
        auto renderer = SynthRenderer::Open(soundFont, clock, (folder_ / "out.wav").string(), error);
        ASSERT_TRUE(renderer) << error;
        renderer->SendShort(0x643C90);
        renderer->RenderUntil(200000);
    }
    EXPECT_TRUE(fs::is_empty(folder_));
}

TEST_F(SynthRendererTest, AnUnusableSoundFontNamesTheSettingAndTheFile)
{
    const fs::path notSoundFont = folder_ / "notes.sf2";
    std::ofstream(notSoundFont) << "RIFF but not really\n";
    const std::string tail = ". Install timgm6mb-soundfont or set Synth/SoundFont to a General MIDI .sf2 file.";
    const struct {
        std::string setting;
        std::optional<std::string> overridePath;
        std::string message;
    } cases[] = {
        {"/x/y.sf2", std::nullopt,
         "The SoundFont \"/x/y.sf2\" (setting \"Synth\"/\"SoundFont\") could not be loaded: file not found" + tail},
        {folder_.string(), std::nullopt,
         "The SoundFont \"" + folder_.string() +
             "\" (setting \"Synth\"/\"SoundFont\") could not be loaded: it is not a file" + tail},
        {notSoundFont.string(), std::nullopt,
         "The SoundFont \"" + notSoundFont.string() +
             "\" (setting \"Synth\"/\"SoundFont\") could not be loaded: it is not a SoundFont (.sf2) file" + tail},
        {"", std::string("/x/z.sf2"),
         "The SoundFont \"/x/z.sf2\" (chosen instead of setting \"Synth\"/\"SoundFont\") could not be loaded: file not "
         "found" +
             tail},
    };
    for (const auto& test : cases) {
        test::MemoryProfile profile;
        ASSERT_TRUE(profile.WriteString("Synth", "SoundFont", test.setting));
        const SoundFontChoice choice = ResolveSoundFont(profile, test.overridePath);
        EXPECT_EQ(choice.error, test.message);
        VirtualMicrosecondClock clock;
        std::string error;
        EXPECT_FALSE(SynthRenderer::Open(choice, clock, (folder_ / "out.wav").string(), error));
        EXPECT_EQ(error, test.message);
        EXPECT_FALSE(fs::exists(folder_ / "out.wav"));
        EXPECT_FALSE(SynthDevice::Open(choice, error));
        EXPECT_EQ(error, test.message);
    }
}

// A file that looks like a SoundFont but is damaged inside fails when FluidSynth loads it.
TEST_F(SynthRendererTest, ADamagedSoundFontFailsWhenLoaded)
{
    const fs::path damaged = folder_ / "damaged.sf2";
    std::ofstream(damaged, std::ios::binary) << std::string("RIFF\x20\0\0\0sfbkLIST\x04\0\0\0INFOxxxxxxxxxxxxxxxx", 36);
    test::MemoryProfile profile;
    ASSERT_TRUE(profile.WriteString("Synth", "SoundFont", damaged.string()));
    const SoundFontChoice choice = ResolveSoundFont(profile);
    EXPECT_EQ(choice.error, "");
    VirtualMicrosecondClock clock;
    std::string error;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(SynthRenderer::Open(choice, clock, (folder_ / "out.wav").string(), error));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(error.rfind("The SoundFont \"" + damaged.string() +
                              "\" (setting \"Synth\"/\"SoundFont\") could not be loaded: FluidSynth could not read it",
                          0),
              0u)
        << error;
    EXPECT_FALSE(fs::exists(folder_ / "out.wav"));
}

TEST_F(SynthRendererTest, TheSettingChoosesTheSoundFontAndEmptyMeansTheDefault)
{
    const struct {
        bool write;
        std::string setting;
        std::optional<std::string> overridePath;
        std::string path;
    } cases[] = {
        {false, "", std::nullopt, DefaultSoundFont},
        {true, "", std::nullopt, DefaultSoundFont},
        {true, "/set/in.sf2", std::nullopt, "/set/in.sf2"},
        {true, "/set/in.sf2", std::string(""), "/set/in.sf2"},
        {true, "/set/in.sf2", std::string("/over/ride.sf2"), "/over/ride.sf2"},
    };
    for (const auto& test : cases) {
        test::MemoryProfile profile;
        if (test.write) {
            ASSERT_TRUE(profile.WriteString("Synth", "SoundFont", test.setting));
        }
        EXPECT_EQ(ResolveSoundFont(profile, test.overridePath).path, test.path);
    }
}

// This machine may have no sound server or card: opening then fails in one line, quietly.
TEST_F(SynthRendererTest, TheLiveSynthWithoutAudioFailsInOneQuietLine)
{
    const SoundFontChoice soundFont = SoundFontOrSkip();
    REQUIRE_SOUNDFONT(soundFont);
    testing::internal::CaptureStderr();
    std::string error;
    auto synth = SynthDevice::Open(soundFont, error);
    if (synth) {
        EXPECT_EQ(synth->Name(), "Cantivo Synth");
        EXPECT_FALSE(synth->DriverName().empty());
        synth->SendShort(0x403C90);
        synth->Drain(0.2);
        synth->SendShort(0x403C90); // after the drain: nothing, no crash
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    if (!synth) {
        EXPECT_EQ(error.rfind("The built-in synth \"Cantivo Synth\" has no audio device to play through", 0), 0u)
            << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}

} // namespace
} // namespace cantivo
