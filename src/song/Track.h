#pragma once

#include "song/PlaybackSnapshot.h"
#include "song/SongEvent.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace cantivo {

// Slots of a track's initial controller values, in stored order.
enum InitialSlot : int {
    InitBank = 0, // 14-bit, MSB × 128 + LSB
    InitPatch,
    InitPan,
    InitVolume,
    InitPortamento,
    InitDelay,
    InitReverb,
    InitChorus,
    InitBrightness,
    InitResonance,
    InitAttack,
    InitRelease,
    InitDecay,
    InitVibratoRate,
    InitVibratoDepth,
    InitVibratoDelay,
    InitialSlotCount
};
// The controller number of each slot from InitPan on (bank and patch have none).
inline constexpr std::array<int, InitialSlotCount> InitialSlotController = {-1, -1, 10, 7,  5,  94, 91, 93,
                                                                            74, 71, 73, 72, 75, 76, 77, 78};

// Slots of a track's initial registered-parameter values, in stored order, and their RPN numbers.
enum ParameterSlot : int {
    ParamModulationRange = 0,
    ParamFineTuning,
    ParamCoarseTuning,
    ParamBendRange,
    ParameterSlotCount
};
inline constexpr std::array<int, ParameterSlotCount> ParameterSlotRpn = {5, 1, 2, 0};

inline constexpr int32_t TrackFormatVersion = 6318;
inline constexpr int32_t LegacyFormatVersion = 2222;
inline constexpr int32_t OffsetsApplied = 0x1000; // format-version bit: the file's events carry the offsets
inline constexpr uint32_t DefaultTrackColour = 0x0EF0FF;
inline constexpr int32_t NoEventLeft = 0x7FFFFFFF;

inline constexpr uint8_t ClipKey = 1;
inline constexpr uint8_t ClipVelocity = 2;
inline constexpr uint8_t ClipTime = 4;

class Track {
  public:
    Track();
    Track(const Track&) = default;
    Track& operator=(const Track&) = default;

    // Black text on a light track colour, white on a dark one.
    void DeriveTextColour();
    bool IsAudio() const { return kind == 1; }

    int32_t formatVersion = TrackFormatVersion;
    int32_t kind = 0; // 0 MIDI, 1 audio
    std::string name = "(new track)";
    int32_t end = 0;
    int32_t play = 1;
    int32_t savedPlay = 1;
    int32_t outputPort = 0;
    int32_t outputChannel = 0;
    int32_t inputPort = 0;
    int32_t inputChannel = -1;
    std::array<int32_t, InitialSlotCount> initial;
    int32_t keyOffset = 0;
    int32_t timeOffset = 0;
    int32_t velocityOffset = 0;
    std::array<int32_t, ParameterSlotCount> initialParameters;
    // Three groups of six ranges: channel pressure, polyphonic pressure, one controller.
    std::array<int32_t, 18> destinations;
    int32_t destinationController = -1;
    int32_t defaultClef = 0;
    int32_t splitKey = 0; // stored as key − 60
    uint32_t colour = DefaultTrackColour;
    uint32_t textColour = 0;
    std::vector<SongEvent> events;
    std::string outputPortName;

    // The last encoded "MTrk" contents: played by the sequencer and written by the file writer.
    std::vector<uint8_t> image;
    uint8_t clipFlags = 0;
    std::vector<int32_t> reSendTimes;
    // Rebuilt by every encoding; not saved.
    TrackSnapshots snapshots;
};

// A key moved by `offset` semitones and brought into 0-127 by whole octaves.
int OffsetKey(int key, int offset);
// Writes the track's offsets of the kinds in `kinds` (ClipKey, ClipVelocity, ClipTime) into the event
// itself, as "Apply offsets" does: keys into 0-127 by whole octaves, note velocities within 1-127, times
// from 0 on; a note moved to before the start loses the part before it but keeps one tick to sound.
void ApplyOffsetsToEvent(SongEvent& event, const Track& track, uint8_t kinds);

} // namespace cantivo
