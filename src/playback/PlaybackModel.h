#pragma once

#include "song/Cue.h"
#include "song/Measure.h"
#include "song/PlaybackSnapshot.h"
#include "song/RawEventReader.h"
#include "song/TempoMap.h"
#include "song/Track.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace cantivo {

class MidiOutPort;
class PortTable;
class Song;

// One track as the play thread sees it: copies of what the song holds, so an edit on the UI thread
// never changes bytes the play thread is reading.
struct PlaybackTrack {
    int trackNumber = 0;
    bool midi = true;
    int32_t logicalPort = 0;
    std::string portName;        // the name saved for the logical port, for display
    MidiOutPort* port = nullptr; // null when the logical port maps to no device
    uint8_t channel = 0;
    uint8_t patchTag = 0xFF;
    // What MIDI thru needs: where the track listens, its key offset and its own sounds.
    int32_t inputPort = 0;
    int32_t inputChannel = -1; // any
    int32_t keyOffset = 0;
    std::array<int32_t, InitialSlotCount> initial{};
    std::vector<uint8_t> image;
    TrackSnapshots snapshots;
};

// Everything the play thread reads of one song, built on the UI thread after each read, activation or
// edit and published to the sequencer whole. The cursors and play flags change while playing; the rest
// stays as built.
struct PlaybackModel {
    const Song* song = nullptr; // identity only: the play thread never reads through it
    uint16_t timebase = 120;
    int32_t endTick = 0; // the start of the last measure entry: where the song ends
    std::vector<Measure> measures;
    TempoMap tempoMap;
    std::vector<Cue> cues;
    std::vector<PlaybackTrack> tracks; // every track but the trailing empty one
    int32_t gridTicks = 30;            // the views' position step
    double smpteOffset = 0;            // microseconds: where the song starts on the time code
    // Track play flags: a mute while playing changes them.
    std::unique_ptr<std::atomic<uint8_t>[]> play;
    // Where each track's playback stands in its image; owned by whoever holds the transport lock.
    std::vector<RawReadState> cursors;

    int FindMeasure(int32_t tick) const;
    double TickTime(int32_t tick) const { return tempoMap.TicksToMicroseconds(tick, timebase); }
    bool Plays(size_t track) const { return play[track].load(std::memory_order_relaxed) != 0; }
};

// Builds the model of `song` with its ports resolved through `ports`; `names` gives the name saved for
// each logical output port ("MIDIOUT%d"), empty where none is. `gridTicks` is the views' grid.
std::unique_ptr<PlaybackModel> BuildPlaybackModel(const Song& song, PortTable& ports,
                                                  const std::vector<std::string>& names, int32_t gridTicks);
// The same in two steps: the model without its ports touches nothing but the song, so a worker thread
// may build it from a song it read itself; the ports are attached on the UI thread, which owns them.
std::unique_ptr<PlaybackModel> BuildUnattachedModel(const Song& song, int32_t gridTicks);
void AttachPorts(PlaybackModel& model, PortTable& ports, const std::vector<std::string>& names);

} // namespace cantivo
