#include "platform/SndfileAudio.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <tuple>
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

    // Writes `frames` frames of a wave that uses most of the sample range, so rounding would show.
    std::string MakeFile(const std::string& name, int format, int channels, int rate, sf_count_t frames)
    {
        const std::string path = (folder / name).string();
        SF_INFO info{0, rate, channels, format, 0, 0}; // frames, rate, channels, format, sections, seekable
        SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
        EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
        std::vector<double> samples(static_cast<size_t>(frames * channels));
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = std::sin(static_cast<double>(i) * 0.37) * 0.9;
        if (file) {
            sf_writef_double(file, samples.data(), frames);
            sf_close(file);
        }
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

TEST_F(SndfileAudioTest, OpenReportsLengthAndFormatAndTheCopyHoldsTheSameSamples)
{
    struct Case {
        const char* name;
        int format, channels, rate;
        sf_count_t frames;
        uint32_t lengthMs;
        uint16_t tag, bits;
    };
    const Case cases[] = {
        {"stereo16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 44100, 1000, 1, 16},
        {"mono8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, 8000, 4001, 500, 1, 8},
        {"float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 96000, 96000 * 3, 3000, 3, 32},
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
        const WaveFormat f = file->Format();
        EXPECT_EQ(std::make_tuple(f.formatTag, int{f.channels}, f.samplesPerSecond, f.bitsPerSample),
                  std::make_tuple(c.tag, c.channels, static_cast<uint32_t>(c.rate), c.bits));
        EXPECT_EQ(f.blockAlign, c.channels * c.bits / 8);
        EXPECT_EQ(f.averageBytesPerSecond, static_cast<uint32_t>(c.rate) * f.blockAlign);

        // The copy is a wave file in the format Format() said, with the very same samples, however
        // often it is made, and even after the source's name is gone (undo steps move clip files).
        SF_INFO sourceInfo{};
        const std::vector<int> source = ReadInts(path, sourceInfo);
        fs::remove(path);
        for (const char* copyName : {"copy1.wav", "copy2.wav"}) {
            const std::string copyPath = (folder / copyName).string();
            std::string error;
            ASSERT_TRUE(file->WriteCopy(copyPath, error)) << error;
            SF_INFO copyInfo{};
            EXPECT_EQ(ReadInts(copyPath, copyInfo), source);
            EXPECT_EQ(copyInfo.format & SF_FORMAT_TYPEMASK, SF_FORMAT_WAV);
            EXPECT_EQ(copyInfo.frames, c.frames);
            uint32_t copyError = 0;
            auto reopened = audio.Open(copyPath, copyError);
            ASSERT_NE(reopened, nullptr);
            EXPECT_EQ(reopened->Format().bitsPerSample, c.bits);
        }
    }
}

TEST_F(SndfileAudioTest, FilesThatCannotBeOpenedOrCopiedGiveAReason)
{
    std::ofstream((folder / "garbage.wav").string(), std::ios::binary) << "RIFF\x10\0\0\0WAVEjunkjunkjunk";
    std::ofstream((folder / "empty.wav").string(), std::ios::binary);
    std::ofstream((folder / "text.wav").string()) << "this is not audio at all, just words\n";
    fs::create_directory(folder / "folder.wav");
    for (const char* name :
         {"missing.wav", "missing-folder/clip.wav", "garbage.wav", "empty.wav", "text.wav", "folder.wav"}) {
        uint32_t errorCode = 0;
        EXPECT_EQ(audio.Open((folder / name).string(), errorCode), nullptr) << name;
        EXPECT_NE(errorCode, 0u) << name;
        EXPECT_EQ(errorCode, std::string(name).starts_with("missing") ? AudioErrorNotFound : errorCode) << name;
    }

    const std::string path = MakeFile("clip.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 8000, 80);
    uint32_t errorCode = 0;
    auto file = audio.Open(path, errorCode);
    ASSERT_NE(file, nullptr);
    std::string error;
    EXPECT_FALSE(file->WriteCopy((folder / "no-such-folder" / "copy.wav").string(), error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(fs::exists(folder / "no-such-folder")) << "nothing is left behind";
}

} // namespace
} // namespace cantivo
