// Any bytes that read as a song must save to a file that reads back with the same texts, tempo map,
// measures and cues, and saving what was read back must settle: a save of the read-back song gives the
// very bytes it was read from (and so the same song). The first saves may still change user tracks where
// the file cannot say what the song holds (overlapping notes of one key, the channel of a track without
// channel messages, the initial block of a track that shares its channel), so the bytes get a few saves
// to settle.

#include "../tests/support/SongComparison.h"
#include "song/MidiFileReader.h"
#include "song/MidiFileWriter.h"
#include "song/Song.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// Saves after which the bytes must have stopped changing.
constexpr int SavesToSettle = 4;

[[noreturn]] void Fail(const char* what, const std::string& detail = {})
{
    std::fprintf(stderr, "%s %s\n", what, detail.c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace cantivo;
    using test::CompareScope;
    using test::SongDifference;
    const SongContext context = DefaultSongContext();
    auto song = std::make_unique<Song>(context);
    if (!ReadSongFromBytes(*song, data, size))
        return 0;
    std::vector<uint8_t> saved = WriteSongToBytes(*song);

    for (int save = 1; save <= SavesToSettle; ++save) {
        auto readBack = std::make_unique<Song>(context);
        if (!ReadSongFromBytes(*readBack, saved.data(), saved.size()))
            Fail("a written song does not read back");
        if (save == 1) {
            if (const std::string difference = SongDifference(*song, *readBack, CompareScope::Conductor);
                !difference.empty())
                Fail("the conductor data read back differs:", difference);
        }
        std::vector<uint8_t> again = WriteSongToBytes(*readBack);
        if (again == saved)
            return 0;
        song = std::move(readBack);
        saved = std::move(again);
    }
    Fail("saving and reading again never settles");
}
