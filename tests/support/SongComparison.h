#pragma once

// Songs described as text to compare: what a saved song must keep, or a song's whole state before and
// after an edit. Header-only so the fuzz targets can use it too.

#include "song/AudioClip.h"
#include "song/Song.h"

#include <algorithm>
#include <iomanip>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cantivo::test {

// What a description covers. `Conductor`: what track 0 carries besides its events (texts, SMPTE
// offset, tempo map, measures with their labels, cues). `Saved`: everything a saved song must keep, so
// what a file round trip compares. `State`: every field, derived ones too (images, re-send times,
// snapshots, times from the start), with the measures left to the caller: an undo compares them apart.
// Selection marks are never described: whatever an undo puts back comes back selected, by design.
enum class Described { Conductor, Saved, State };

namespace detail {

template <typename Range> std::string Join(const Range& values)
{
    std::ostringstream out;
    for (const auto& value : values)
        out << +value << ',';
    return out.str();
}

inline void DescribeMeasures(const Song& song, std::vector<std::string>& lines)
{
    for (size_t i = 0; i < song.measures.size(); ++i) {
        const Measure& m = song.measures[i];
        std::ostringstream out;
        out << "measure " << i + 1 << " start=" << m.start << " length=" << m.length << " number=" << m.number
            << " letter=" << +m.letter << " key=" << +m.key << " mode=" << +m.mode << " meter=" << +m.numerator << '/'
            << +m.denominator << " clocks=" << +m.clocksPerClick << " 32nds=" << +m.thirtySecondsPerQuarter;
        lines.push_back(out.str());
    }
}

inline std::string TrackLine(const Track& t, size_t number, Described what)
{
    std::ostringstream out;
    out << "track " << number;
    // Track 0's settings are not saved, so only its events count.
    if (number == 0 && what == Described::Saved)
        return out.str();
    out << " kind=" << t.kind << " name=" << t.name << " play=" << t.play << " out=" << t.outputPort << '/'
        << t.outputChannel << " in=" << t.inputPort << '/' << t.inputChannel << " initial=" << Join(t.initial)
        << " offsets=" << t.keyOffset << '/' << t.timeOffset << '/' << t.velocityOffset
        << " parameters=" << Join(t.initialParameters) << " destinations=" << Join(t.destinations) << '/'
        << t.destinationController << " clef=" << t.defaultClef << '/' << t.splitKey << " colour=" << t.colour;
    if (what == Described::State)
        out << " version=" << t.formatVersion << " end=" << t.end << " saved play=" << t.savedPlay
            << " text colour=" << t.textColour << " port=" << t.outputPortName << " image=" << t.image.size() << '#'
            << std::hash<std::string_view>{}({reinterpret_cast<const char*>(t.image.data()), t.image.size()})
            << " clip=" << +t.clipFlags << " resend=" << Join(t.reSendTimes)
            << " snapshots=" << t.snapshots.blocks.size() << '/' << t.snapshots.Entries() << '/' << t.snapshots.reach;
    return out.str();
}

inline std::string EventLine(const SongEvent& e, Described what)
{
    std::ostringstream out;
    out << "  event " << e.time << " kind=" << std::hex << e.kind << std::dec << " length=" << e.length
        << " notation=" << +e.notation << " spelling=" << +e.spelling
        << " data=" << Join(std::basic_string_view<uint8_t>(e.Data(), e.Data() ? e.DataSize() : 0));
    if (what == Described::State)
        out << " reserved=" << e.reserved;
    if (const AudioClip* clip = e.ClipData()) {
        out << " clip=" << clip->fileName;
        if (what == Described::State)
            out << '/' << clip->lengthMs << '/' << clip->rewrite << '/' << clip->format.samplesPerSecond;
    }
    return out.str();
}

} // namespace detail

// A song as lines of text, one record a line, so two songs compare line by line and the first
// difference reads as what a user would notice.
inline std::vector<std::string> DescribeSong(const Song& song, Described what)
{
    std::vector<std::string> lines;
    std::ostringstream out;
    out << std::setprecision(17);
    const auto line = [&] {
        lines.push_back(out.str());
        out.str("");
    };
    const Song::SmpteOffset& smpte = song.smpteOffset;
    out << "song timebase=" << song.timebase << " title=" << song.title << " subtitle=" << song.subtitle
        << " author=" << song.author << " copyright=" << song.copyright << " memo=" << song.memo
        << " smpte=" << smpte.hours << ':' << smpte.minutes << ':' << smpte.seconds << ':' << smpte.frames << ':'
        << smpte.subframes << '/' << smpte.rateCode;
    if (what == Described::State)
        out << " format=" << song.fileFormat << " class=" << song.resolutionClass << " loaded=" << song.loaded
            << " folder=" << song.folder << " path=" << song.pathName << " solo=" << song.soloActive
            << " autosave=" << song.autosaveFlag;
    line();
    if (what != Described::Conductor) {
        out << "end " << song.songEnd;
        if (what == Described::State)
            out << " length=" << song.songLength << " tableEnd=" << song.measureTableEnd;
        line();
    }
    for (const TempoChange& tempo : song.tempoMap.entries) {
        out << "tempo " << tempo.tick << ' ' << tempo.microsecondsPerQuarter;
        if (what == Described::State)
            out << " at " << tempo.absolute;
        line();
    }
    if (what != Described::State)
        detail::DescribeMeasures(song, lines);
    for (const auto& cue : song.cues) {
        out << "cue " << cue->kind << ' ' << cue->label << " count=" << cue->count << " stop=" << cue->stopAt
            << " restart=" << cue->restartAt;
        line();
    }
    if (what == Described::Conductor)
        return lines;
    for (size_t n = 0; n < song.tracks.size(); ++n) {
        lines.push_back(detail::TrackLine(*song.tracks[n], n, what));
        for (const SongEvent& e : song.tracks[n]->events)
            lines.push_back(detail::EventLine(e, what));
    }
    return lines;
}

// Empty when the two descriptions are the same; otherwise the first line that differs on each side.
inline std::string FirstDifference(const std::vector<std::string>& a, const std::vector<std::string>& b)
{
    const auto [left, right] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    if (left == a.end() && right == b.end())
        return {};
    return (left != a.end() ? *left : "(nothing)") + "\n != " + (right != b.end() ? *right : "(nothing)") + "\n";
}

// What a comparison of saved songs covers: the whole song, or only what track 0 carries besides its events.
enum class CompareScope { Everything, Conductor };

// The first difference between two songs as text, empty when they hold the same music and settings.
inline std::string SongDifference(const Song& a, const Song& b, CompareScope scope = CompareScope::Everything)
{
    const Described what = scope == CompareScope::Everything ? Described::Saved : Described::Conductor;
    return FirstDifference(DescribeSong(a, what), DescribeSong(b, what));
}

// True when some note starts and ends while an earlier note of its key and channel in the same track is
// still sounding. A file pairs each note-off with the oldest open note of its key, so such notes read
// back paired differently: the one loss a save cannot avoid.
inline bool HasNestedNotesOfOneKey(const Song& song)
{
    for (const auto& track : song.tracks) {
        std::map<std::pair<int, int>, int64_t> latestEnd; // (channel, key) -> latest end so far
        for (const SongEvent& event : track->events) {
            if (!event.IsNote())
                continue;
            const int64_t end = int64_t{event.time} + std::max(event.length, 0);
            auto [slot, added] = latestEnd.try_emplace({event.Channel(), event.Data1()}, end);
            if (added)
                continue;
            if (slot->second > event.time && slot->second > end)
                return true;
            slot->second = std::max(slot->second, end);
        }
    }
    return false;
}

// Pairs every track's note starts and ends of one channel and key oldest first, as reading a file does:
// the k-th note gets the k-th end. A song without nested notes of one key stays as it is.
inline void PairNotesOldestFirst(Song& song)
{
    for (const auto& track : song.tracks) {
        std::map<std::pair<int, int>, std::vector<size_t>> notes;
        for (size_t i = 0; i < track->events.size(); ++i)
            if (track->events[i].IsNote())
                notes[{track->events[i].Channel(), track->events[i].Data1()}].push_back(i);
        for (const auto& [slot, indexes] : notes) {
            std::vector<int64_t> ends;
            for (size_t index : indexes)
                ends.push_back(int64_t{track->events[index].time} + std::max(track->events[index].length, 0));
            std::stable_sort(ends.begin(), ends.end());
            for (size_t k = 0; k < indexes.size(); ++k) {
                SongEvent& note = track->events[indexes[k]];
                note.length = static_cast<int32_t>(ends[k] - note.time);
            }
        }
    }
}

} // namespace cantivo::test
