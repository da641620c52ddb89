// Any bytes that read as a song must save to a file that reads back as the same song, and saving that
// song again must give the very same bytes.

#include "../tests/support/SongComparison.h"
#include "song/MidiFileReader.h"
#include "song/MidiFileWriter.h"
#include "song/Song.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace cantivo;
    const SongContext context = DefaultSongContext();
    Song song(context);
    if (!ReadSongFromBytes(song, data, size))
        return 0;
    const std::vector<uint8_t> first = WriteSongToBytes(song);

    Song again(context);
    if (!ReadSongFromBytes(again, first.data(), first.size())) {
        std::fprintf(stderr, "a written song does not read back\n");
        std::abort();
    }
    const std::string difference = test::SongDifference(song, again);
    if (!difference.empty()) {
        std::fprintf(stderr, "the song read back differs: %s\n", difference.c_str());
        std::abort();
    }
    if (WriteSongToBytes(again) != first) {
        std::fprintf(stderr, "saving the read-back song gives other bytes\n");
        std::abort();
    }
    return 0;
}
