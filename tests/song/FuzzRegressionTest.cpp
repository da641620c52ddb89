// Every input the reader's fuzzer once broke is read again: it must not crash, and a failed read must
// leave the song empty. The file names say what each one broke.
#include "song/MidiFileReader.h"

#include "song/Song.h"
#include "song/SongSettingsFile.h"
#include "support/TestContext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

namespace cantivo {
namespace {

namespace fs = std::filesystem;

TEST(FuzzRegression, EveryFormerlyBreakingInputReadsOrFailsCleanly)
{
    const fs::path folder = fs::path(CANTIVO_SOURCE_DIR) / "fuzz" / "regressions" / "fuzz_read_song";
    std::vector<fs::path> files;
    if (fs::is_directory(folder))
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.is_regular_file())
                files.push_back(entry.path());
    if (files.empty())
        GTEST_SKIP() << "no regression inputs in " << folder;
    std::sort(files.begin(), files.end());

    test::TestContext context;
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.filename().string());
        std::ifstream in(file, std::ios::binary);
        const std::vector<uint8_t> bytes(std::istreambuf_iterator<char>(in), {});

        Song song(context.Context());
        if (ReadSongFromBytes(song, bytes.data(), bytes.size())) {
            EXPECT_TRUE(song.loaded);
            ASSERT_GE(song.tracks.size(), 2u);
            EXPECT_FALSE(song.measures.empty());
        } else {
            EXPECT_TRUE(song.tracks.empty());
            EXPECT_FALSE(song.loaded);
        }

        // The same bytes as a legacy settings file of a small song.
        Song settled(context.Context());
        const std::vector<uint8_t> midi = {'M', 'T', 'h', 'd', 0,   0, 0, 6, 0, 1,    0,    2,    0,
                                           120, 'M', 'T', 'r', 'k', 0, 0, 0, 4, 0,    0xFF, 0x2F, 0,
                                           'M', 'T', 'r', 'k', 0,   0, 0, 4, 0, 0xFF, 0x2F, 0};
        ASSERT_TRUE(ReadSongFromBytes(settled, midi.data(), midi.size(), bytes.data(), bytes.size()));
        EXPECT_EQ(settled.tracks.size(), 3u);
    }
}

} // namespace
} // namespace cantivo
