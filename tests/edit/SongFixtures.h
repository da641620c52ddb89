#pragma once

// Test helpers for the undo layer: a song's whole state as text to compare before and after, random
// songs and random steps of every kind, and a transport the tests steer.

#include "edit/MeasureSnapshot.h"
#include "edit/UndoHistory.h"
#include "edit/UndoStep.h"
#include "playback/Transport.h"
#include "song/AudioClip.h"
#include "song/Song.h"
#include "support/SongComparison.h"
#include "support/TestContext.h"

#include <algorithm>
#include <iomanip>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace cantivo::test {

class FakeTransport final : public Transport {
  public:
    bool IsStopped() const override { return stopped; }
    void Relocate(int32_t tick) override { relocations.push_back(tick); }

    bool stopped = true;
    std::vector<int32_t> relocations;
};

// A new song with `userTracks` empty MIDI tracks (and optionally an audio track after them) whose
// undo history runs through a transport the test steers.
struct SongFixture {
    explicit SongFixture(int userTracks = 1, bool audioTrack = false) : song(context.Context())
    {
        song.NewSongDefaults();
        for (int i = 0; i < userTracks + (audioTrack ? 1 : 0); ++i)
            song.tracks.insert(song.tracks.end() - 1, std::make_unique<Track>());
        if (audioTrack)
            song.tracks[song.tracks.size() - 2]->kind = 1;
        song.UpdateSongEnd(AllTracks);
        history = &UndoHistory::Install(song, &transport);
    }
    Track& track(int number) { return *song.tracks[static_cast<size_t>(number)]; }
    bool Submit(std::unique_ptr<UndoStep> step) { return history->SubmitStep(song, std::move(step)); }
    bool SubmitNote(const std::string& label, int track = 1, int32_t time = 0)
    {
        auto step = std::make_unique<UndoStep>(StepEvents, label);
        step->events.InsertByTime(track, SongEvent::Note(time, 0, 60, 100, 120));
        return Submit(std::move(step));
    }

    TestContext context;
    FakeTransport transport;
    Song song;
    UndoHistory* history = nullptr;
};

// Everything a song holds, one record a line. The measures stay apart, since an undo may leave some
// appended (see CompareOptions).
struct SongState {
    std::vector<std::string> lines;
    std::vector<Measure> measures;
};

inline SongState Capture(const Song& song)
{
    return {DescribeSong(song, Described::State), song.measures};
}

// Brings a song up to date after a test changed it directly, as a read song would be, and returns its
// state.
inline SongState Settle(Song& song)
{
    song.RecomputeTempoTimes();
    song.UpdateSongEnd(AllTracks);
    song.ExtendMeasures();
    return Capture(song);
}

struct CompareOptions {
    // Undo leaves in place the measures that extending the song appended, and the song end follows
    // the restored content rather than being part of the restored state.
    bool allowAppendedMeasures = false;
    bool songEndFields = true;
};

// Empty when the two states are the same; otherwise the first difference.
inline std::string Difference(const SongState& a, const SongState& b, CompareOptions options = {})
{
    const auto compared = [&](const std::vector<std::string>& lines) {
        std::vector<std::string> kept;
        std::copy_if(lines.begin(), lines.end(), std::back_inserter(kept),
                     [&](const std::string& text) { return options.songEndFields || !text.starts_with("end "); });
        return kept;
    };
    std::ostringstream out;
    out << FirstDifference(compared(a.lines), compared(b.lines));

    const std::vector<Measure>& ma = a.measures;
    const std::vector<Measure>& mb = b.measures;
    for (size_t i = 0; i < std::min(ma.size(), mb.size()); ++i)
        if (!SameMeasure(ma[i], mb[i]))
            out << "measure " << i << " differs\n";
    if (ma.size() > mb.size() || (mb.size() > ma.size() && !options.allowAppendedMeasures))
        out << "measure count " << ma.size() << " != " << mb.size() << "\n";
    // b may continue a's table with copies of its last measure, each one further on.
    for (size_t i = std::max<size_t>(ma.size(), 1); options.allowAppendedMeasures && i < mb.size(); ++i) {
        Measure expected = mb[i - 1];
        expected.start = expected.End();
        expected.number = static_cast<uint16_t>(expected.number + 1);
        expected.letter = 0;
        if (!SameMeasure(expected, mb[i]))
            out << "appended measure " << i << " does not continue the table\n";
    }
    return out.str();
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
    // Notes three times as often as each other kind; type 0 is a parameter (RPN or NRPN) event.
    constexpr uint8_t types[] = {0x90, 0x90, 0x90, 0xA0, 0xB0, 0xC0, 0xD0, 0xE0, 0xF0, 0x00};
    const uint8_t type = types[r.Int(0, 9)];
    const auto status = static_cast<uint8_t>(type | (r.Chance(85) ? channel : r.Int(0, 15)));
    const auto d1 = static_cast<uint8_t>(r.Int(0, 127));
    const auto d2 = static_cast<uint8_t>(type == 0xC0 || type == 0xD0 ? 0 : r.Int(0, 127));
    SongEvent event;
    if (type == 0x90) {
        event = SongEvent::Note(time, static_cast<uint8_t>(status & 0x0F), static_cast<uint8_t>(d1 % 80 + 20),
                                std::max<uint8_t>(d2, 1), r.Int(1, 480));
        event.spelling = static_cast<int8_t>(r.Int(-1, 4));
        event.notation = static_cast<uint8_t>(r.Int(0, 3));
    } else if (type == 0xF0) {
        std::vector<uint8_t> bytes(static_cast<size_t>(r.Int(3, 14)), d1);
        for (uint8_t& byte : bytes)
            byte = static_cast<uint8_t>(r.Int(0, 127));
        bytes.front() = 0xF0;
        bytes.back() = 0xF7;
        event = SongEvent::Sysex(time, bytes.data(), bytes.size());
    } else if (type == 0) {
        event = SongEvent::Parameter(time, r.Chance(50), static_cast<uint32_t>(r.Int(0, 16383)), r.Int(0, 16383));
    } else {
        event = SongEvent::Short(time, status, d1, d2);
        event.length = type == 0xC0 ? r.Int(0, 16383) : 0; // a program change carries its bank
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

inline std::unique_ptr<Track> RandomTrack(Random& r, int maxEvents)
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
    track->kind = r.Chance(15) ? 1 : 0;
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
    const int32_t at = r.Int(low, high);
    const int32_t span = cue.kind == CueMarker ? 0 : r.Int(0, 600);
    // Caesura, fermata, skip, ad lib and hold-and-cut restart after they stop; the others go back.
    const bool restartLater = cue.kind == 1 || cue.kind == 2 || cue.kind == 4 || cue.kind == 5 || cue.kind == 6;
    cue.stopAt = restartLater ? at : at + span;
    cue.restartAt = restartLater ? at + span : at;
    cue.selectionMark = static_cast<uint32_t>(r.Int(0, 5));
    return cue;
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
    for (int i = r.Int(1, maxTracks); i > 0; --i)
        song.tracks.insert(song.tracks.end() - 1, RandomTrack(r, maxEvents));

    song.tempoMap.entries.front().microsecondsPerQuarter = static_cast<uint32_t>(r.Int(300000, 900000));
    int32_t tick = 0;
    for (int i = r.Int(0, 4); i > 0; --i) {
        tick += r.Chance(20) ? 0 : r.Int(1, 1500);
        song.tempoMap.entries.push_back(TempoChange{tick, static_cast<uint32_t>(r.Int(300000, 900000)), 0.0});
    }
    for (int i = r.Int(0, 5); i > 0; --i)
        song.cues.push_back(std::make_unique<Cue>(RandomCue(r)));
    std::stable_sort(song.cues.begin(), song.cues.end(),
                     [](const auto& a, const auto& b) { return a->AnchorTime() < b->AnchorTime(); });

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
    return candidates.empty() ? -1 : candidates[static_cast<size_t>(r.Int(0, static_cast<int>(candidates.size()) - 1))];
}

// Removes some events by index and inserts new ones by time (or, when `inPlace`, replaces events with
// changed copies at their own indexes).
inline void AddEventChanges(UndoStep& step, const Song& song, Random& r, bool inPlace)
{
    for (int number = 0; number + 1 < static_cast<int>(song.tracks.size()); ++number) {
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
    for (int i = inPlace ? 0 : r.Int(0, 10); i > 0; --i) {
        const int32_t time = r.Chance(30) ? r.Int(0, 3) * 120 : r.Int(0, 4500);
        const int number = r.Chance(15) ? 0 : RandomUserTrack(song, r, false);
        if (number == 0)
            step.events.InsertByTime(0, RandomMetaEvent(r, time));
        else if (number > 0)
            step.events.InsertByTime(number, song.tracks[static_cast<size_t>(number)]->IsAudio()
                                                 ? RandomClipEvent(r, time)
                                                 : RandomMidiEvent(r, time, r.Int(0, 15)));
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
        settings.name = r.Chance(50) ? r.Text(8) : settings.name;
        settings.outputChannel = r.Chance(50) ? r.Int(0, 15) : settings.outputChannel;
        settings.outputPort = r.Chance(30) ? r.Int(0, 15) : settings.outputPort;
        for (int32_t& value : settings.initial) // -2 leaves the value as it is
            value = !r.Chance(20) ? value : r.Chance(50) ? -2 : r.Int(-1, 127);
        settings.keyOffset = r.Chance(30) ? r.Int(-24, 24) : settings.keyOffset;
        settings.colour = r.Chance(30) ? static_cast<uint32_t>(r.Int(0, 0xFFFFFF)) : settings.colour;
        settings.play = r.Chance(20) ? 1 - settings.play : settings.play;
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
        measure.key = r.Chance(20) ? static_cast<int8_t>(r.Int(-7, 7)) : measure.key;
        measure.letter = r.Chance(10) ? static_cast<uint8_t>(r.Int('A', 'Z')) : measure.letter;
        measure.number = r.Chance(10) ? static_cast<uint16_t>(r.Int(0, 99)) : measure.number;
    }
    if (song.measures.size() > 1 && r.Chance(30))
        song.measures.pop_back();
    song.RelayMeasures();
    step.measures = MeasureSnapshot::Of(song);
    before.Restore(song);
}

inline void AddSongPropertyChanges(UndoStep& step, const Song& song, Random& r)
{
    SongPropertyBlock& block = step.songProperties = SongPropertyBlock::Of(song);
    block.title = r.Chance(60) ? r.Text(12) : block.title;
    block.memo = r.Chance(40) ? r.Text(30) : block.memo;
    block.copyright = r.Chance(30) ? r.Text(12) : block.copyright;
    block.smpteOffset.frames = r.Chance(40) ? r.Int(0, 29) : block.smpteOffset.frames;
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
    const int32_t end = start + r.Int(1, 1000);
    step->start = start;
    step->length = end - start;
    for (int number = 0; number + 1 < static_cast<int>(song.tracks.size()); ++number) {
        const auto& events = song.tracks[static_cast<size_t>(number)]->events;
        for (size_t i = 0; i < events.size(); ++i)
            if (events[i].time >= start && events[i].time < end)
                step->events.Remove(MakeEventRef(number, static_cast<uint32_t>(i)));
    }
    for (size_t i = 0; i < song.cues.size(); ++i) {
        const int32_t first = std::min(song.cues[i]->stopAt, song.cues[i]->restartAt);
        const int32_t last = std::max(song.cues[i]->stopAt, song.cues[i]->restartAt);
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
    // One part alone (events twice as often), a meter change with a gap opened at the same time, a
    // deletion of time, material pasted into a new gap, or several parts at once.
    constexpr uint32_t paste = StepInsertTime | StepEvents | StepCues | StepTempos;
    constexpr uint32_t several =
        StepEvents | StepTempos | StepCues | StepTrackProperties | StepSongProperties | StepMeasures;
    constexpr uint32_t shapes[] = {StepEvents,     StepEvents,          StepTempos,   StepCues,
                                   StepTracks,     StepTrackProperties, StepMeasures, StepMeasures | StepInsertTime,
                                   StepDeleteTime, StepSongProperties,  paste,        several};
    const uint32_t kinds = shapes[r.Int(0, 11)];
    if (kinds == StepDeleteTime)
        return RandomDeleteTimeStep(song, r);
    auto step = std::make_unique<UndoStep>(kinds, "Step " + r.Text(4));
    if (step->Has(StepTrackProperties) && r.Chance(50))
        step->kinds |= StepSelectTracks;
    if (step->Has(StepInsertTime)) {
        step->start = r.Chance(15) ? 0 : r.Int(0, 4000);
        step->length = r.Int(1, 960);
    }
    if (step->Has(StepInsertTime) && step->Has(StepEvents)) {
        for (int i = r.Int(1, 5); i > 0; --i)
            if (const int number = RandomUserTrack(song, r, true); number > 0)
                step->events.InsertByTime(number, RandomMidiEvent(r, step->start + r.Int(0, step->length - 1), 0));
        step->cues.InsertByTime(RandomCue(r, step->start, step->start));
        step->tempos.InsertByTick(step->start + 1, 400000);
        return step;
    }
    if (step->Has(StepEvents))
        AddEventChanges(*step, song, r, r.Chance(50));
    if (step->Has(StepTempos))
        AddTempoChanges(*step, song, r);
    if (step->Has(StepCues))
        AddCueChanges(*step, song, r);
    if (step->Has(StepTracks))
        AddTrackChanges(*step, song, r);
    if (step->Has(StepTrackProperties))
        AddTrackPropertyChanges(*step, song, r);
    if (step->Has(StepSongProperties))
        AddSongPropertyChanges(*step, song, r);
    if (step->Has(StepMeasures))
        AddMeasureChanges(*step, song, r);
    return step;
}

} // namespace cantivo::test
