#include "song/SongFileBytes.h"

#include "song/Song.h"
#include "song/TrackByteWriter.h"
#include "song/TrackEncoder.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace cantivo {

namespace {

// Each text meta is cut to this many bytes when read, so longer texts are written in pieces.
constexpr size_t TextPieceLimit = 99;

void PutBigEndian(std::vector<uint8_t>& out, uint32_t value, int bytes)
{
    for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

void PutChunk(std::vector<uint8_t>& out, const char* id, const std::vector<uint8_t>& contents)
{
    out.insert(out.end(), id, id + 4);
    PutBigEndian(out, static_cast<uint32_t>(contents.size()), 4);
    out.insert(out.end(), contents.begin(), contents.end());
}

int Log2(int value)
{
    int power = 0;
    while (value > 1) {
        value >>= 1;
        ++power;
    }
    return power;
}

// Splits a text into pieces the reader keeps whole, never inside a UTF-8 character when avoidable.
std::vector<std::string> TextPieces(const std::string& text)
{
    std::vector<std::string> pieces;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = std::min(text.size(), start + TextPieceLimit);
        size_t cut = end;
        while (cut < text.size() && cut > start + 1 && (static_cast<uint8_t>(text[cut]) & 0xC0) == 0x80)
            --cut;
        if (cut <= start + 1)
            cut = end;
        pieces.push_back(text.substr(start, cut - start));
        start = cut;
    }
    return pieces;
}

// Builds track 0: every item goes through the byte writer, which writes the delta from the previous
// item. Track 0 is written without running status, as it always was.
class ConductorBuilder {
  public:
    explicit ConductorBuilder(const Song& song) : song_(song) {}

    std::vector<uint8_t> Build();

  private:
    void Meta(int32_t time, uint8_t type, const uint8_t* data, size_t size) { out_.PutMeta(time, type, data, size); }
    void Meta(int32_t time, uint8_t type, const std::string& text) { out_.PutMeta(time, type, text); }
    void Channel(int32_t time, uint8_t status, uint8_t data1) { out_.PutChannelMessage(time, status, data1, 0, 1); }
    void Channel(int32_t time, uint8_t status, uint8_t data1, uint8_t data2)
    {
        out_.PutChannelMessage(time, status, data1, data2, 2);
    }

    void PutTexts();
    void PutMeasureStart(const Measure& measure, bool withLabels, bool pinMeter);
    // Writes every tempo change, cue and track-0 item due before `limit`.
    void PutItemsBefore(int64_t limit);
    void PutEvent(const SongEvent& event);
    void PutCue(const Cue& cue);

    const Song& song_;
    TrackByteWriter out_{false};
    size_t nextEvent_ = 0;
    size_t nextCue_ = 0;
    size_t nextTempo_ = 0;
    std::vector<const Cue*> cues_;
    PendingNoteOffs noteOffs_;
    std::optional<uint32_t> lastTempo_;
    int32_t selectedParameter_ = -1; // as ExpandParameter keeps it
    const Measure* lastMeter_ = nullptr;
    const Measure* lastKey_ = nullptr;
};

std::vector<uint8_t> ConductorBuilder::Build()
{
    for (const auto& cue : song_.cues)
        cues_.push_back(cue.get());
    std::stable_sort(cues_.begin(), cues_.end(),
                     [](const Cue* a, const Cue* b) { return a->AnchorTime() < b->AnchorTime(); });

    PutTexts();
    const auto& smpte = song_.smpteOffset;
    const uint8_t offset[5] = {static_cast<uint8_t>(((smpte.rateCode & 3) << 5) | (smpte.hours & 31)),
                               static_cast<uint8_t>(smpte.minutes), static_cast<uint8_t>(smpte.seconds),
                               static_cast<uint8_t>(smpte.frames), static_cast<uint8_t>(smpte.subframes)};
    Meta(0, 0x54, offset, sizeof offset);

    const auto& measures = song_.measures;
    bool withLabels = false;
    for (size_t i = 0; i < measures.size() && !withLabels; ++i)
        withLabels = measures[i].letter != 0 || measures[i].number != i + 1;
    for (size_t i = 0; i < measures.size(); ++i) {
        // Reading makes measures up to the song end and where a meter or key stands; measures past the
        // song end with neither would be lost, so the last one gets its meter written again.
        const bool pin = !withLabels && i > 0 && i + 1 == measures.size() && measures[i].start >= song_.songEnd;
        PutMeasureStart(measures[i], withLabels, pin);
        PutItemsBefore(measures[i].End());
    }
    // What lies beyond the last measure (a tempo change past the song end, say) is still the song's.
    PutItemsBefore(INT64_MAX);

    out_.PutEndOfTrack();
    return out_.Finish();
}

void ConductorBuilder::PutTexts()
{
    Meta(0, 0x03, song_.title);
    if (!song_.subtitle.empty())
        Meta(0, 0x03, song_.subtitle);
    if (!song_.copyright.empty())
        Meta(0, 0x02, song_.copyright);
    // The first text is read as the author, so a memo without an author needs an empty one before it.
    if (!song_.author.empty() || !song_.memo.empty())
        Meta(0, 0x01, song_.author);
    for (const std::string& piece : TextPieces(song_.memo))
        Meta(0, 0x01, piece);
}

void ConductorBuilder::PutMeasureStart(const Measure& measure, bool withLabels, bool pinMeter)
{
    if (withLabels) {
        char label[16] = "";
        if (measure.number != 0 && measure.letter != 0)
            std::snprintf(label, sizeof label, "%d%c", measure.number, measure.letter);
        else if (measure.number != 0)
            std::snprintf(label, sizeof label, "%d", measure.number);
        else if (measure.letter != 0)
            std::snprintf(label, sizeof label, "%c", measure.letter);
        std::string data = "cv";
        data += static_cast<char>(ProgramMeta::MeasureLabel);
        data += label;
        Meta(measure.start, 0x7F, data);
    }
    // The thirty-seconds are compared too: a measure that changes only them would otherwise read back
    // with the previous value.
    if (pinMeter || !lastMeter_ || lastMeter_->numerator != measure.numerator ||
        lastMeter_->denominator != measure.denominator || lastMeter_->clocksPerClick != measure.clocksPerClick ||
        lastMeter_->thirtySecondsPerQuarter != measure.thirtySecondsPerQuarter) {
        const uint8_t meter[4] = {measure.numerator, static_cast<uint8_t>(Log2(measure.denominator)),
                                  measure.clocksPerClick, measure.thirtySecondsPerQuarter};
        Meta(measure.start, 0x58, meter, sizeof meter);
        lastMeter_ = &measure;
    }
    if (!lastKey_ || lastKey_->key != measure.key || lastKey_->mode != measure.mode) {
        const uint8_t key[2] = {static_cast<uint8_t>(measure.key), measure.mode};
        Meta(measure.start, 0x59, key, sizeof key);
        lastKey_ = &measure;
    }
}

void ConductorBuilder::PutItemsBefore(int64_t limit)
{
    static const std::vector<SongEvent> noEvents;
    const std::vector<SongEvent>& events = song_.tracks.empty() ? noEvents : song_.tracks[0]->events;
    const auto& tempos = song_.tempoMap.entries;
    for (;;) {
        // At one tick: track-0 items (pending note-offs before events), then cues, then tempos.
        int64_t best = INT64_MAX;
        int which = -1;
        auto consider = [&](bool present, int64_t time, int kind) {
            if (present && time < best) {
                best = time;
                which = kind;
            }
        };
        consider(!noteOffs_.Empty(), noteOffs_.Empty() ? 0 : noteOffs_.Next().time, 0);
        consider(nextEvent_ < events.size(), nextEvent_ < events.size() ? events[nextEvent_].time : 0, 1);
        consider(nextCue_ < cues_.size(), nextCue_ < cues_.size() ? cues_[nextCue_]->AnchorTime() : 0, 2);
        consider(nextTempo_ < tempos.size(), nextTempo_ < tempos.size() ? tempos[nextTempo_].tick : 0, 3);
        if (which < 0 || best >= limit)
            return;
        switch (which) {
        case 0: {
            const PendingNoteOffs::NoteOff off = noteOffs_.Take();
            Channel(static_cast<int32_t>(off.time), static_cast<uint8_t>(off.message),
                    static_cast<uint8_t>(off.message >> 8), 0);
            break;
        }
        case 1:
            PutEvent(events[nextEvent_++]);
            break;
        case 2:
            PutCue(*cues_[nextCue_++]);
            break;
        default: {
            const TempoChange& tempo = tempos[nextTempo_++];
            // Tempo metas hold 24 bits; a larger value is kept as the slowest tempo the file can say.
            const uint32_t value = std::min<uint32_t>(tempo.microsecondsPerQuarter, 0xFFFFFF);
            if (lastTempo_ != value) {
                const uint8_t bytes[3] = {static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
                                          static_cast<uint8_t>(value)};
                Meta(tempo.tick, 0x51, bytes, sizeof bytes);
                lastTempo_ = value;
            }
            break;
        }
        }
    }
}

// Channel events of track 0 are written so the file plays as before: notes as note-on and note-on
// velocity 0 pairs, parameter events as their controller sequences on track 0's channel.
void ConductorBuilder::PutEvent(const SongEvent& event)
{
    const uint8_t status = event.Status();
    const uint8_t type = event.Type();
    if (event.IsAudioClip())
        return;
    if (event.IsMeta()) {
        if (event.Data1() != 0x2F) // an end of track inside the chunk would cut off the rest
            Meta(event.time, event.Data1(), event.Data(), event.DataSize());
        return;
    }
    if (event.IsSysex()) {
        out_.PutSysex(event.time, event.Data(), event.DataSize());
        return;
    }
    if (event.IsParameter()) {
        const uint8_t channel = static_cast<uint8_t>(0xB0 | (song_.tracks[0]->outputChannel & 0x0F));
        const ParameterControllers controllers =
            ExpandParameter(status == StatusRpn, event.ParameterNumber(), event.length, selectedParameter_);
        for (int i = 0; i < controllers.count; ++i)
            Channel(event.time, channel, controllers.messages[static_cast<size_t>(i)].first,
                    controllers.messages[static_cast<size_t>(i)].second);
        return;
    }
    switch (type) {
    case 0x90: {
        // A stored velocity of 0 would read as a note-off; the quietest note-on keeps the note.
        const uint8_t velocity = std::max<uint8_t>(1, event.Data2() & 0x7F);
        Channel(event.time, status, event.Data1(), velocity);
        const int64_t end = int64_t{event.time} + std::max(0, event.length);
        noteOffs_.Add(std::min<int64_t>(end, INT32_MAX), status | uint32_t{event.Data1()} << 8);
        break;
    }
    case 0x80: // never stored; written as it stands if an edit made one
    case 0xA0:
    case 0xB0:
    case 0xE0:
        Channel(event.time, status, event.Data1(), event.Data2());
        break;
    case 0xC0:
    case 0xD0:
        // The bank of a program change was read from its own controller events, which are written
        // back as they stand; adding bank selects here would double them.
        Channel(event.time, status, event.Data1());
        break;
    default:
        break;
    }
}

void ConductorBuilder::PutCue(const Cue& cue)
{
    if (cue.kind == CueMarker) {
        Meta(cue.AnchorTime(), 0x06, cue.label);
        return;
    }
    const int64_t span = std::min<int64_t>(std::abs(int64_t{cue.restartAt} - cue.stopAt), 0x0FFFFFFF);
    std::string data = "cv";
    data += static_cast<char>(ProgramMeta::CueRecord);
    data += static_cast<char>(cue.kind & 0xFF);
    for (int shift = 0; shift < 28; shift += 7)
        data += static_cast<char>((span >> shift) & 0x7F);
    // A vamp label that itself holds "||" gets a count in front too, or the reader would split it.
    if (cue.kind == CueVamp && (cue.count != 0 || cue.label.find("||") != std::string::npos))
        data += std::to_string(cue.count) + "||";
    data += cue.label;
    Meta(cue.AnchorTime(), 0x7F, data);
}

} // namespace

std::vector<uint8_t> ConductorTrackBytes(const Song& song)
{
    return ConductorBuilder(song).Build();
}

std::vector<uint8_t> SongFileBytes(const Song& song)
{
    const size_t chunks = song.tracks.size() > 1 ? song.tracks.size() - 1 : 1;
    std::vector<uint8_t> file;
    std::vector<uint8_t> header;
    // Format 0 holds exactly one chunk; a song that has grown more tracks is a format-1 file now.
    const uint16_t format = song.fileFormat == 0 && chunks > 1 ? 1 : song.fileFormat;
    PutBigEndian(header, format, 2);
    PutBigEndian(header, static_cast<uint32_t>(chunks), 2);
    PutBigEndian(header, song.timebase, 2);
    PutChunk(file, "MThd", header);
    PutChunk(file, "MTrk", ConductorTrackBytes(song));
    static const std::vector<uint8_t> emptyTrack = {0x00, 0xFF, 0x2F, 0x00};
    for (size_t number = 1; number + 1 < song.tracks.size(); ++number) {
        const Track& track = *song.tracks[number];
        PutChunk(file, "MTrk", track.image.empty() ? emptyTrack : track.image);
    }
    return file;
}

std::vector<uint8_t> WriteSongToBytes(Song& song)
{
    song.RelayMeasures();
    song.UpdateSongEnd(AllTracks);
    return SongFileBytes(song);
}

} // namespace cantivo
