#pragma once

#include "edit/CueDelta.h"
#include "edit/EventDelta.h"
#include "edit/MeasureSnapshot.h"
#include "edit/SongPropertyBlock.h"
#include "edit/TempoDelta.h"
#include "edit/TrackDelta.h"
#include "edit/TrackPropertyDelta.h"

#include <cstdint>
#include <functional>
#include <string>

namespace cantivo {

class AudioClip;

// Which parts of the state a step carries; several may be set.
enum StepKind : uint32_t {
    StepCues = 0x1,
    StepTempos = 0x2,
    StepEvents = 0x4,
    StepMeasures = 0x8,
    StepInsertTime = 0x10,    // redo opens a gap of `length` ticks at `start`; undo closes it
    StepDeleteTime = 0x20,    // redo closes [start, start + length); undo reopens it
    StepOneController = 0x40, // the controller views show the lane of the first event concerned
    StepKeepClipFiles = 0x80, // the step's clips share their files with the song: never delete them
    StepTracks = 0x1000,
    StepTrackProperties = 0x2000,
    StepSelectTracks = 0x4000, // with StepTrackProperties: the track view selects the changed tracks
    StepInsertSong = 0x100000, // set step: insert the song read from `songPath` at `start`
    StepDeleteSong = 0x200000, // set step: remove the song at `start` (read back from `songPath`)
    StepMoveSong = 0x800000,   // set step: from in the low 16 bits of `start`, to in the high 16 bits
    StepSongProperties = 0x400000,
};

// One edit, described as an exchange of state. The editing code fills it and hands it to SubmitStep;
// its first redo performs the edit.
class UndoStep {
  public:
    UndoStep() = default;
    UndoStep(uint32_t kinds, std::string label) : kinds(kinds), label(std::move(label)) {}
    UndoStep(const UndoStep&) = delete;
    UndoStep& operator=(const UndoStep&) = delete;

    bool Has(uint32_t kind) const { return (kinds & kind) != 0; }
    // The audio clips the step holds: in its event insert list and in the events of its tracks.
    void ForEachHeldClip(const std::function<void(AudioClip&)>& visit) const;

    // Set steps: the positions of a move.
    int MoveFrom() const { return static_cast<int>(static_cast<uint32_t>(start) & 0xFFFF); }
    int MoveTo() const { return static_cast<int>((static_cast<uint32_t>(start) >> 16) & 0xFFFF); }
    void SetMove(int from, int to)
    {
        start = static_cast<int32_t>((static_cast<uint32_t>(to & 0xFFFF) << 16) | static_cast<uint32_t>(from & 0xFFFF));
    }

    uint32_t kinds = 0;
    std::string label;
    int32_t start = 0;
    int32_t length = 0;
    CueDelta cues;
    TrackDelta tracks;
    EventDelta events;
    MeasureSnapshot measures;
    TempoDelta tempos;
    TrackPropertyDelta trackProperties;
    SongPropertyBlock songProperties;
    std::string songPath; // set steps
};

} // namespace cantivo
