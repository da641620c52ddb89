#include "platform/SndfileAudio.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace cantivo {
namespace {

namespace fs = std::filesystem;

class SndfileAudioTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "cantivo-audio-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = pattern;
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    // Writes `frames` frames of a ramp that uses the whole sample range, so rounding would show.
    std::string MakeFile(const std::string& name, int format, int channels, int rate, sf_count_t frames)
    {
        const std::string path = (folder / name).string();
        SF_INFO info{};
        info.samplerate = rate;
        info.channels = channels;
        info.format = format;
        SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
        EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
        if (!file)
            return path;
        std::vector<double> samples(static_cast<size_t>(frames * channels));
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = std::sin(static_cast<double>(i) * 0.37) * 0.9;
        sf_writef_double(file, samples.data(), frames);
        sf_close(file);
        return path;
    }

    static std::vector<int> ReadInts(const std::string& path, SF_INFO& info)
    {
        info = SF_INFO{};
        SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
        if (!file)
            return {};
        std::vector<int> samples(static_cast<size_t>(info.frames * info.channels));
        sf_readf_int(file, samples.data(), info.frames);
        sf_close(file);
        return samples;
    }

    fs::path folder;
    SndfileAudioFiles audio;
};

TEST_F(SndfileAudioTest, OpenReportsLengthAndTheWaveFormatOfItsCopy)
{
    struct Case {
        const char* name;
        int format;
        int channels;
        int rate;
        sf_count_t frames;
        uint32_t lengthMs;
        uint16_t tag;
        uint16_t bits;
    };
    const Case cases[] = {
        {"stereo16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 44100, 1000, 1, 16},
        {"mono24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1, 48000, 12000, 250, 1, 24},
        {"mono8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, 8000, 4001, 500, 1, 8},
        {"quad32.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 4, 22050, 2205, 100, 1, 32},
        {"float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 96000, 96000 * 3, 3000, 3, 32},
        {"double.wav", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 1, 44100, 441, 10, 3, 64},
        {"signed8.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, 1, 11025, 11024, 999, 1, 8},
        {"ulaw.wav", SF_FORMAT_WAV | SF_FORMAT_ULAW, 1, 8000, 800, 100, 1, 16},
        {"empty.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 0, 0, 1, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = MakeFile(c.name, c.format, c.channels, c.rate, c.frames);
        uint32_t errorCode = 1;
        auto file = audio.Open(path, errorCode);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(errorCode, 0u);
        EXPECT_EQ(file->LengthMs(), c.lengthMs);
        const WaveFormat format = file->Format();
        EXPECT_EQ(format.formatTag, c.tag);
        EXPECT_EQ(format.channels, c.channels);
        EXPECT_EQ(format.samplesPerSecond, static_cast<uint32_t>(c.rate));
        EXPECT_EQ(format.bitsPerSample, c.bits);
        EXPECT_EQ(format.blockAlign, c.channels * c.bits / 8);
        EXPECT_EQ(format.averageBytesPerSecond, static_cast<uint32_t>(c.rate) * format.blockAlign);

        // The copy is a wave file whose header says what Format() said, with the same samples.
        const std::string copyPath = (folder / (std::string("copy-") + c.name + ".wav")).string();
        std::string error;
        ASSERT_TRUE(file->WriteCopy(copyPath, error)) << error;
        SF_INFO sourceInfo{};
        SF_INFO copyInfo{};
        const std::vector<int> source = ReadInts(path, sourceInfo);
        const std::vector<int> copy = ReadInts(copyPath, copyInfo);
        EXPECT_EQ(copyInfo.format & SF_FORMAT_TYPEMASK, SF_FORMAT_WAV);
        EXPECT_EQ(copyInfo.channels, c.channels);
        EXPECT_EQ(copyInfo.samplerate, c.rate);
        EXPECT_EQ(copyInfo.frames, c.frames);
        uint32_t copyError = 0;
        auto reopened = audio.Open(copyPath, copyError);
        ASSERT_NE(reopened, nullptr);
        EXPECT_EQ(reopened->Format().formatTag, c.tag);
        EXPECT_EQ(reopened->Format().bitsPerSample, c.bits);
        EXPECT_EQ(copy, source) << "the copy must hold the very same samples";
    }
}

TEST_F(SndfileAudioTest, CopyTwiceFromOneOpenFileGivesTheSameAudio)
{
    const std::string path = MakeFile("clip.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 10000);
    uint32_t errorCode = 0;
    auto file = audio.Open(path, errorCode);
    ASSERT_NE(file, nullptr);
    std::string error;
    const std::string first = (folder / "first.wav").string();
    const std::string second = (folder / "second.wav").string();
    ASSERT_TRUE(file->WriteCopy(first, error)) << error;
    ASSERT_TRUE(file->WriteCopy(second, error)) << error;
    SF_INFO info{};
    EXPECT_EQ(ReadInts(first, info), ReadInts(second, info));
    EXPECT_EQ(info.frames, 10000);
}

TEST_F(SndfileAudioTest, OpenFileStillCopiesAfterItsNameIsGone)
{
    // Undo steps move clip files away; the open handle keeps the audio reachable.
    const std::string path = MakeFile("moved.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 8000, 800);
    uint32_t errorCode = 0;
    auto file = audio.Open(path, errorCode);
    ASSERT_NE(file, nullptr);
    fs::remove(path);
    std::string error;
    const std::string copyPath = (folder / "rescued.wav").string();
    ASSERT_TRUE(file->WriteCopy(copyPath, error)) << error;
    SF_INFO info{};
    EXPECT_EQ(ReadInts(copyPath, info).size(), 800u);
}

TEST_F(SndfileAudioTest, FilesThatCannotBeOpenedGiveNonZeroCodes)
{
    std::ofstream((folder / "garbage.wav").string(), std::ios::binary) << "RIFF\x10\0\0\0WAVEjunkjunkjunk";
    std::ofstream((folder / "empty.wav").string(), std::ios::binary);
    std::ofstream((folder / "text.wav").string()) << "this is not audio at all, just words\n";
    fs::create_directory(folder / "folder.wav");
    struct Case {
        std::string name;
        uint32_t expected; // 0 = any non-zero code
    };
    const Case cases[] = {
        {"missing.wav", AudioErrorNotFound},
        {"missing-folder/clip.wav", AudioErrorNotFound},
        {"garbage.wav", 0},
        {"empty.wav", 0},
        {"text.wav", 0},
        {"folder.wav", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint32_t errorCode = 0;
        EXPECT_EQ(audio.Open((folder / c.name).string(), errorCode), nullptr);
        EXPECT_NE(errorCode, 0u);
        if (c.expected != 0) {
            EXPECT_EQ(errorCode, c.expected);
        }
    }
}

TEST_F(SndfileAudioTest, CopyIntoAMissingFolderFailsWithAReasonAndLeavesNoFile)
{
    const std::string path = MakeFile("clip.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 8000, 80);
    uint32_t errorCode = 0;
    auto file = audio.Open(path, errorCode);
    ASSERT_NE(file, nullptr);
    std::string error;
    EXPECT_FALSE(file->WriteCopy((folder / "no-such-folder" / "copy.wav").string(), error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(fs::exists(folder / "no-such-folder"));
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder))
        ++count;
    EXPECT_EQ(count, 1u) << "only the source may be in the folder";
}

} // namespace
} // namespace cantivo
