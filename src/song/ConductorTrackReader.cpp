#include "song/ConductorTrackReader.h"

#include "song/OpenNotes.h"
#include "song/ProgramMeta.h"
#include "song/RawEventReader.h"
#include "song/Song.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace cantivo {

namespace {

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

// An upper bound of the events a chunk stores (every decoded event but the note-offs), so the event
// array is allocated once.
size_t CountStoredEvents(const Track& track)
{
    const RawEventReader reader(track.image);
    RawReadState state;
    reader.Start(state);
    RawEvent event;
    size_t count = 0;
    while (reader.Next(state, event)) {
        const uint8_t type = event.status & 0xF0;
        if (type != 0x80 && !(type == 0x90 && event.data2 == 0))
            ++count;
    }
    return count;
}

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

} // namespace

bool ParseConductorTrack(Song& song, const ConductorOptions& options)
{
    if (song.tracks.empty())
        return false;
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
    const RawEventReader reader(track.image);
    RawReadState cursor;
    reader.Start(cursor);
    RawEvent event;
    while (reader.Next(cursor, event)) {
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
            open.CloseInto(track.events, event.status & 0x0F, event.data1, event.time);
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

} // namespace cantivo
