// Any bytes that read as a song must save to a file that reads back as the same song, and saving what
// was read back must give the very same bytes. Two things a file cannot say are allowed for: a note of
// one key that starts and ends while an earlier one sounds reads back paired oldest first (the song is
// compared after pairing its notes that way, and the bytes get one more save to settle), and offsets
// that clip keys, velocities or times change the events they clip (then only the conductor data must
// come back, and the saves must settle).

#include "../tests/support/SongComparison.h"
#include "song/MidiFileReader.h"
#include "song/Song.h"
#include "song/SongFileBytes.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// Saves after which the bytes of a song with clipping offsets must have stopped changing.
constexpr int SavesToSettle = 4;

bool AnyClipped(const cantivo::Song& song)
{
    for (const auto& track : song.tracks)
        if (track->clipFlags != 0)
            return true;
    return false;
}

[[noreturn]] void Fail(const char* what, const std::string& detail = {})
{
    std::fprintf(stderr, "%s %s\n", what, detail.c_str());
    std::abort();
}

std::unique_ptr<cantivo::Song> ReadBack(const cantivo::SongContext& context, const std::vector<uint8_t>& bytes)
{
    auto song = std::make_unique<cantivo::Song>(context);
    if (!cantivo::ReadSongFromBytes(*song, bytes.data(), bytes.size()))
        Fail("a written song does not read back");
    return song;
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
    auto readBack = ReadBack(context, saved);
    if (const std::string difference = SongDifference(*song, *readBack, CompareScope::Conductor); !difference.empty())
        Fail("the conductor data read back differs:", difference);

    if (!AnyClipped(*song)) {
        const bool nested = test::HasNestedNotesOfOneKey(*song);
        test::PairNotesOldestFirst(*song);
        if (const std::string difference = SongDifference(*song, *readBack); !difference.empty())
            Fail("the song read back differs:", difference);
        std::vector<uint8_t> again = WriteSongToBytes(*readBack);
        if (again == saved)
            return 0;
        if (!nested)
            Fail("writing the song read back gives other bytes");
        // Re-paired notes may change the order of note-offs at one tick; once.
        if (WriteSongToBytes(*ReadBack(context, again)) != again)
            Fail("saving and reading again never settles");
        return 0;
    }

    for (int save = 1; save <= SavesToSettle; ++save) {
        std::vector<uint8_t> again = WriteSongToBytes(*readBack);
        if (again == saved)
            return 0;
        readBack = ReadBack(context, again);
        saved = std::move(again);
    }
    Fail("saving and reading again never settles");
}
