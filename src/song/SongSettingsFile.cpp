#include "song/SongSettingsFile.h"

#include "song/Song.h"
#include "song/SongFileNames.h"

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace cantivo {

namespace {

// A little-endian archive read with every length checked against what is left.
class ArchiveReader {
  public:
    ArchiveReader(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}

    size_t Left() const { return size_ - at_; }

    std::optional<uint32_t> Unsigned(size_t width)
    {
        if (Left() < width)
            return std::nullopt;
        uint32_t value = 0;
        for (size_t i = 0; i < width; ++i)
            value |= uint32_t{bytes_[at_ + i]} << (8 * i);
        at_ += width;
        return value;
    }
    std::optional<int32_t> Int32()
    {
        const auto value = Unsigned(4);
        if (!value)
            return std::nullopt;
        return static_cast<int32_t>(*value);
    }
    // The framework's string: a length byte below 255; else 0xFF and a 16-bit length below 0xFFFE;
    // else 0xFF, 0xFFFF and a 32-bit length; then the characters.
    std::optional<std::string> String()
    {
        auto length = Unsigned(1);
        if (length && *length == 0xFF) {
            length = Unsigned(2);
            if (length && *length >= 0xFFFE)
                length = Unsigned(4);
        }
        if (!length || *length > Left())
            return std::nullopt;
        std::string text(reinterpret_cast<const char*>(bytes_ + at_), *length);
        at_ += *length;
        return text;
    }

  private:
    const uint8_t* bytes_;
    size_t size_;
    size_t at_ = 0;
};

// Kinds 3, 7, 8 and 9 repeat or advance backwards (restart-at before stop-at); every other kind moves
// forwards. A cue that breaks its kind's rule, or the list's order, is dropped.
bool CheckCue(Cue& cue, const std::vector<std::unique_ptr<Cue>>& kept)
{
    if (cue.kind < 0 || cue.kind >= CueKindCount)
        return false;
    if (!kept.empty() && cue.AnchorTime() < kept.back()->AnchorTime())
        return false;
    switch (cue.kind) {
    case CueVamp:
    case CueBreath:
    case CueAdvanceAndCut:
    case CueAdvance:
        if (cue.restartAt > cue.stopAt)
            std::swap(cue.restartAt, cue.stopAt);
        return true;
    default:
        return cue.restartAt >= cue.stopAt;
    }
}

struct TrackRecord {
    int32_t formatVersion = LegacyFormatVersion;
    int32_t kind = 0;
    int32_t inputPort = 0;
    int32_t inputChannel = -1;
    int32_t defaultClef = 0;
    int32_t splitKey = 0;
    uint32_t colour = DefaultTrackColour;
    int32_t keyOffset = 0;
    int32_t timeOffset = 0;
    int32_t velocityOffset = 0;
    int32_t play = 1;
};

std::optional<TrackRecord> ReadTrackRecord(ArchiveReader& archive)
{
    TrackRecord record;
    const auto first = archive.Int32();
    if (!first)
        return std::nullopt;
    const int64_t version = -int64_t{*first};
    if ((version & 0xFFF) == LegacyFormatVersion) {
        std::array<int32_t, 7> values{};
        for (int32_t& value : values) {
            const auto read = archive.Int32();
            if (!read)
                return std::nullopt;
            value = *read;
        }
        record.formatVersion = static_cast<int32_t>(version);
        record.kind = values[0];
        record.inputPort = values[1];
        record.inputChannel = values[2];
        record.defaultClef = values[3];
        record.splitKey = values[4];
        record.colour = static_cast<uint32_t>(values[5]);
        record.keyOffset = values[6];
    } else {
        record.keyOffset = *first;
    }
    const auto timeOffset = archive.Int32();
    const auto velocityOffset = archive.Int32();
    const auto play = archive.Int32();
    if (!timeOffset || !velocityOffset || !play)
        return std::nullopt;
    record.timeOffset = *timeOffset;
    record.velocityOffset = *velocityOffset;
    record.play = *play;
    return record;
}

// Values are held to what the program itself can store: a damaged archive must not give a track a
// port beyond the table or an offset that pushes every key or time out of range.
void ApplyTrackRecord(Track& track, const TrackRecord& record)
{
    track.formatVersion = record.formatVersion;
    track.kind = record.kind == 0 ? 0 : 1;
    track.inputPort = std::clamp(record.inputPort, 0, 15);
    track.inputChannel = std::clamp(record.inputChannel, -1, 15);
    track.defaultClef = std::max(record.defaultClef, 0);
    track.splitKey = std::clamp(record.splitKey, -60, 67);
    track.colour = record.colour & 0xFFFFFF;
    track.keyOffset = std::clamp(record.keyOffset, -127, 127);
    track.timeOffset = std::clamp(record.timeOffset, -32768, 32767);
    track.velocityOffset = std::clamp(record.velocityOffset, -127, 127);
    track.play = record.play != 0 ? 1 : 0;
    track.DeriveTextColour();
}

} // namespace

bool ReadSongSettings(Song& song, const uint8_t* bytes, size_t size, int trackChunks)
{
    ArchiveReader archive(bytes, size);
    const auto title = archive.String();
    if (!title)
        return false;
    song.title = StripKnownExtension(*title);
    const auto reserved = archive.Int32();
    const auto cueCount = archive.Int32();
    if (!reserved || !cueCount)
        return false;

    // Each cue takes at least 13 bytes, so a count beyond that is damage, not a reason to allocate.
    const uint32_t cues = static_cast<uint32_t>(*cueCount);
    if (cues > archive.Left() / 13)
        return false;
    std::vector<std::unique_ptr<Cue>> kept;
    for (uint32_t i = 0; i < cues; ++i) {
        auto label = archive.String();
        const auto kindWord = archive.Int32();
        const auto stopAt = archive.Int32();
        const auto restartAt = archive.Int32();
        if (!label || !kindWord || !stopAt || !restartAt)
            return false;
        auto cue = std::make_unique<Cue>();
        cue->label = std::move(*label);
        cue->kind = *kindWord & 0xFF;
        cue->count = *kindWord >> 8;
        cue->stopAt = *stopAt;
        cue->restartAt = *restartAt;
        if (CheckCue(*cue, kept))
            kept.push_back(std::move(cue));
    }
    song.cues = std::move(kept);

    const auto trackCount = archive.Int32();
    if (!trackCount)
        return false;
    const int records = std::min<int64_t>(static_cast<uint32_t>(*trackCount),
                                          std::min<int64_t>(trackChunks, static_cast<int64_t>(song.tracks.size())));
    for (int i = 0; i < records; ++i) {
        const auto record = ReadTrackRecord(archive);
        if (!record)
            return false;
        ApplyTrackRecord(*song.tracks[static_cast<size_t>(i)], *record);
    }

    const auto reservedAgain = archive.Int32();
    const auto labelCount = archive.Int32();
    if (!reservedAgain || !labelCount)
        return false;
    const uint32_t labels = static_cast<uint32_t>(*labelCount);
    if (labels > archive.Left() / 3 || labels > MaxReadMeasures || song.measures.empty())
        return false;
    for (uint32_t i = 0; i < labels; ++i) {
        const auto number = archive.Unsigned(2);
        const auto letter = archive.Unsigned(1);
        if (i >= song.measures.size()) {
            Measure copy = song.measures.back();
            copy.start = static_cast<int32_t>(std::min<int64_t>(int64_t{copy.start} + copy.length, 0x7FFFFFFE));
            song.measures.push_back(copy);
        }
        song.measures[i].number = static_cast<uint16_t>(*number);
        song.measures[i].letter = static_cast<uint8_t>(*letter);
    }
    return true;
}

} // namespace cantivo
