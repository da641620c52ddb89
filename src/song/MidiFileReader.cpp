#include "song/MidiFileReader.h"

#include "song/AudioClip.h"
#include "song/ConductorTrackReader.h"
#include "song/Song.h"
#include "song/SongFileNames.h"
#include "song/SongSettingsFile.h"
#include "song/TrackEncoder.h"
#include "song/TrackReader.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <vector>

namespace cantivo {

namespace {

namespace fs = std::filesystem;

// The track array holds track 0, at most 250 user tracks and the trailing track.
constexpr uint32_t MaxTrackChunks = MaxUserTracks + 1;

uint32_t BigEndian32(const uint8_t* bytes)
{
    return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
}
uint16_t BigEndian16(const uint8_t* bytes)
{
    return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}
uint32_t LittleEndian32(const uint8_t* bytes)
{
    return uint32_t{bytes[3]} << 24 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[1]} << 8 | bytes[0];
}

// Opens the track's audio clips; a clip whose file cannot be opened is reported and dropped.
void OpenAudioClips(Song& song, Track& track, std::vector<ReadNotice>& notices)
{
    AudioFiles& audio = *song.Context().audio;
    std::erase_if(track.events, [&](SongEvent& event) {
        AudioClip* clip = event.ClipData();
        if (!clip)
            return false;
        // A name under "WaveData" lives in the song's folder; files from Windows name it with
        // backslashes.
        if (clip->fileName.compare(0, 8, "WaveData") == 0) {
            std::string name = clip->fileName;
            if (fs::path::preferred_separator == '/')
                std::replace(name.begin(), name.end(), '\\', '/');
            clip->fileName = song.folder + name;
        }
        uint32_t error = 0;
        if (clip->Open(audio, error))
            return false;
        char text[400];
        std::snprintf(text, sizeof text, "Trouble opening audio clip %s: %08x", clip->fileName.c_str(), error);
        notices.push_back({PromptIcon::Warning, text});
        return true;
    });
}

// A format-0 song becomes a conductor track and one track per channel (track number = channel + 1),
// each then read like a track of a format-1 file.
void SplitByChannel(Song& song, std::vector<ReadNotice>& notices)
{
    Track& original = *song.tracks[0];
    auto conductor = std::make_unique<Track>();
    conductor->name.clear();
    conductor->end = original.end;
    std::array<size_t, 16> perChannel{};
    for (const SongEvent& event : original.events)
        if (event.IsChannelMessage())
            ++perChannel[event.Channel()];
    conductor->events.reserve(original.events.size() - [&] {
        size_t total = 0;
        for (size_t count : perChannel)
            total += count;
        return total;
    }());
    for (SongEvent& event : original.events) {
        if (!event.IsChannelMessage()) {
            conductor->events.push_back(std::move(event));
            continue;
        }
        // The bank selects are still controller events of their own, so a program change carries no
        // bank: encoding it with one would add bank selects the file never had.
        if (event.Type() == 0xC0)
            event.length = -1;
        const size_t number = event.Channel() + 1u;
        while (song.tracks.size() <= number) {
            auto track = std::make_unique<Track>();
            track->outputChannel = static_cast<int32_t>(song.tracks.size()) - 1;
            track->events.reserve(perChannel[song.tracks.size() - 1]);
            song.tracks.push_back(std::move(track));
        }
        song.tracks[number]->events.push_back(std::move(event));
    }
    song.tracks[0] = std::move(conductor);
    for (int number = static_cast<int>(song.tracks.size()) - 1; number >= 1; --number) {
        Track& track = *song.tracks[static_cast<size_t>(number)];
        // Plain: the channel track reads back like a track of another program's format-1 file.
        EncodeTrack(track, -1, InitialMarking::Plain);
        ParseTrack(song, track);
    }
    char text[600];
    std::snprintf(text, sizeof text, "NOTE: If saved, %s will be converted from MIDI format 0 to 1.",
                  song.pathName.c_str());
    notices.push_back({PromptIcon::Information, text});
    song.fileFormat = 1;
}

// The measures the table would need to reach the song end.
size_t MeasuresToReach(const Song& song, int64_t end)
{
    const Measure& last = song.measures.back();
    if (end <= last.start || last.length <= 0)
        return song.measures.size();
    return song.measures.size() + static_cast<size_t>((end - last.start + last.length - 1) / last.length);
}

struct FileSpan {
    const uint8_t* bytes = nullptr;
    size_t size = 0;
};

// The MIDI data of a file: the whole file, or the "data" chunk of a RIFF "RMID" file (cut to what the
// file holds). Empty when a RIFF "RMID" file has no "data" chunk.
FileSpan MidiData(const uint8_t* bytes, size_t size)
{
    if (size < 12 || std::memcmp(bytes, "RIFF", 4) != 0 || std::memcmp(bytes + 8, "RMID", 4) != 0)
        return {bytes, size};
    const size_t riffEnd = std::min<uint64_t>(size, uint64_t{LittleEndian32(bytes + 4)} + 8);
    size_t at = 12;
    while (at + 8 <= riffEnd) {
        const uint64_t length = LittleEndian32(bytes + at + 4);
        const size_t body = at + 8;
        if (std::memcmp(bytes + at, "data", 4) == 0)
            return {bytes + body, static_cast<size_t>(std::min<uint64_t>(length, size - body))};
        const uint64_t next = body + length + (length & 1);
        if (next > riffEnd)
            break;
        at = static_cast<size_t>(next);
    }
    return {};
}

// Header fields that decide how the division is read. A division with bit 15 set counts ticks per
// SMPTE frame: such a song gets timebase = frames per second × ticks per frame at a fixed tempo of one
// quarter note per second (a 29.97 rate stretches that second by 30 / 29.97), so every tick keeps its
// real time; the file's tempo events do not apply to it. Any other frame rate, or a division of 0, is
// damage.
bool ReadDivision(uint16_t division, Song& song, ConductorOptions& options)
{
    if (!(division & 0x8000)) {
        if (division == 0)
            return false;
        song.timebase = division;
        return true;
    }
    const int rate = -static_cast<int8_t>(division >> 8);
    const int ticksPerFrame = division & 0xFF;
    if ((rate != 24 && rate != 25 && rate != 29 && rate != 30) || ticksPerFrame == 0)
        return false;
    const int frames = rate == 29 ? 30 : rate;
    song.timebase = static_cast<uint16_t>(frames * ticksPerFrame);
    options.fixedTempo = true;
    options.tempo = rate == 29 ? 1001001 : 1000000;
    return true;
}

bool ReadSongBytes(Song& song, const uint8_t* bytes, size_t size, const std::vector<uint8_t>* settings,
                   std::vector<ReadNotice>& notices)
{
    if (size == 0) {
        song.NewSongDefaults();
        return true;
    }
    const FileSpan midi = MidiData(bytes, size);
    if (midi.size < 14 || std::memcmp(midi.bytes, "MThd", 4) != 0)
        return false;
    const uint32_t headerLength = BigEndian32(midi.bytes + 4);
    if (headerLength < 6 || headerLength > midi.size - 8)
        return false;
    const uint16_t format = BigEndian16(midi.bytes + 8);
    const uint32_t trackChunks = BigEndian16(midi.bytes + 10);
    ConductorOptions options;
    // No track chunk means no conductor track: a file that announces none is damaged.
    if (trackChunks == 0 || !ReadDivision(BigEndian16(midi.bytes + 12), song, options))
        return false;
    if (trackChunks > MaxTrackChunks) {
        char text[600];
        std::snprintf(text, sizeof text, "%s announces %u tracks; a song holds at most %d besides the conductor track.",
                      song.pathName.empty() ? "The song" : song.pathName.c_str(), trackChunks - 1, MaxUserTracks);
        notices.push_back({PromptIcon::Error, text});
        return false;
    }
    // A format-0 header over several chunks cannot be split by channel and is read as format 1;
    // format 2 is kept, so a save writes it back as it was.
    const bool splitByChannel = format == 0 && trackChunks == 1;
    song.fileFormat = splitByChannel ? 0 : format == 2 ? 2 : 1;
    song.UpdateResolutionClass();

    size_t at = 8 + headerLength;
    song.tracks.reserve(trackChunks + 1);
    for (uint32_t number = 0; number < trackChunks; ++number) {
        if (midi.size - at < 8 || std::memcmp(midi.bytes + at, "MTrk", 4) != 0)
            return false;
        const uint32_t length = BigEndian32(midi.bytes + at + 4);
        at += 8;
        if (length > midi.size - at)
            return false;
        auto track = std::make_unique<Track>();
        track->image.assign(midi.bytes + at, midi.bytes + at + length);
        song.tracks.push_back(std::move(track));
        at += length;
    }

    if (!ParseConductorTrack(song, options))
        return false;
    // A damaged settings archive applies what it can; the song stays usable.
    if (settings)
        (void)ReadSongSettings(song, settings->data(), settings->size(), static_cast<int>(trackChunks));

    if (splitByChannel) {
        SplitByChannel(song, notices);
    } else {
        for (size_t number = 1; number < song.tracks.size(); ++number) {
            Track& track = *song.tracks[number];
            ParseTrack(song, track);
            OpenAudioClips(song, track, notices);
            if (track.IsAudio()) {
                std::erase_if(track.events, [](const SongEvent& event) { return !event.IsAudioClip(); });
                track.initial[InitBank] = -1;
                track.initial[InitPatch] = -1;
            }
        }
    }
    song.tracks.push_back(std::make_unique<Track>());

    // Refuse an end no measure table could reach before encoding and extending toward it.
    int64_t end = 0;
    for (const auto& track : song.tracks)
        end = std::max<int64_t>(end, track->end);
    for (const auto& cue : song.cues)
        end = std::max<int64_t>({end, cue->stopAt, cue->restartAt});
    if (MeasuresToReach(song, end) > MaxReadMeasures)
        return false;
    song.UpdateSongEnd(AllTracks);
    if (MeasuresToReach(song, song.songEnd) > MaxReadMeasures)
        return false;
    song.ExtendMeasures();
    // Also sets the measure table end, held to the tick range.
    song.RelayMeasures();
    song.loaded = true;
    return true;
}

// Reads the song, turning running out of memory into a failed read like any other damage.
ReadResult ReadSongGuarded(Song& song, const uint8_t* bytes, size_t size, const std::vector<uint8_t>* settings)
{
    ReadResult result;
    try {
        result.ok = ReadSongBytes(song, bytes, size, settings, result.notices);
    } catch (const std::bad_alloc&) {
        result.ok = false;
    }
    if (!result.ok)
        song.Clear();
    return result;
}

} // namespace

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    bool ok = true;
    std::error_code error;
    const uintmax_t expected = fs::file_size(path, error);
    if (!error)
        bytes.reserve(static_cast<size_t>(expected));
    uint8_t block[65536];
    for (;;) {
        const size_t got = std::fread(block, 1, sizeof block, file);
        bytes.insert(bytes.end(), block, block + got);
        if (got < sizeof block) {
            ok = !std::ferror(file);
            break;
        }
    }
    std::fclose(file);
    return ok;
}

ReadResult ReadSong(Song& song, const std::string& path)
{
    song.Clear();
    song.SetPathName(path);
    std::error_code error;
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> settings;
    bool haveSettings = false;
    try {
        if (!fs::is_regular_file(path, error) || !ReadFileBytes(path, bytes)) {
            song.Clear();
            return {};
        }
        // A settings file that cannot be read is ignored.
        const std::string settingsPath = SongSettingsPath(path);
        haveSettings =
            fs::is_regular_file(settingsPath, error) && ReadFileBytes(settingsPath, settings) && !settings.empty();
    } catch (const std::bad_alloc&) {
        song.Clear();
        return {};
    }
    return ReadSongGuarded(song, bytes.data(), bytes.size(), haveSettings ? &settings : nullptr);
}

ReadResult ReadSongFromBytes(Song& song, const uint8_t* bytes, size_t size, const uint8_t* settings,
                             size_t settingsSize)
{
    song.Clear();
    std::vector<uint8_t> settingsBytes;
    if (settings)
        settingsBytes.assign(settings, settings + settingsSize);
    return ReadSongGuarded(song, bytes, size, settings ? &settingsBytes : nullptr);
}

} // namespace cantivo
