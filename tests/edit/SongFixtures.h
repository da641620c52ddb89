#pragma once

// Test helpers for the undo layer: a deep copy of a song's state with a field-by-field comparison,
// random songs and random steps of every kind, and a transport the tests steer.

#include "edit/MeasureSnapshot.h"
#include "edit/Transport.h"
#include "edit/UndoHistory.h"
#include "edit/UndoStep.h"
#include "song/AudioClip.h"
#include "song/Song.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace cantivo::test {

class FakeTransport final : public Transport {
  public:
    bool IsStopped() const override { return stopped; }
    void Relocate(int32_t tick) override { relocations.push_back(tick); }

    bool stopped = true;
    std::vector<int32_t> relocations;
};

// A full copy of what a song holds, taken to compare before and after.
struct SongState {
    uint16_t timebase = 0;
    uint16_t fileFormat = 0;
    int32_t resolutionClass = 0;
    bool loaded = false;
    int32_t songEnd = 0;
    int32_t measureTableEnd = 0;
    double songLength = 0;
    std::vector<Measure> measures;
    std::vector<TempoChange> tempos;
    std::vector<Cue> cues;
    std::vector<Track> tracks;
    std::string title, subtitle, author, copyright, memo, folder, pathName;
    bool soloActive = false;
    bool autosaveFlag = false;
    Song::SmpteOffset smpte;
};

inline SongState Capture(const Song& song)
{
    SongState state;
    state.timebase = song.timebase;
    state.fileFormat = song.fileFormat;
    state.resolutionClass = song.resolutionClass;
    state.loaded = song.loaded;
    state.songEnd = song.songEnd;
    state.measureTableEnd = song.measureTableEnd;
    state.songLength = song.songLength;
    state.measures = song.measures;
    state.tempos = song.tempoMap.entries;
    for (const auto& cue : song.cues)
        state.cues.push_back(*cue);
    for (const auto& track : song.tracks)
        state.tracks.push_back(*track);
    state.title = song.title;
    state.subtitle = song.subtitle;
    state.author = song.author;
    state.copyright = song.copyright;
    state.memo = song.memo;
    state.folder = song.folder;
    state.pathName = song.pathName;
    state.soloActive = song.soloActive;
    state.autosaveFlag = song.autosaveFlag;
    state.smpte = song.smpteOffset;
    return state;
}

struct CompareOptions {
    // Undo leaves in place the measures that extending the song appended, and the song end that an
    // inserted tempo pushed out is not part of the restored state (see the report in UndoPropertyTest).
    bool allowAppendedMeasures = false;
    bool songEndFields = true;
};

class Differences {
  public:
    template <typename T> void Check(const std::string& what, const T& a, const T& b)
    {
        if (!(a == b) && lines_.size() < 20) {
            std::ostringstream line;
            line << what << ": " << Show(a) << " != " << Show(b);
            lines_.push_back(line.str());
        }
    }
    void Note(const std::string& text)
    {
        if (lines_.size() < 20)
            lines_.push_back(text);
    }
    std::string Text() const
    {
        std::string text;
        for (const auto& line : lines_)
            text += line + "\n";
        return text;
    }

  private:
    template <typename T> static std::string Show(const T& value)
    {
        if constexpr (requires(std::ostream & out) { out << value; }) {
            std::ostringstream out;
            if constexpr (std::is_same_v<T, uint8_t> || std::is_same_v<T, int8_t>)
                out << int{value};
            else
                out << value;
            return out.str();
        } else {
            return "(value)";
        }
    }
    std::vector<std::string> lines_;
};

inline void CompareEvent(Differences& d, const std::string& at, const SongEvent& a, const SongEvent& b)
{
    d.Check(at + " kind", a.kind, b.kind);
    d.Check(at + " time", a.time, b.time);
    d.Check(at + " length", a.length, b.length);
    d.Check(at + " reserved", a.reserved, b.reserved);
    d.Check(at + " notation", a.notation, b.notation);
    d.Check(at + " spelling", a.spelling, b.spelling);
    // Selection marks are left out: whatever an undo or redo puts back comes back selected, by design.
    d.Check(at + " data size", a.DataSize(), b.DataSize());
    if (a.DataSize() == b.DataSize() && a.DataSize() > 0 && std::memcmp(a.Data(), b.Data(), a.DataSize()) != 0)
        d.Note(at + " data bytes differ");
    const AudioClip* ca = a.ClipData();
    const AudioClip* cb = b.ClipData();
    d.Check(at + " has clip", ca != nullptr, cb != nullptr);
    if (ca && cb) {
        d.Check(at + " clip file", ca->fileName, cb->fileName);
        d.Check(at + " clip length", ca->lengthMs, cb->lengthMs);
        d.Check(at + " clip rewrite", ca->rewrite, cb->rewrite);
        d.Check(at + " clip rate", ca->format.samplesPerSecond, cb->format.samplesPerSecond);
    }
}

inline void CompareTrack(Differences& d, const std::string& at, const Track& a, const Track& b)
{
    d.Check(at + " formatVersion", a.formatVersion, b.formatVersion);
    d.Check(at + " kind", a.kind, b.kind);
    d.Check(at + " name", a.name, b.name);
    d.Check(at + " end", a.end, b.end);
    d.Check(at + " play", a.play, b.play);
    d.Check(at + " savedPlay", a.savedPlay, b.savedPlay);
    d.Check(at + " outputPort", a.outputPort, b.outputPort);
    d.Check(at + " outputChannel", a.outputChannel, b.outputChannel);
    d.Check(at + " inputPort", a.inputPort, b.inputPort);
    d.Check(at + " inputChannel", a.inputChannel, b.inputChannel);
    d.Check(at + " initial", a.initial == b.initial, true);
    d.Check(at + " keyOffset", a.keyOffset, b.keyOffset);
    d.Check(at + " timeOffset", a.timeOffset, b.timeOffset);
    d.Check(at + " velocityOffset", a.velocityOffset, b.velocityOffset);
    d.Check(at + " initialParameters", a.initialParameters == b.initialParameters, true);
    d.Check(at + " destinations", a.destinations == b.destinations, true);
    d.Check(at + " destinationController", a.destinationController, b.destinationController);
    d.Check(at + " defaultClef", a.defaultClef, b.defaultClef);
    d.Check(at + " splitKey", a.splitKey, b.splitKey);
    d.Check(at + " colour", a.colour, b.colour);
    d.Check(at + " textColour", a.textColour, b.textColour);
    d.Check(at + " outputPortName", a.outputPortName, b.outputPortName);
    d.Check(at + " image", a.image == b.image, true);
    d.Check(at + " clipFlags", a.clipFlags, b.clipFlags);
    d.Check(at + " reSendTimes", a.reSendTimes == b.reSendTimes, true);
    d.Check(at + " snapshots", a.snapshots.size(), b.snapshots.size());
    d.Check(at + " event count", a.events.size(), b.events.size());
    for (size_t i = 0; i < std::min(a.events.size(), b.events.size()); ++i)
        CompareEvent(d, at + " event " + std::to_string(i), a.events[i], b.events[i]);
}

// Empty when the two states are the same; otherwise the first differences, one a line.
inline std::string Difference(const SongState& a, const SongState& b, CompareOptions options = {})
{
    Differences d;
    d.Check("timebase", a.timebase, b.timebase);
    d.Check("fileFormat", a.fileFormat, b.fileFormat);
    d.Check("resolutionClass", a.resolutionClass, b.resolutionClass);
    d.Check("loaded", a.loaded, b.loaded);
    if (options.songEndFields) {
        d.Check("songEnd", a.songEnd, b.songEnd);
        d.Check("songLength", a.songLength, b.songLength);
        d.Check("measureTableEnd", a.measureTableEnd, b.measureTableEnd);
    }
    const size_t common = std::min(a.measures.size(), b.measures.size());
    if (options.allowAppendedMeasures) {
        // b may continue a's table with copies of its last measure, each one further on.
        if (b.measures.size() < a.measures.size())
            d.Note("measures lost: " + std::to_string(a.measures.size()) + " -> " + std::to_string(b.measures.size()));
        for (size_t i = common; i < b.measures.size(); ++i) {
            Measure expected = b.measures[i - 1];
            expected.start = expected.End();
            expected.number = static_cast<uint16_t>(expected.number + 1);
            expected.letter = 0;
            if (i == 0 || !SameMeasure(expected, b.measures[i]))
                d.Note("appended measure " + std::to_string(i) + " does not continue the table");
        }
    } else {
        d.Check("measure count", a.measures.size(), b.measures.size());
    }
    for (size_t i = 0; i < common; ++i)
        if (!SameMeasure(a.measures[i], b.measures[i]))
            d.Note("measure " + std::to_string(i) + " differs");
    d.Check("tempo count", a.tempos.size(), b.tempos.size());
    for (size_t i = 0; i < std::min(a.tempos.size(), b.tempos.size()); ++i) {
        d.Check("tempo " + std::to_string(i) + " tick", a.tempos[i].tick, b.tempos[i].tick);
        d.Check("tempo " + std::to_string(i) + " value", a.tempos[i].microsecondsPerQuarter,
                b.tempos[i].microsecondsPerQuarter);
        d.Check("tempo " + std::to_string(i) + " absolute", a.tempos[i].absolute, b.tempos[i].absolute);
    }
    d.Check("cue count", a.cues.size(), b.cues.size());
    for (size_t i = 0; i < std::min(a.cues.size(), b.cues.size()); ++i) {
        const std::string at = "cue " + std::to_string(i);
        d.Check(at + " label", a.cues[i].label, b.cues[i].label);
        d.Check(at + " kind", a.cues[i].kind, b.cues[i].kind);
        d.Check(at + " count", a.cues[i].count, b.cues[i].count);
        d.Check(at + " stopAt", a.cues[i].stopAt, b.cues[i].stopAt);
        d.Check(at + " restartAt", a.cues[i].restartAt, b.cues[i].restartAt);
    }
    d.Check("track count", a.tracks.size(), b.tracks.size());
    for (size_t i = 0; i < std::min(a.tracks.size(), b.tracks.size()); ++i)
        CompareTrack(d, "track " + std::to_string(i), a.tracks[i], b.tracks[i]);
    d.Check("title", a.title, b.title);
    d.Check("subtitle", a.subtitle, b.subtitle);
    d.Check("author", a.author, b.author);
    d.Check("copyright", a.copyright, b.copyright);
    d.Check("memo", a.memo, b.memo);
    d.Check("folder", a.folder, b.folder);
    d.Check("pathName", a.pathName, b.pathName);
    d.Check("soloActive", a.soloActive, b.soloActive);
    d.Check("autosaveFlag", a.autosaveFlag, b.autosaveFlag);
    d.Check("smpte hours", a.smpte.hours, b.smpte.hours);
    d.Check("smpte frames", a.smpte.frames, b.smpte.frames);
    d.Check("smpte rate", a.smpte.rateCode, b.smpte.rateCode);
    return d.Text();
}

// ---- random material ----

class Random {
  public:
    explicit Random(uint32_t seed) : engine_(seed) {}
    int Int(int low, int high) { return std::uniform_int_distribution<int>(low, high)(engine_); }
    bool Chance(int percent) { return Int(0, 99) < percent; }
    std::string Text(int maxLength)
    {
        std::string text(static_cast<size_t>(Int(0, maxLength)), ' ');
        for (char& c : text)
            c = static_cast<char>(Int('a', 'z'));
        return text;
    }
    std::mt19937& Engine() { return engine_; }

  private:
    std::mt19937 engine_;
};

inline SongEvent RandomMidiEvent(Random& r, int32_t time, int channel)
{
    const auto ch = static_cast<uint8_t>(r.Chance(85) ? channel : r.Int(0, 15));
    const auto d1 = static_cast<uint8_t>(r.Int(0, 127));
    const auto d2 = static_cast<uint8_t>(r.Int(0, 127));
    SongEvent event;
    switch (r.Int(0, 9)) {
    case 0:
    case 1:
    case 2:
        event = SongEvent::Note(time, ch, static_cast<uint8_t>(r.Int(20, 100)), static_cast<uint8_t>(r.Int(1, 127)),
                                r.Int(1, 480));
        event.spelling = static_cast<int8_t>(r.Int(-1, 4));
        event.notation = static_cast<uint8_t>(r.Int(0, 3));
        break;
    case 3:
        event = SongEvent::Short(time, static_cast<uint8_t>(0xB0 | ch), d1, d2);
        break;
    case 4:
        event = SongEvent::Short(time, static_cast<uint8_t>(0xC0 | ch), d1);
        event.length = r.Int(0, 16383);
        break;
    case 5:
        event = SongEvent::Short(time, static_cast<uint8_t>(0xE0 | ch), d1, d2);
        break;
    case 6:
        event = SongEvent::Short(time, static_cast<uint8_t>(0xA0 | ch), d1, d2);
        break;
    case 7:
        event = SongEvent::Short(time, static_cast<uint8_t>(0xD0 | ch), d1);
        break;
    case 8: {
        std::vector<uint8_t> bytes{0xF0};
        for (int i = r.Int(1, 12); i > 0; --i)
            bytes.push_back(static_cast<uint8_t>(r.Int(0, 127)));
        bytes.push_back(0xF7);
        event = SongEvent::Sysex(time, bytes.data(), bytes.size());
        break;
    }
    default:
        event = SongEvent::Parameter(time, r.Chance(50), static_cast<uint32_t>(r.Int(0, 16383)), r.Int(0, 16383));
        break;
    }
    event.reserved = static_cast<uint32_t>(r.Int(0, 3));
    event.selectionMark = static_cast<uint32_t>(r.Int(0, 5));
    return event;
}

inline SongEvent RandomMetaEvent(Random& r, int32_t time)
{
    const std::string text = r.Text(20);
    SongEvent event = SongEvent::Meta(time, static_cast<uint8_t>(r.Int(1, 7)),
                                      reinterpret_cast<const uint8_t*>(text.data()), text.size());
    event.reserved = static_cast<uint32_t>(r.Int(0, 3));
    return event;
}

inline SongEvent RandomClipEvent(Random& r, int32_t time)
{
    auto clip = std::make_unique<AudioClip>("WaveData/" + std::to_string(r.Int(0, 9999)) + ".wav");
    clip->lengthMs = static_cast<uint32_t>(r.Int(100, 5000));
    clip->format.samplesPerSecond = 44100;
    return SongEvent::Clip(time, std::move(clip));
}

inline std::unique_ptr<Track> RandomTrack(Random& r, int maxEvents, bool allowAudio = true)
{
    auto track = std::make_unique<Track>();
    track->name = "T" + r.Text(8);
    track->outputPort = r.Int(0, 3);
    track->outputChannel = r.Int(0, 15);
    track->inputChannel = r.Int(-1, 15);
    track->keyOffset = r.Chance(20) ? r.Int(-12, 12) : 0;
    track->velocityOffset = r.Chance(20) ? r.Int(-20, 20) : 0;
    track->colour = static_cast<uint32_t>(r.Int(0, 0xFFFFFF));
    track->DeriveTextColour();
    for (int32_t& value : track->initial)
        value = r.Chance(30) ? r.Int(0, 127) : -1;
    if (allowAudio && r.Chance(15))
        track->kind = 1;
    std::vector<int32_t> times(static_cast<size_t>(r.Int(0, maxEvents)));
    for (int32_t& time : times)
        time = r.Chance(20) ? 0 : r.Int(0, 4000);
    std::sort(times.begin(), times.end());
    for (int32_t time : times)
        track->events.push_back(track->IsAudio() ? RandomClipEvent(r, time)
                                                 : RandomMidiEvent(r, time, track->outputChannel));
    return track;
}

inline Cue RandomCue(Random& r, int32_t low = 0, int32_t high = 4000)
{
    Cue cue;
    cue.kind = r.Int(0, CueKindCount - 1);
    cue.label = r.Text(6);
    cue.count = cue.kind == CueVamp ? r.Int(0, 4) : 0;
    const int32_t a = r.Int(low, high);
    const int32_t span = cue.kind == CueMarker ? 0 : r.Int(0, 600);
    const bool restartLater = cue.kind == 1 || cue.kind == 2 || cue.kind == 4 || cue.kind == 5 || cue.kind == 6;
    cue.stopAt = restartLater ? a : a + span;
    cue.restartAt = restartLater ? a + span : a;
    cue.selectionMark = static_cast<uint32_t>(r.Int(0, 5));
    return cue;
}

inline void SortCues(Song& song)
{
    std::stable_sort(song.cues.begin(), song.cues.end(),
                     [](const auto& a, const auto& b) { return a->AnchorTime() < b->AnchorTime(); });
}

// A song with a few tracks of every kind of event, tempos, cues and several meters, brought up to
// date the way a read song is.
inline void FillRandomSong(Song& song, Random& r, int maxTracks = 4, int maxEvents = 40)
{
    song.NewSongDefaults();
    song.title = r.Text(10);
    song.author = r.Text(10);
    song.smpteOffset.hours = r.Int(0, 3);
    for (int i = r.Int(0, 6); i > 0; --i)
        song.tracks[0]->events.push_back(RandomMetaEvent(r, r.Int(0, 100)));
    std::stable_sort(song.tracks[0]->events.begin(), song.tracks[0]->events.end(),
                     [](const SongEvent& a, const SongEvent& b) { return a.time < b.time; });
    const int count = r.Int(1, maxTracks);
    for (int i = 0; i < count; ++i)
        song.tracks.insert(song.tracks.end() - 1, RandomTrack(r, maxEvents));

    song.tempoMap.entries.front().microsecondsPerQuarter = static_cast<uint32_t>(r.Int(300000, 900000));
    int32_t tick = 0;
    for (int i = r.Int(0, 4); i > 0; --i) {
        tick += r.Chance(20) ? 0 : r.Int(1, 1500);
        song.tempoMap.entries.push_back(TempoChange{tick, static_cast<uint32_t>(r.Int(300000, 900000)), 0.0});
    }
    for (int i = r.Int(0, 5); i > 0; --i)
        song.cues.push_back(std::make_unique<Cue>(RandomCue(r)));
    SortCues(song);

    song.measures.clear();
    for (int i = r.Int(1, 6); i > 0; --i) {
        Measure measure;
        measure.numerator = static_cast<uint8_t>(r.Int(1, 7));
        measure.denominator = static_cast<uint8_t>(1 << r.Int(1, 3));
        measure.key = static_cast<int8_t>(r.Int(-7, 7));
        measure.mode = static_cast<uint8_t>(r.Int(0, 1));
        measure.number = static_cast<uint16_t>(song.measures.size() + 1);
        measure.letter = r.Chance(20) ? static_cast<uint8_t>(r.Int('A', 'Z')) : 0;
        song.measures.push_back(measure);
    }
    song.RelayMeasures();
    song.RecomputeTempoTimes();
    song.UpdateSongEnd(AllTracks);
    song.ExtendMeasures();
}

// ---- random steps ----

inline int RandomUserTrack(const Song& song, Random& r, bool midiOnly)
{
    std::vector<int> candidates;
    for (int n = 1; n + 1 < static_cast<int>(song.tracks.size()); ++n)
        if (!midiOnly || !song.tracks[static_cast<size_t>(n)]->IsAudio())
            candidates.push_back(n);
    if (candidates.empty())
        return -1;
    return candidates[static_cast<size_t>(r.Int(0, static_cast<int>(candidates.size()) - 1))];
}

// Removes some events by index and inserts new ones by time (or, when `inPlace`, replaces events with
// changed copies at their own indexes).
inline void AddEventChanges(UndoStep& step, const Song& song, Random& r, bool inPlace)
{
    const int last = static_cast<int>(song.tracks.size()) - 2;
    for (int number = 0; number <= last; ++number) {
        const Track& track = *song.tracks[static_cast<size_t>(number)];
        for (size_t i = 0; i < track.events.size(); ++i) {
            if (!r.Chance(25))
                continue;
            step.events.Remove(MakeEventRef(number, static_cast<uint32_t>(i)));
            if (inPlace) {
                SongEvent copy = track.events[i];
                if (copy.IsNote())
                    copy.SetData2(static_cast<uint8_t>(r.Int(1, 127)));
                copy.reserved ^= 1;
                step.events.Insert(MakeEventRef(number, static_cast<uint32_t>(i)), std::move(copy));
            }
        }
    }
    if (inPlace)
        return;
    for (int i = r.Int(0, 10); i > 0; --i) {
        const int32_t time = r.Chance(30) ? r.Int(0, 3) * 120 : r.Int(0, 4500);
        if (r.Chance(15)) {
            step.events.InsertByTime(0, RandomMetaEvent(r, time));
            continue;
        }
        const int number = RandomUserTrack(song, r, false);
        if (number < 0)
            continue;
        const Track& track = *song.tracks[static_cast<size_t>(number)];
        step.events.InsertByTime(number,
                                 track.IsAudio() ? RandomClipEvent(r, time) : RandomMidiEvent(r, time, r.Int(0, 15)));
    }
}

inline void AddTempoChanges(UndoStep& step, const Song& song, Random& r)
{
    for (size_t i = 0; i < song.tempoMap.entries.size(); ++i)
        if (r.Chance(i == 0 ? 20 : 40))
            step.tempos.Remove(static_cast<uint32_t>(i));
    for (int i = r.Int(0, 3); i > 0; --i)
        step.tempos.InsertByTick(r.Chance(20) ? 0 : r.Int(1, 5000), static_cast<uint32_t>(r.Int(250000, 1000000)));
}

inline void AddCueChanges(UndoStep& step, const Song& song, Random& r)
{
    for (size_t i = 0; i < song.cues.size(); ++i)
        if (r.Chance(35))
            step.cues.Remove(static_cast<uint32_t>(i));
    for (int i = r.Int(0, 3); i > 0; --i)
        step.cues.InsertByTime(RandomCue(r));
}

inline void AddTrackPropertyChanges(UndoStep& step, const Song& song, Random& r)
{
    for (int number = 0; number + 1 < static_cast<int>(song.tracks.size()); ++number) {
        if (!r.Chance(50))
            continue;
        TrackSettings settings = TrackSettings::Of(*song.tracks[static_cast<size_t>(number)]);
        if (r.Chance(50))
            settings.name = r.Text(8);
        if (r.Chance(50))
            settings.outputChannel = r.Int(0, 15);
        if (r.Chance(30))
            settings.outputPort = r.Int(0, 15);
        for (int32_t& value : settings.initial)
            if (r.Chance(20))
                value = r.Chance(50) ? -2 : r.Int(-1, 127);
        if (r.Chance(30))
            settings.keyOffset = r.Int(-24, 24);
        if (r.Chance(30))
            settings.colour = static_cast<uint32_t>(r.Int(0, 0xFFFFFF));
        if (r.Chance(20))
            settings.play = 1 - settings.play;
        step.trackProperties.Set(number, settings);
    }
}

inline void AddMeasureChanges(UndoStep& step, Song& song, Random& r)
{
    const MeasureSnapshot before = MeasureSnapshot::Of(song);
    for (Measure& measure : song.measures) {
        if (r.Chance(30)) {
            measure.numerator = static_cast<uint8_t>(r.Int(1, 9));
            measure.denominator = static_cast<uint8_t>(1 << r.Int(0, 4));
        }
        if (r.Chance(20))
            measure.key = static_cast<int8_t>(r.Int(-7, 7));
        if (r.Chance(10))
            measure.letter = static_cast<uint8_t>(r.Int('A', 'Z'));
        if (r.Chance(10))
            measure.number = static_cast<uint16_t>(r.Int(0, 99));
    }
    if (song.measures.size() > 1 && r.Chance(30))
        song.measures.pop_back();
    song.RelayMeasures();
    step.measures = MeasureSnapshot::Of(song);
    before.Restore(song);
}

inline void AddSongPropertyChanges(UndoStep& step, const Song& song, Random& r)
{
    step.songProperties = SongPropertyBlock::Of(song);
    if (r.Chance(60))
        step.songProperties.title = r.Text(12);
    if (r.Chance(40))
        step.songProperties.memo = r.Text(30);
    if (r.Chance(30))
        step.songProperties.copyright = r.Text(12);
    if (r.Chance(40))
        step.songProperties.smpteOffset.frames = r.Int(0, 29);
}

inline void AddTrackChanges(UndoStep& step, const Song& song, Random& r)
{
    int users = song.UserTrackCount();
    for (int number = 1; number <= song.UserTrackCount(); ++number)
        if (r.Chance(30)) {
            step.tracks.Remove(number);
            --users;
        }
    for (int i = r.Int(0, 3); i > 0 && users < MaxUserTracks; --i, ++users)
        step.tracks.Insert(r.Int(1, users + 1), RandomTrack(r, 10));
}

// A delete-time step made as the time edits make it: what lies in the range goes first (events in
// [start, end), cues starting there or ending inside it, tempos from start through end), then the
// range closes.
inline std::unique_ptr<UndoStep> RandomDeleteTimeStep(const Song& song, Random& r)
{
    auto step = std::make_unique<UndoStep>(StepDeleteTime | StepEvents | StepCues | StepTempos, "Delete Time");
    const int32_t start = r.Chance(15) ? 0 : r.Int(0, 3000);
    const int32_t length = r.Int(1, 1000);
    const int32_t end = start + length;
    step->start = start;
    step->length = length;
    for (int number = 0; number + 1 < static_cast<int>(song.tracks.size()); ++number) {
        const auto& events = song.tracks[static_cast<size_t>(number)]->events;
        for (size_t i = 0; i < events.size(); ++i)
            if (events[i].time >= start && events[i].time < end)
                step->events.Remove(MakeEventRef(number, static_cast<uint32_t>(i)));
    }
    for (size_t i = 0; i < song.cues.size(); ++i) {
        const Cue& cue = *song.cues[i];
        const int32_t first = std::min(cue.stopAt, cue.restartAt);
        const int32_t last = std::max(cue.stopAt, cue.restartAt);
        if ((first >= start && first < end) || (last > start && last <= end))
            step->cues.Remove(static_cast<uint32_t>(i));
    }
    for (size_t i = 1; i < song.tempoMap.entries.size(); ++i)
        if (song.tempoMap.entries[i].tick >= start && song.tempoMap.entries[i].tick <= end)
            step->tempos.Remove(static_cast<uint32_t>(i));
    return step;
}

inline std::unique_ptr<UndoStep> RandomStep(Song& song, Random& r)
{
    auto step = std::make_unique<UndoStep>();
    step->label = "Step " + r.Text(4);
    switch (r.Int(0, 11)) {
    case 0:
        step->kinds = StepEvents;
        AddEventChanges(*step, song, r, false);
        break;
    case 1:
        step->kinds = StepEvents;
        AddEventChanges(*step, song, r, true);
        break;
    case 2:
        step->kinds = StepTempos;
        AddTempoChanges(*step, song, r);
        break;
    case 3:
        step->kinds = StepCues;
        AddCueChanges(*step, song, r);
        break;
    case 4:
        step->kinds = StepTracks;
        AddTrackChanges(*step, song, r);
        break;
    case 5:
        step->kinds = StepTrackProperties | (r.Chance(50) ? uint32_t{StepSelectTracks} : 0u);
        AddTrackPropertyChanges(*step, song, r);
        break;
    case 6:
        step->kinds = StepMeasures;
        AddMeasureChanges(*step, song, r);
        break;
    case 7:
        step->kinds = StepInsertTime | StepMeasures;
        step->start = r.Chance(15) ? 0 : r.Int(0, 4000);
        step->length = r.Int(1, 960);
        AddMeasureChanges(*step, song, r);
        break;
    case 8:
        return RandomDeleteTimeStep(song, r);
    case 9:
        step->kinds = StepSongProperties;
        AddSongPropertyChanges(*step, song, r);
        break;
    case 10: // insert time with material pasted into the gap
        step->kinds = StepInsertTime | StepEvents | StepCues | StepTempos;
        step->start = r.Int(0, 4000);
        step->length = r.Int(1, 960);
        for (int i = r.Int(1, 5); i > 0; --i) {
            const int number = RandomUserTrack(song, r, true);
            if (number > 0)
                step->events.InsertByTime(number, RandomMidiEvent(r, step->start + r.Int(0, step->length - 1), 0));
        }
        step->cues.InsertByTime(RandomCue(r, step->start, step->start));
        step->tempos.InsertByTick(step->start + 1, 400000);
        break;
    default: // several parts at once
        step->kinds = StepEvents | StepTempos | StepCues | StepTrackProperties | StepSongProperties | StepMeasures;
        AddEventChanges(*step, song, r, r.Chance(50));
        AddTempoChanges(*step, song, r);
        AddCueChanges(*step, song, r);
        AddTrackPropertyChanges(*step, song, r);
        AddSongPropertyChanges(*step, song, r);
        AddMeasureChanges(*step, song, r);
        break;
    }
    return step;
}

} // namespace cantivo::test
