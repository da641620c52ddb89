// Feeds bytes to the MIDI file reader and to the legacy settings-file reader.
//
// Input layout: the whole input is read as a song file. When its first two bytes, little-endian, are a
// length n that fits in what follows, the input is also read as a song of the bytes between them and
// its last n bytes, with those n bytes as its settings file. The whole input is further applied as a
// settings file to a small three-track song.
#include "song/MidiFileReader.h"
#include "song/Song.h"
#include "song/SongSettingsFile.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

const std::vector<uint8_t>& ThreeTrackSong()
{
    static const std::vector<uint8_t> bytes = {
        'M', 'T', 'h', 'd', 0, 0, 0, 6,  0, 1,    0,    3,   0,    120,                                 // header
        'M', 'T', 'r', 'k', 0, 0, 0, 4,  0, 0xFF, 0x2F, 0,                                              // conductor
        'M', 'T', 'r', 'k', 0, 0, 0, 13, 0, 0xFF, 0x7F, 4,   'c',  'v',  36, 0x83, 0, 0x90, 63, 100, 0, // key +3
        'M', 'T', 'r', 'k', 0, 0, 0, 8,  0, 0x90, 60,   100, 0x60, 0x80, 60, 0,                         // one note
    };
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace cantivo;
    const SongContext context = DefaultSongContext();
    {
        Song song(context);
        (void)ReadSongFromBytes(song, data, size);
    }
    if (size >= 2) {
        const size_t settingsSize = data[0] | size_t{data[1]} << 8;
        if (settingsSize <= size - 2) {
            Song song(context);
            (void)ReadSongFromBytes(song, data + 2, size - 2 - settingsSize, data + size - settingsSize, settingsSize);
        }
    }
    {
        Song song(context);
        const std::vector<uint8_t>& midi = ThreeTrackSong();
        if (ReadSongFromBytes(song, midi.data(), midi.size()))
            (void)ReadSongSettings(song, data, size, 3);
    }
    return 0;
}
