#include "song/MidiFileReader.h"

#include "song/AudioClip.h"
#include "song/Song.h"
#include "song/SongFileNames.h"
#include "song/SongSettingsFile.h"
#include "song/TrackEncoder.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <vector>

namespace cantivo {

namespace {

namespace fs = std::filesystem;

constexpr size_t TextLimit = 99;      // track names, texts, copyright
constexpr size_t CueTextLimit = 127;  // markers, cue labels, measure labels
constexpr size_t ClipNameLimit = 260; // audio clip file names
constexpr int32_t NoParameter = 16383;
constexpr int32_t LastTick = 0x7FFFFFFE; // NoEventLeft is the first value past the tick range
// The track array holds track 0, at most 250 user tracks and the trailing track.
constexpr uint32_t MaxTrackChunks = MaxUserTracks + 1;
constexpr int32_t DefaultTempo = 500000;

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

// A text from a meta event: up to its first NUL, cut to `limit` bytes without splitting a UTF-8
// sequence.
std::string TextFrom(const uint8_t* data, size_t length, size_t limit)
{
    const void* nul = length ? std::memchr(data, 0, length) : nullptr;
    size_t size = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - data) : length;
    if (size > limit) {
        size = limit;
        while (size > 0 && (data[size] & 0xC0) == 0x80)
            --size;
    }
    return std::string(reinterpret_cast<const char*>(data), size);
}

// A key moved into 0-127 by whole octaves.
uint8_t FoldKey(int64_t key)
{
    if (key < 0)
        key += 12 * ((-key + 11) / 12);
    if (key > 127)
        key -= 12 * ((key - 127 + 11) / 12);
    return static_cast<uint8_t>(key);
}

// The leading decimal number of a text (0 when it starts with no digit), limited to `most`.
int64_t LeadingNumber(const std::string& text, size_t& digits, int64_t most)
{
    int64_t value = 0;
    digits = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) {
        value = std::min<int64_t>(value * 10 + (text[digits] - '0'), most);
        ++digits;
    }
    return value;
}

// ---- Raw chunk decoding ----

int ReadVarLenAt(const uint8_t* data, size_t size, size_t& cursor, uint32_t& value)
{
    uint32_t result = 0;
    size_t at = cursor;
    // A delta or length never takes more than four bytes (28 bits); a longer one is damage.
    for (int used = 1; used <= 4; ++used) {
        if (at >= size)
            return 0;
        const uint8_t byte = data[at++];
        result = (result << 7) | (byte & 0x7F);
        if (byte < 0x80) {
            value = result;
            cursor = at;
            return used;
        }
    }
    return 0;
}

// Reads the delta at the cursor and advances the next event time by it; when it cannot be read, or
// the time would leave the tick range, no event is left.
void AdvanceTime(const uint8_t* data, size_t size, RawReadState& state)
{
    uint32_t delta = 0;
    if (ReadVarLenAt(data, size, state.cursor, delta) == 0 || int64_t{state.nextEventTime} + delta > LastTick) {
        state.nextEventTime = NoEventLeft;
        return;
    }
    state.nextEventTime += static_cast<int32_t>(delta);
}

void StartReadingImage(const std::vector<uint8_t>& image, RawReadState& state)
{
    state = RawReadState{};
    state.nextEventTime = 0;
    AdvanceTime(image.data(), image.size(), state);
}

// Decodes one event. Anything that cannot be decoded (a truncated event, a data byte without a running
// status, a status no file may hold) ends the chunk; what came before stays.
bool NextRaw(const uint8_t* data, size_t size, RawReadState& state, RawEvent& event)
{
    for (;;) {
        if (state.nextEventTime == NoEventLeft || state.cursor >= size) {
            state.nextEventTime = NoEventLeft;
            return false;
        }
        event.time = state.nextEventTime;
        event.length = 0;
        event.data = nullptr;
        event.data2 = 0;
        size_t cursor = state.cursor;
        const size_t statusAt = cursor;
        uint8_t byte = data[cursor++];
        uint8_t status = 0;
        if (byte < 0x80) {
            if (state.runningStatus == 0)
                break;
            status = state.runningStatus;
            event.data1 = byte;
        } else {
            status = byte;
            // F1-F6 and F8-FE are live messages that a file cannot hold; their length is unknown.
            if (status > 0xF0 && status != 0xF7 && status != 0xFF)
                break;
            if (cursor >= size)
                break;
            event.data1 = data[cursor++];
        }
        event.status = status;

        if (status == 0xFF) {
            state.runningStatus = 0;
            if (event.data1 == 0x2F)
                break;
            uint32_t length = 0;
            if (ReadVarLenAt(data, size, cursor, length) == 0 || length > size - cursor)
                break;
            event.length = length;
            event.data = data + cursor;
            cursor += length;
        } else if (status == 0xF0) {
            state.runningStatus = 0;
            // Delimited by the first F7, not by the length after F0: the program's own records carry
            // no length there.
            const void* end = std::memchr(data + statusAt + 1, 0xF7, size - statusAt - 1);
            if (!end)
                break;
            const size_t endAt = static_cast<size_t>(static_cast<const uint8_t*>(end) - data);
            event.data = data + statusAt;
            event.length = static_cast<uint32_t>(endAt - statusAt + 1);
            cursor = endAt + 1;
        } else if (status == 0xF7) {
            // An escaped packet (a sysex continuation or raw bytes): it has no place in the song, so it
            // is stepped over.
            state.runningStatus = 0;
            --cursor;
            uint32_t length = 0;
            if (ReadVarLenAt(data, size, cursor, length) == 0 || length > size - cursor)
                break;
            state.cursor = cursor + length;
            AdvanceTime(data, size, state);
            continue;
        } else {
            state.runningStatus = status;
            if (event.data1 >= 0x80)
                break;
            const uint8_t type = status & 0xF0;
            if (type != 0xC0 && type != 0xD0) {
                if (cursor >= size || data[cursor] >= 0x80)
                    break;
                event.data2 = data[cursor++];
            }
        }
        state.cursor = cursor;
        AdvanceTime(data, size, state);
        return true;
    }
    state.nextEventTime = NoEventLeft;
    return false;
}

// An upper bound of the events a chunk stores (every decoded event but the note-offs), so the event
// array is allocated once.
size_t CountStoredEvents(const Track& track)
{
    RawReadState state;
    StartReadingImage(track.image, state);
    RawEvent event;
    size_t count = 0;
    while (NextRaw(track.image.data(), track.image.size(), state, event)) {
        const uint8_t type = event.status & 0xF0;
        if (type != 0x80 && !(type == 0x90 && event.data2 == 0))
            ++count;
    }
    return count;
}

// The open notes of a track, oldest first for each channel and key: a queue per slot threaded through
// one array indexed by event number, so pairing allocates nothing per note.
class OpenNotes {
  public:
    explicit OpenNotes(size_t events) : next_(events, -1) { Clear(); }

    void Clear()
    {
        head_.fill(-1);
        tail_.fill(-1);
    }
    void Open(uint8_t channel, uint8_t key, int32_t index)
    {
        if (static_cast<size_t>(index) >= next_.size())
            next_.resize(static_cast<size_t>(index) + 1, -1);
        const int slot = Slot(channel, key);
        next_[static_cast<size_t>(index)] = -1;
        if (tail_[slot] < 0)
            head_[slot] = index;
        else
            next_[static_cast<size_t>(tail_[slot])] = index;
        tail_[slot] = index;
    }
    // The oldest open note of the channel and key, taken off the list; −1 when there is none.
    int32_t Close(uint8_t channel, uint8_t key)
    {
        const int slot = Slot(channel, key);
        const int32_t index = head_[slot];
        if (index < 0)
            return -1;
        head_[slot] = next_[static_cast<size_t>(index)];
        if (head_[slot] < 0)
            tail_[slot] = -1;
        return index;
    }

  private:
    static constexpr int SlotCount = 16 * 128;
    static int Slot(uint8_t channel, uint8_t key) { return (channel & 0x0F) * 128 + (key & 0x7F); }

    std::array<int32_t, SlotCount> head_;
    std::array<int32_t, SlotCount> tail_;
    std::vector<int32_t> next_;
};

// Pairs a note-off (or a note-on of velocity 0) with the oldest open note of its channel and key.
void CloseNote(std::vector<SongEvent>& events, OpenNotes& open, uint8_t channel, uint8_t key, int32_t time)
{
    const int32_t index = open.Close(channel, key);
    if (index >= 0) {
        SongEvent& note = events[static_cast<size_t>(index)];
        note.length = time - note.time;
    }
}

bool IsProgramMeta(const RawEvent& event)
{
    return event.status == 0xFF && event.data1 == 0x7F && event.length >= 3 && event.data[0] == ProgramMeta::Tag[0] &&
           event.data[1] == ProgramMeta::Tag[1];
}

// ---- Conductor track ----

struct ConductorOptions {
    // Set for a file timed in SMPTE frames: its tempo is fixed and tempo events do not apply.
    bool fixedTempo = false;
    uint32_t tempo = DefaultTempo;
};

Measure MeasureRecord(int32_t start, int32_t timebase, const Measure& meter)
{
    Measure measure = meter;
    measure.start = start;
    measure.length = static_cast<int32_t>(int64_t{timebase} * 4 * meter.numerator / meter.denominator);
    measure.number = 1;
    measure.letter = 0;
    return measure;
}

void PlaceMeasureRecord(std::vector<Measure>& measures, const Measure& record)
{
    if (!measures.empty() && measures.back().start == record.start)
        measures.back() = record;
    else
        measures.push_back(record);
}

// A cue from the program's own cue record: kind, span and label; every cue's anchor is the event time.
void AddProgramCue(Song& song, const RawEvent& event)
{
    if (event.length < 8)
        return;
    const uint8_t* d = event.data;
    const int32_t kind = d[3];
    // A kind the program does not know would reach playback as nonsense.
    if (kind >= CueKindCount)
        return;
    const int32_t span = (d[4] & 0x7F) | (d[5] & 0x7F) << 7 | (d[6] & 0x7F) << 14 | (d[7] & 0x7F) << 21;
    auto cue = std::make_unique<Cue>();
    cue->kind = kind;
    cue->label = TextFrom(d + 8, event.length - 8, CueTextLimit);
    const int32_t time = event.time;
    switch (kind) {
    case CueVamp: {
        const size_t separator = cue->label.find("||");
        if (separator != std::string::npos) {
            size_t digits = 0;
            cue->count = static_cast<int32_t>(LeadingNumber(cue->label, digits, INT32_MAX));
            cue->label.erase(0, separator + 2);
        }
        cue->stopAt = time;
        cue->restartAt = time - span;
        break;
    }
    case CueAdLib:
        cue->restartAt = time;
        cue->stopAt = time - span;
        break;
    case CueBreath:
    case CueAdvanceAndCut:
    case CueAdvance:
        cue->stopAt = time;
        cue->restartAt = time - span;
        break;
    default:
        cue->stopAt = time;
        cue->restartAt = static_cast<int32_t>(std::min<int64_t>(int64_t{time} + span, LastTick));
        break;
    }
    song.cues.push_back(std::move(cue));
}

// Number and letter of a measure label: "12A" is 12 with A, "B" is 0 with B.
void ApplyLabel(Measure& measure, const std::string& label)
{
    size_t digits = 0;
    const int64_t number = LeadingNumber(label, digits, 0xFFFF);
    if (digits > 0) {
        measure.number = static_cast<uint16_t>(number);
        measure.letter =
            digits < label.size() ? static_cast<uint8_t>(std::toupper(static_cast<unsigned char>(label[digits]))) : 0;
    } else {
        measure.number = 0;
        measure.letter = label.empty() ? 0 : static_cast<uint8_t>(std::toupper(static_cast<unsigned char>(label[0])));
    }
}

bool ParseConductor(Song& song, const ConductorOptions& options)
{
    Track& track = *song.tracks[0];
    const int32_t timebase = song.timebase;
    song.subtitle.clear();
    Measure meter; // the running meter and key: 4/4, 24, 8, C major
    song.measures.assign(1, MeasureRecord(0, timebase, meter));
    song.tempoMap.entries.assign(1, TempoChange{0, options.tempo, 0.0});
    track.name.clear();
    track.events.clear();
    track.events.reserve(CountStoredEvents(track));
    track.end = 0;

    std::vector<std::string> labels;
    bool titleSeen = false;
    bool authorSeen = false;
    OpenNotes open(track.events.capacity());
    StartReadingImage(track.image, track.reading);
    RawEvent event;
    const uint8_t* image = track.image.data();
    const size_t imageSize = track.image.size();
    while (NextRaw(image, imageSize, track.reading, event)) {
        track.end = std::max(track.end, event.time);
        const uint8_t type = event.status & 0xF0;
        if (event.status == 0xF0) {
            track.events.push_back(SongEvent::Sysex(event.time, event.data, event.length));
            continue;
        }
        if (type == 0x90 && event.data2 > 0) {
            open.Open(event.status & 0x0F, event.data1, static_cast<int32_t>(track.events.size()));
            track.events.push_back(SongEvent::Short(event.time, event.status, event.data1, event.data2));
            continue;
        }
        if (type == 0x80 || type == 0x90) {
            CloseNote(track.events, open, event.status & 0x0F, event.data1, event.time);
            continue;
        }
        if (event.status != 0xFF) {
            track.events.push_back(SongEvent::Short(event.time, event.status, event.data1, event.data2));
            continue;
        }

        const uint8_t* d = event.data;
        const uint32_t length = event.length;
        switch (event.data1) {
        case 0x01: {
            std::string text = TextFrom(d, length, TextLimit);
            if (!authorSeen)
                song.author = std::move(text);
            else
                song.memo += text;
            authorSeen = true;
            break;
        }
        case 0x02:
            song.copyright = TextFrom(d, length, TextLimit);
            break;
        case 0x03:
            if (!titleSeen)
                song.title = TextFrom(d, length, TextLimit);
            else
                song.subtitle = TextFrom(d, length, TextLimit);
            titleSeen = true;
            break;
        case 0x06: {
            auto cue = std::make_unique<Cue>();
            cue->kind = CueMarker;
            cue->label = TextFrom(d, length, CueTextLimit);
            cue->stopAt = cue->restartAt = event.time;
            song.cues.push_back(std::move(cue));
            break;
        }
        case 0x51: {
            if (length < 3 || options.fixedTempo)
                break;
            const uint32_t tempo = uint32_t{d[0]} << 16 | uint32_t{d[1]} << 8 | d[2];
            // A tempo of 0 would stop every conversion; no writer means it.
            if (tempo == 0)
                break;
            TempoChange& last = song.tempoMap.entries.back();
            if (last.tick == event.time)
                last.microsecondsPerQuarter = tempo;
            else if (last.microsecondsPerQuarter != tempo)
                song.tempoMap.entries.push_back(TempoChange{event.time, tempo, 0.0});
            break;
        }
        case 0x54:
            if (length >= 5) {
                song.smpteOffset.rateCode = (d[0] >> 5) & 3;
                song.smpteOffset.hours = d[0] & 31;
                song.smpteOffset.minutes = d[1];
                song.smpteOffset.seconds = d[2];
                song.smpteOffset.frames = d[3];
                song.smpteOffset.subframes = d[4];
            }
            break;
        case 0x58: {
            if (length < 2)
                break;
            const int numerator = d[0];
            const int power = d[1] & 31;
            // A meter of no beats, or a beat too short for the timebase (or for the table's 8-bit
            // denominator), would make a measure of no length; such an event is not a meter.
            if (numerator == 0 || power > 7 || timebase * 4 / (1 << power) == 0)
                break;
            const int denominator = 1 << power;
            int clocks = length >= 3 ? d[2] : 24;
            clocks = std::min(clocks, numerator * 96 / denominator);
            if (clocks < 3)
                clocks = 2;
            meter.numerator = static_cast<uint8_t>(numerator);
            meter.denominator = static_cast<uint8_t>(denominator);
            meter.clocksPerClick = static_cast<uint8_t>(clocks);
            meter.thirtySecondsPerQuarter = length >= 4 ? d[3] : 8;
            PlaceMeasureRecord(song.measures, MeasureRecord(event.time, timebase, meter));
            break;
        }
        case 0x59: {
            if (length < 1)
                break;
            // The note names know keys from 7 flats to 7 sharps.
            meter.key = static_cast<int8_t>(std::clamp<int>(static_cast<int8_t>(d[0]), -7, 7));
            meter.mode = length >= 2 && d[1] != 0 ? 1 : 0;
            PlaceMeasureRecord(song.measures, MeasureRecord(event.time, timebase, meter));
            break;
        }
        case 0x7F:
            if (IsProgramMeta(event)) {
                if (d[2] == ProgramMeta::MeasureLabel)
                    labels.push_back(TextFrom(d + 3, length - 3, CueTextLimit));
                else if (d[2] == ProgramMeta::CueRecord)
                    AddProgramCue(song, event);
                break;
            }
            track.events.push_back(SongEvent::Meta(event.time, event.data1, d, length));
            break;
        default:
            track.events.push_back(SongEvent::Meta(event.time, event.data1, d, length));
            break;
        }
    }
    song.RecomputeTempoTimes();

    // Gaps between meter and key records are filled with copies of the record before them.
    std::vector<Measure> filled;
    filled.reserve(song.measures.size());
    for (size_t i = 0; i < song.measures.size(); ++i) {
        filled.push_back(song.measures[i]);
        if (i + 1 == song.measures.size())
            break;
        const int32_t nextStart = song.measures[i + 1].start;
        for (;;) {
            const Measure& last = filled.back();
            const int64_t end = int64_t{last.start} + last.length;
            if (end >= nextStart)
                break;
            if (filled.size() >= MaxReadMeasures)
                return false;
            Measure copy = last;
            copy.start = static_cast<int32_t>(end);
            filled.push_back(copy);
        }
    }
    song.measures = std::move(filled);

    // Label i names measure i; the table grows to hold every label.
    if (labels.size() > MaxReadMeasures)
        return false;
    while (song.measures.size() < labels.size()) {
        Measure copy = song.measures.back();
        copy.start = static_cast<int32_t>(std::min<int64_t>(int64_t{copy.start} + copy.length, LastTick));
        song.measures.push_back(copy);
    }
    for (size_t i = 0; i < song.measures.size(); ++i) {
        Measure& measure = song.measures[i];
        if (i < labels.size()) {
            ApplyLabel(measure, labels[i]);
        } else {
            measure.number = i == 0 ? 1 : static_cast<uint16_t>(song.measures[i - 1].number + 1);
            measure.letter = 0;
        }
        if (measure.thirtySecondsPerQuarter == 0)
            measure.thirtySecondsPerQuarter = 8;
        if (measure.clocksPerClick == 0)
            measure.clocksPerClick = 24;
    }
    return true;
}

// ---- User tracks ----

// What a first pass over a user track's chunk tells before its events are read.
struct TrackSurvey {
    size_t storedEvents = 0; // an upper bound of the events kept
    // The settings carry ProgramMeta 40: the track's initial values are in its marked blocks alone.
    bool marked = false;
    // For a track without the marker, the output channel the reading rules give it: the first note's,
    // else that of the last program change or controller (or of a channel prefix at tick 0), −1 when
    // nothing names one. Known before reading, so only messages on that channel fold into the track's
    // initial values, which always go out on the output channel.
    int outputChannel = -1;
};

TrackSurvey SurveyTrack(const Track& track)
{
    TrackSurvey survey;
    RawReadState state;
    StartReadingImage(track.image, state);
    RawEvent event;
    bool noteSeen = false;
    while (NextRaw(track.image.data(), track.image.size(), state, event)) {
        const uint8_t type = event.status & 0xF0;
        const bool noteOff = type == 0x80 || (type == 0x90 && event.data2 == 0);
        if (!noteOff)
            ++survey.storedEvents;
        if (type == 0x90 && !noteOff) {
            if (!noteSeen)
                survey.outputChannel = event.status & 0x0F;
            noteSeen = true;
        } else if ((type == 0xB0 || type == 0xC0) && !noteSeen) {
            survey.outputChannel = event.status & 0x0F;
        } else if (event.status == 0xFF && event.data1 == 0x20 && event.length >= 1 && event.time == 0 && !noteSeen) {
            survey.outputChannel = event.data[0] & 0x0F;
        } else if (event.time == 0 && IsProgramMeta(event) && event.data[2] == ProgramMeta::MarkedTrack) {
            survey.marked = true;
        }
    }
    return survey;
}

// The controller destination record: F0, [length,] 7F, device, 09, 01 (channel pressure) or 03
// (controller), channel, [controller,] (parameter, range) pairs, F7. Older saves wrote it without the
// length; `lengthByte` says whether one follows F0 (a standard message, one byte at these sizes).
// With `apply` the ranges set the track's destinations.
bool ReadDestinationRecord(Track& track, const uint8_t* d, uint32_t length, bool lengthByte, bool apply)
{
    const uint32_t skip = lengthByte ? 1 : 0;
    if (length < 6 + skip || d[3 + skip] != 9 || (d[4 + skip] != 1 && d[4 + skip] != 3))
        return false;
    if (lengthByte && (d[1] >= 0x80 || d[2] != 0x7F))
        return false;
    if (!apply)
        return true;
    const uint32_t end = length - 1; // the closing F7
    uint32_t at = 6 + skip;
    int group = 0;
    if (d[4 + skip] == 3) {
        group = 12;
        if (at < end)
            track.destinationController = d[at++] & 0x7F;
    }
    for (; at + 1 < end; at += 2)
        if (d[at] < 6)
            track.destinations[static_cast<size_t>(group + d[at])] = d[at + 1] & 0x7F;
    return true;
}

// The slot of an initial controller, or −1.
int InitialSlotOf(int controller)
{
    for (int slot = InitPan; slot < InitialSlotCount; ++slot)
        if (InitialSlotController[static_cast<size_t>(slot)] == controller)
            return slot;
    return -1;
}

// The slot of a registered parameter whose value a track keeps as a setting, or −1.
int ParameterSlotOf(int32_t rpn)
{
    for (int slot = 0; slot < ParameterSlotCount; ++slot)
        if (ParameterSlotRpn[static_cast<size_t>(slot)] == rpn)
            return slot;
    return -1;
}

// A 14-bit value with its high or low 7 bits replaced; an unset value (−1) starts from 0.
int32_t WithBits(int32_t value, int32_t bits, bool high)
{
    const int32_t current = value < 0 ? 0 : value;
    return high ? (current & 0x7F) | bits << 7 : (current & ~0x7F) | bits;
}

// Reads a user track. Two layouts: a track this program saved carries ProgramMeta 40 and announces each
// initial block with ProgramMeta 41 and the count of its items; the first block gives the initial values
// and every other program change, controller and parameter stays an event as written. Any other track
// (another program's, or one saved before the marking) folds its first program and controllers on its
// output channel, and registered parameters before its first note, into its initial values.
class TrackParser {
  public:
    explicit TrackParser(Track& track) : track_(track), open_(0) {}

    void Run()
    {
        Track& track = track_;
        const TrackSurvey survey = SurveyTrack(track);
        marked_ = survey.marked;
        if (!marked_ && survey.outputChannel >= 0)
            track.outputChannel = survey.outputChannel;
        track.name = "(Untitled)";
        track.end = 0;
        track.initial.fill(-1);
        track.initialParameters.fill(-1);
        track.destinations.fill(-1);
        track.destinationController = -1;
        track.events.clear();
        track.events.shrink_to_fit();
        track.events.reserve(survey.storedEvents);
        open_ = OpenNotes(track.events.capacity());
        lastValue_.fill(-1);
        bank_.fill(-1);
        StartReadingImage(track.image, track.reading);
        RawEvent event;
        const uint8_t* image = track.image.data();
        const size_t imageSize = track.image.size();
        while (NextRaw(image, imageSize, track.reading, event)) {
            UndoOffsets(event);
            track.end = std::max(track.end, event.time);
            justAfterMarker_ = markerRead_;
            markerRead_ = false;
            if (blockItemsLeft_ > 0) {
                if (event.time == blockTime_ && BlockItem(event)) {
                    --blockItemsLeft_;
                    continue;
                }
                blockItemsLeft_ = 0;
            }
            Handle(event);
        }
    }

  private:
    // The file's events carry the offsets known so far (their settings stand at time 0, before the
    // events they apply to); the song keeps the events as they were before the offsets.
    void UndoOffsets(RawEvent& event)
    {
        if (!(track_.formatVersion & OffsetsApplied))
            return;
        const uint8_t type = event.status & 0xF0;
        if (track_.keyOffset != 0 && (type == 0x80 || type == 0x90 || type == 0xA0))
            event.data1 = FoldKey(int64_t{event.data1} - track_.keyOffset);
        if (track_.velocityOffset != 0 && type == 0x90 && event.data2 != 0)
            event.data2 =
                static_cast<uint8_t>(std::clamp<int64_t>(int64_t{event.data2} - track_.velocityOffset, 1, 127));
        if (track_.timeOffset != 0)
            event.time =
                static_cast<int32_t>(std::clamp<int64_t>(int64_t{event.time} - track_.timeOffset, 0, LastTick));
    }

    void Keep(const SongEvent& event) { track_.events.push_back(event); }

    // Only the output channel's first program and controllers are the track's sound: a message for
    // another channel folded into the initial values would move to the output channel.
    bool MayFold(uint8_t channel) const { return !marked_ && !noteSeen_ && channel == track_.outputChannel; }

    void Handle(const RawEvent& event)
    {
        const uint8_t type = event.status & 0xF0;
        const uint8_t channel = event.status & 0x0F;
        switch (type) {
        case 0x90:
            if (event.data2 > 0) {
                // In a plain track the survey has already taken this channel.
                if (!noteSeen_ && marked_ && !channelNamed_)
                    track_.outputChannel = channel;
                noteSeen_ = true;
                open_.Open(channel, event.data1, static_cast<int32_t>(track_.events.size()));
                Keep(SongEvent::Short(event.time, event.status, event.data1, event.data2));
                return;
            }
            [[fallthrough]];
        case 0x80:
            CloseNote(track_.events, open_, channel, event.data1, event.time);
            return;
        case 0xA0:
        case 0xD0:
        case 0xE0:
            Keep(SongEvent::Short(event.time, event.status, event.data1, event.data2));
            return;
        case 0xC0:
            ProgramChange(event);
            return;
        case 0xB0:
            Controller(event);
            return;
        default:
            break;
        }
        if (event.status == 0xF0) {
            // A saved track writes its destination records only inside its initial blocks.
            if (marked_ || !ReadDestinationRecord(track_, event.data, event.length, false, true))
                Keep(SongEvent::Sysex(event.time, event.data, event.length));
            return;
        }
        Meta(event);
    }

    // One item of a marked initial block: false when the event is no block item (the block then ends
    // and the event is read as usual). Only the first block sets the initial values; the later ones
    // repeat them, but their selections stand for the events after them.
    bool BlockItem(const RawEvent& event)
    {
        const uint8_t type = event.status & 0xF0;
        const uint8_t channel = event.status & 0x0F;
        if (event.status == 0xF0)
            return ReadDestinationRecord(track_, event.data, event.length, true, applyBlock_) ||
                   ReadDestinationRecord(track_, event.data, event.length, false, applyBlock_);
        if (type == 0xC0) {
            if (applyBlock_)
                track_.initial[InitPatch] = event.data1;
            return true;
        }
        if (type != 0xB0)
            return false;
        const int32_t value = event.data2;
        switch (event.data1) {
        case 0:
        case ProgramMeta::InputChannel:
            bank_[channel] = WithBits(bank_[channel], value, event.data1 == 0);
            if (applyBlock_)
                track_.initial[InitBank] = WithBits(track_.initial[InitBank], value, event.data1 == 0);
            return true;
        case 101:
        case 100:
            rpn_ = WithBits(rpn_, value, event.data1 == 101);
            nrpn_ = NoParameter;
            return true;
        case 6:
        case ProgramMeta::VelocityOffset: {
            const int slot = ParameterSlotOf(rpn_);
            if (slot < 0 || nrpn_ != NoParameter)
                return false;
            if (applyBlock_) {
                int32_t& initial = track_.initialParameters[static_cast<size_t>(slot)];
                initial = WithBits(initial, value, event.data1 == 6);
            }
            return true;
        }
        default: {
            const int slot = InitialSlotOf(event.data1);
            if (slot < 0)
                return false;
            if (applyBlock_)
                track_.initial[static_cast<size_t>(slot)] = value;
            return true;
        }
        }
    }

    void ProgramChange(const RawEvent& event)
    {
        const int32_t program = event.data1;
        // The bank selected on the program's channel; −1 when none was, and then none is written back.
        const int32_t bank = bank_[event.status & 0x0F];
        SongEvent change = SongEvent::Short(event.time, event.status, event.data1);
        change.length = bank;
        if (marked_) {
            Keep(change);
            return;
        }
        // Only a program chosen before the track plays its first note is the track's sound; a later
        // first program change is a change in the music and stays an event.
        if (track_.initial[InitPatch] < 0 && MayFold(event.status & 0x0F)) {
            track_.initial[InitPatch] = program;
            track_.initial[InitBank] = bank;
        } else if (program != lastProgram_ || bank != lastBank_) {
            Keep(change);
        }
        lastProgram_ = program;
        lastBank_ = bank;
    }

    // The track's last event if it is a parameter event of the given kind and number.
    SongEvent* LastParameter(uint8_t status, int32_t number)
    {
        if (track_.events.empty())
            return nullptr;
        SongEvent& last = track_.events.back();
        return last.Status() == status && static_cast<int32_t>(last.ParameterNumber()) == number ? &last : nullptr;
    }

    void DataEntry(const RawEvent& event, bool low)
    {
        const int32_t data = event.data2;
        if (nrpn_ != NoParameter) {
            if (!low) {
                Keep(SongEvent::Parameter(event.time, false, static_cast<uint32_t>(nrpn_), data * 128));
            } else if (SongEvent* last = LastParameter(StatusNrpn, nrpn_);
                       last && last->length >= 0 && last->length <= 16383) {
                last->length = (last->length & ~0x7F) | data;
            }
            return;
        }
        if (rpn_ == NoParameter)
            return;
        const int slot = ParameterSlotOf(rpn_);
        if (slot >= 0 && !noteSeen_ && !marked_) {
            int32_t& value = track_.initialParameters[static_cast<size_t>(slot)];
            value = WithBits(value, data, !low);
            return;
        }
        if (!low) {
            Keep(SongEvent::Parameter(event.time, true, static_cast<uint32_t>(rpn_), data * 128));
        } else if (SongEvent* last = LastParameter(StatusRpn, rpn_);
                   last && last->length >= 0 && last->length <= 16383) {
            last->length = (last->length & ~0x7F) | data;
        }
    }

    void Controller(const RawEvent& event)
    {
        const int controller = event.data1;
        const int32_t value = event.data2;
        const uint8_t channel = event.status & 0x0F;
        switch (controller) {
        case 0:
        case ProgramMeta::InputChannel:
            bank_[channel] = WithBits(bank_[channel], value, controller == 0);
            return;
        case 99:
        case 98:
            nrpn_ = WithBits(nrpn_, value, controller == 99);
            rpn_ = NoParameter;
            return;
        case 101:
        case 100:
            rpn_ = WithBits(rpn_, value, controller == 101);
            nrpn_ = NoParameter;
            return;
        case 6:
            DataEntry(event, false);
            return;
        case ProgramMeta::VelocityOffset:
            DataEntry(event, true);
            return;
        case 96:
        case 97: {
            const int32_t step = controller == 96 ? ParamIncrement : ParamDecrement;
            if (nrpn_ != NoParameter)
                Keep(SongEvent::Parameter(event.time, false, static_cast<uint32_t>(nrpn_), step));
            else if (rpn_ != NoParameter)
                Keep(SongEvent::Parameter(event.time, true, static_cast<uint32_t>(rpn_), step));
            return;
        }
        default:
            break;
        }
        const int slot = marked_ ? -1 : InitialSlotOf(controller);
        if (slot >= 0) {
            int32_t& last = lastValue_[static_cast<size_t>(slot)];
            // As for programs: a value set before the first note is the track's setting.
            if (track_.initial[static_cast<size_t>(slot)] < 0 && MayFold(channel))
                track_.initial[static_cast<size_t>(slot)] = value;
            else if (value != last)
                Keep(SongEvent::Short(event.time, event.status, event.data1, event.data2));
            last = value;
            return;
        }
        Keep(SongEvent::Short(event.time, event.status, event.data1, event.data2));
    }

    void Meta(const RawEvent& event)
    {
        const uint8_t* d = event.data;
        const uint32_t length = event.length;
        switch (event.data1) {
        case 0x01:
            // A saved track always names itself with a name record, so its texts are all events.
            if (!marked_ && event.time == 0 && track_.name == "(Untitled)") {
                track_.name = TextFrom(d, length, TextLimit);
                return;
            }
            break;
        case 0x03:
            track_.name = TextFrom(d, length, TextLimit);
            return;
        case 0x07: {
            auto clip = std::make_unique<AudioClip>(TextFrom(d, length, ClipNameLimit));
            Keep(SongEvent::Clip(event.time, std::move(clip)));
            return;
        }
        case 0x20:
            // The channel prefix right after the marker is the encoder's record of the output channel;
            // any other is an event (in a plain track the survey has read it).
            if (justAfterMarker_ && length >= 1) {
                track_.outputChannel = d[0] & 0x0F;
                channelNamed_ = true;
                return;
            }
            break;
        case 0x21:
            if (event.time == 0 && length >= 1)
                track_.outputPort = std::min<int32_t>(d[0], 15);
            return;
        case 0x7F:
            if (IsProgramMeta(event) && ProgramSetting(event))
                return;
            break;
        default:
            break;
        }
        Keep(SongEvent::Meta(event.time, event.data1, d, length));
    }

    // Applies the program's own track settings; false for a record that stays an ordinary meta event.
    bool ProgramSetting(const RawEvent& event)
    {
        const uint8_t* d = event.data;
        const uint32_t length = event.length;
        const uint8_t subtype = d[2];
        if (subtype == ProgramMeta::Gap)
            return true;
        if (subtype == ProgramMeta::MarkedTrack) {
            markerRead_ = marked_;
            return true;
        }
        if (subtype == ProgramMeta::InitialBlock) {
            if (marked_ && length >= 4) {
                blockItemsLeft_ = d[3];
                blockTime_ = event.time;
                applyBlock_ = !blockSeen_;
                blockSeen_ = true;
            }
            return true;
        }
        if (subtype != ProgramMeta::NoteSpelling &&
            (subtype < ProgramMeta::FirstTrackSetting || subtype > ProgramMeta::LastTrackSetting))
            return false;
        // Records too short for their values carry nothing to apply.
        if (subtype == ProgramMeta::NoteSpelling && length != 5)
            return true;
        if (subtype == ProgramMeta::TrackColour && length != 6)
            return true;
        if (length < 4 || (subtype == ProgramMeta::TimeOffset && length < 5))
            return true;
        switch (subtype) {
        case ProgramMeta::NoteSpelling: {
            if (track_.events.empty())
                return true;
            SongEvent& last = track_.events.back();
            // The record names the key as written, with the key offset applied.
            uint8_t key = d[3];
            if ((track_.formatVersion & OffsetsApplied) && track_.keyOffset != 0 && key < 128)
                key = FoldKey(int64_t{key} - track_.keyOffset);
            if ((last.kind & 0xFFF0) == (uint32_t{key} << 8 | 0x90)) {
                const int spelling = (d[4] & 15) - 1;
                last.spelling = static_cast<int8_t>(spelling <= 4 ? spelling : -1);
                last.notation = static_cast<uint8_t>(d[4] >> 4 == 0 ? 0 : (d[4] >> 4) - 1);
            }
            return true;
        }
        case ProgramMeta::TrackKind:
            track_.kind = d[3] < 2 ? d[3] : 1;
            return true;
        case ProgramMeta::InputPort:
            track_.inputPort = std::min<int32_t>(d[3], 15);
            return true;
        case ProgramMeta::InputChannel:
            track_.inputChannel = std::min<int32_t>(d[3], 15);
            return true;
        case ProgramMeta::DefaultClef:
            track_.defaultClef = d[3];
            return true;
        case ProgramMeta::SplitKey:
            track_.splitKey = int32_t{d[3]} - 60;
            return true;
        case ProgramMeta::TrackColour: {
            uint32_t colour = uint32_t{d[3]} | uint32_t{d[4]} << 8 | uint32_t{d[5]} << 16;
            if (colour == 0x10E010)
                colour = DefaultTrackColour;
            track_.colour = colour;
            track_.DeriveTextColour();
            return true;
        }
        case ProgramMeta::KeyOffset:
            track_.keyOffset = int32_t{d[3]} - 128;
            return true;
        case ProgramMeta::TimeOffset:
            track_.timeOffset = (int32_t{d[4]} - 128) * 256 + d[3];
            return true;
        case ProgramMeta::VelocityOffset:
            track_.velocityOffset = int32_t{d[3]} - 128;
            return true;
        case ProgramMeta::PlayFlag:
            track_.play = d[3] != 0 ? 1 : 0;
            return true;
        default:
            return false;
        }
    }

    Track& track_;
    OpenNotes open_;
    bool marked_ = false;
    bool noteSeen_ = false;
    // The bank selected on each channel, −1 until a bank select is seen there.
    std::array<int32_t, 16> bank_{};
    int32_t rpn_ = NoParameter;
    int32_t nrpn_ = NoParameter;
    int32_t lastProgram_ = -1;
    int32_t lastBank_ = -1;
    std::array<int32_t, InitialSlotCount> lastValue_{};
    // Marked tracks: the marker was the event just read (`markerRead_`) or the one before this
    // (`justAfterMarker_`); the channel prefix after it named the output channel.
    bool markerRead_ = false;
    bool justAfterMarker_ = false;
    bool channelNamed_ = false;
    // The initial block being read: items still to come, its tick, whether it sets the values.
    uint32_t blockItemsLeft_ = 0;
    int32_t blockTime_ = 0;
    bool applyBlock_ = false;
    bool blockSeen_ = false;
};

// ---- Whole song ----

// Opens the track's audio clips; a clip whose file cannot be opened is reported and dropped.
void OpenAudioClips(Song& song, Track& track)
{
    Prompter& prompter = *song.Context().prompter;
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
        prompter.Show(text, PromptIcon::Warning);
        return true;
    });
}

// A format-0 song becomes a conductor track and one track per channel (track number = channel + 1),
// each then read like a track of a format-1 file.
void SplitByChannel(Song& song)
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
        TrackParser(track).Run();
    }
    char text[600];
    std::snprintf(text, sizeof text, "NOTE: If saved, %s will be converted from MIDI format 0 to 1.",
                  song.pathName.c_str());
    song.Context().prompter->Show(text, PromptIcon::Information);
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

bool ReadSongBytes(Song& song, const uint8_t* bytes, size_t size, const std::vector<uint8_t>* settings)
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
        song.Context().prompter->Show(text, PromptIcon::Error);
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
        StartReadingImage(track->image, track->reading);
        song.tracks.push_back(std::move(track));
        at += length;
    }

    if (!ParseConductor(song, options))
        return false;
    if (settings)
        ReadSongSettings(song, settings->data(), settings->size(), static_cast<int>(trackChunks));

    if (splitByChannel) {
        SplitByChannel(song);
    } else {
        for (size_t number = 1; number < song.tracks.size(); ++number) {
            Track& track = *song.tracks[number];
            TrackParser(track).Run();
            OpenAudioClips(song, track);
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
bool ReadSongGuarded(Song& song, const uint8_t* bytes, size_t size, const std::vector<uint8_t>* settings)
{
    bool usable = false;
    try {
        usable = ReadSongBytes(song, bytes, size, settings);
    } catch (const std::bad_alloc&) {
        usable = false;
    }
    if (!usable)
        song.Clear();
    return usable;
}

// The whole file, or nothing when it cannot be read.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes)
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

// The recovery question: an autosaved copy beside the song may replace it.
void OfferRecovery(Song& song, const std::string& path)
{
    std::error_code error;
    const std::string recovery = StripKnownExtension(path) + ".sav";
    if (!fs::exists(recovery, error))
        return;
    char text[600];
    std::snprintf(text, sizeof text, "AutoRecover files were found for %s--do you want to open them instead?",
                  path.c_str());
    switch (song.Context().prompter->AskOrDecline(text, PromptButtons::OkCancel, PromptIcon::Question)) {
    case PromptAnswer::Yes:
        // Renaming over the song replaces it in one step, so the song file is never lost before the
        // recovered copy stands in its place.
        fs::rename(recovery, path, error);
        if (!error)
            fs::remove(SongSettingsPath(path), error);
        break;
    case PromptAnswer::No:
        fs::remove(recovery, error);
        break;
    case PromptAnswer::NotAsked:
        break;
    }
}

} // namespace

int ReadVarLen(Track& track, uint32_t& value)
{
    return ReadVarLenAt(track.image.data(), track.image.size(), track.reading.cursor, value);
}

void StartReading(Track& track)
{
    StartReadingImage(track.image, track.reading);
}

bool NextRawEvent(Track& track, RawEvent& event)
{
    return NextRaw(track.image.data(), track.image.size(), track.reading, event);
}

bool ParseConductorTrack(Song& song)
{
    if (song.tracks.empty())
        return false;
    return ParseConductor(song, ConductorOptions{});
}

void ParseTrack(Song&, Track& track)
{
    TrackParser(track).Run();
}

bool ReadSong(Song& song, const std::string& path)
{
    OfferRecovery(song, path);
    song.Clear();
    song.SetPathName(path);
    std::error_code error;
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> settings;
    bool haveSettings = false;
    try {
        if (!fs::is_regular_file(path, error) || !ReadWholeFile(path, bytes)) {
            song.Clear();
            return false;
        }
        // A settings file that cannot be read is ignored.
        const std::string settingsPath = SongSettingsPath(path);
        haveSettings =
            fs::is_regular_file(settingsPath, error) && ReadWholeFile(settingsPath, settings) && !settings.empty();
    } catch (const std::bad_alloc&) {
        song.Clear();
        return false;
    }
    return ReadSongGuarded(song, bytes.data(), bytes.size(), haveSettings ? &settings : nullptr);
}

bool ReadSongFromBytes(Song& song, const uint8_t* bytes, size_t size, const uint8_t* settings, size_t settingsSize)
{
    song.Clear();
    std::vector<uint8_t> settingsBytes;
    if (settings)
        settingsBytes.assign(settings, settings + settingsSize);
    return ReadSongGuarded(song, bytes, size, settings ? &settingsBytes : nullptr);
}

} // namespace cantivo
