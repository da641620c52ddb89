#pragma once

// What a saved song must keep: the first difference between two songs as text, empty when they hold
// the same music and settings. Header-only so the fuzz targets can use it too.

#include "song/AudioClip.h"
#include "song/Song.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace cantivo::test {

namespace detail {

template <typename T> bool Differ(std::ostringstream& out, const char* what, const T& a, const T& b)
{
    if (a == b)
        return false;
    out << what << ": " << a << " != " << b;
    return true;
}

inline std::string EventText(const SongEvent& event)
{
    std::ostringstream out;
    out << "t=" << event.time << " kind=0x" << std::hex << event.kind << std::dec << " len=" << event.length;
    if (event.Data()) {
        out << " data=";
        for (size_t i = 0; i < event.DataSize() && i < 24; ++i)
            out << std::hex << int{event.Data()[i]} << ' ' << std::dec;
    }
    return out.str();
}

inline bool SameEvent(const SongEvent& a, const SongEvent& b)
{
    if (a.kind != b.kind || a.time != b.time || a.length != b.length || a.notation != b.notation ||
        a.spelling != b.spelling)
        return false;
    if (a.IsAudioClip())
        return a.ClipData() && b.ClipData() && a.ClipData()->fileName == b.ClipData()->fileName;
    return a.DataSize() == b.DataSize() && (a.DataSize() == 0 || std::memcmp(a.Data(), b.Data(), a.DataSize()) == 0);
}

// Track 0's settings are not saved, so only its events count (`eventsOnly`).
inline std::string TrackDifference(const Track& a, const Track& b, bool eventsOnly)
{
    std::ostringstream out;
    if (eventsOnly)
        ;
    else if (Differ(out, "name", a.name, b.name) || Differ(out, "kind", a.kind, b.kind) ||
             Differ(out, "play", a.play, b.play) || Differ(out, "output port", a.outputPort, b.outputPort) ||
             Differ(out, "output channel", a.outputChannel, b.outputChannel) ||
             Differ(out, "input port", a.inputPort, b.inputPort) ||
             Differ(out, "input channel", a.inputChannel, b.inputChannel) ||
             Differ(out, "key offset", a.keyOffset, b.keyOffset) ||
             Differ(out, "time offset", a.timeOffset, b.timeOffset) ||
             Differ(out, "velocity offset", a.velocityOffset, b.velocityOffset) ||
             Differ(out, "destination controller", a.destinationController, b.destinationController) ||
             Differ(out, "clef", a.defaultClef, b.defaultClef) || Differ(out, "split key", a.splitKey, b.splitKey) ||
             Differ(out, "colour", a.colour, b.colour))
        return out.str();
    for (size_t i = 0; i < a.initial.size() && !eventsOnly; ++i)
        if (Differ(out, ("initial value " + std::to_string(i)).c_str(), a.initial[i], b.initial[i]))
            return out.str();
    for (size_t i = 0; i < a.initialParameters.size() && !eventsOnly; ++i)
        if (Differ(out, ("initial parameter " + std::to_string(i)).c_str(), a.initialParameters[i],
                   b.initialParameters[i]))
            return out.str();
    for (size_t i = 0; i < a.destinations.size() && !eventsOnly; ++i)
        if (Differ(out, ("destination " + std::to_string(i)).c_str(), a.destinations[i], b.destinations[i]))
            return out.str();
    if (Differ(out, "event count", a.events.size(), b.events.size())) {
        const size_t common = std::min(a.events.size(), b.events.size());
        size_t i = 0;
        while (i < common && SameEvent(a.events[i], b.events[i]))
            ++i;
        if (i < common)
            out << "; first difference at event " << i << ": " << EventText(a.events[i]) << " vs "
                << EventText(b.events[i]);
        return out.str();
    }
    for (size_t i = 0; i < a.events.size(); ++i)
        if (!SameEvent(a.events[i], b.events[i]))
            return "event " + std::to_string(i) + ": " + EventText(a.events[i]) + " vs " + EventText(b.events[i]);
    return {};
}

} // namespace detail

// What a comparison covers: the whole song, or what track 0 carries besides its events (texts, SMPTE
// offset, tempo map, measures with their labels, cues).
enum class CompareScope { Everything, Conductor };

inline std::string SongDifference(const Song& a, const Song& b, CompareScope scope = CompareScope::Everything)
{
    const bool everything = scope == CompareScope::Everything;
    using detail::Differ;
    std::ostringstream out;
    if (Differ(out, "timebase", a.timebase, b.timebase) || Differ(out, "title", a.title, b.title) ||
        Differ(out, "subtitle", a.subtitle, b.subtitle) || Differ(out, "author", a.author, b.author) ||
        Differ(out, "copyright", a.copyright, b.copyright) || Differ(out, "memo", a.memo, b.memo) ||
        Differ(out, "SMPTE hours", a.smpteOffset.hours, b.smpteOffset.hours) ||
        Differ(out, "SMPTE minutes", a.smpteOffset.minutes, b.smpteOffset.minutes) ||
        Differ(out, "SMPTE seconds", a.smpteOffset.seconds, b.smpteOffset.seconds) ||
        Differ(out, "SMPTE frames", a.smpteOffset.frames, b.smpteOffset.frames) ||
        Differ(out, "SMPTE subframes", a.smpteOffset.subframes, b.smpteOffset.subframes) ||
        Differ(out, "SMPTE rate", a.smpteOffset.rateCode, b.smpteOffset.rateCode) ||
        (everything && Differ(out, "song end", a.songEnd, b.songEnd)) ||
        Differ(out, "tempo count", a.tempoMap.entries.size(), b.tempoMap.entries.size()) ||
        Differ(out, "measure count", a.measures.size(), b.measures.size()) ||
        Differ(out, "cue count", a.cues.size(), b.cues.size()) ||
        (everything && Differ(out, "track count", a.tracks.size(), b.tracks.size())))
        return out.str();
    for (size_t i = 0; i < a.tempoMap.entries.size(); ++i) {
        const auto& x = a.tempoMap.entries[i];
        const auto& y = b.tempoMap.entries[i];
        const std::string at = "tempo " + std::to_string(i);
        if (Differ(out, (at + " tick").c_str(), x.tick, y.tick) ||
            Differ(out, (at + " value").c_str(), x.microsecondsPerQuarter, y.microsecondsPerQuarter))
            return out.str();
    }
    for (size_t i = 0; i < a.measures.size(); ++i) {
        const Measure& x = a.measures[i];
        const Measure& y = b.measures[i];
        const std::string at = "measure " + std::to_string(i + 1);
        if (Differ(out, (at + " start").c_str(), x.start, y.start) ||
            Differ(out, (at + " length").c_str(), x.length, y.length) ||
            Differ(out, (at + " number").c_str(), int{x.number}, int{y.number}) ||
            Differ(out, (at + " letter").c_str(), int{x.letter}, int{y.letter}) ||
            Differ(out, (at + " key").c_str(), int{x.key}, int{y.key}) ||
            Differ(out, (at + " mode").c_str(), int{x.mode}, int{y.mode}) ||
            Differ(out, (at + " numerator").c_str(), int{x.numerator}, int{y.numerator}) ||
            Differ(out, (at + " denominator").c_str(), int{x.denominator}, int{y.denominator}) ||
            Differ(out, (at + " clocks").c_str(), int{x.clocksPerClick}, int{y.clocksPerClick}) ||
            Differ(out, (at + " 32nds").c_str(), int{x.thirtySecondsPerQuarter}, int{y.thirtySecondsPerQuarter}))
            return out.str();
    }
    for (size_t i = 0; i < a.cues.size(); ++i) {
        const Cue& x = *a.cues[i];
        const Cue& y = *b.cues[i];
        const std::string at = "cue " + std::to_string(i);
        if (Differ(out, (at + " label").c_str(), x.label, y.label) ||
            Differ(out, (at + " kind").c_str(), x.kind, y.kind) ||
            Differ(out, (at + " count").c_str(), x.count, y.count) ||
            Differ(out, (at + " stop-at").c_str(), x.stopAt, y.stopAt) ||
            Differ(out, (at + " restart-at").c_str(), x.restartAt, y.restartAt))
            return out.str();
    }
    for (size_t i = 0; everything && i < a.tracks.size(); ++i) {
        const std::string difference = detail::TrackDifference(*a.tracks[i], *b.tracks[i], i == 0);
        if (!difference.empty())
            return "track " + std::to_string(i) + ": " + difference;
    }
    return {};
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
