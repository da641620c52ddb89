#pragma once

#include "song/ProgramMeta.h"
#include "song/TrackByteWriter.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace cantivo {

class Track;

// Tells whether two logical output ports lead to the same device. Until the port table exists, the
// same port number is the same device.
using SameDeviceTest = std::function<bool(int32_t portA, int32_t portB)>;

// How an image says where the track's initial values are. A saved track is `Marked`: its settings
// carry ProgramMeta 40, each initial block is announced by ProgramMeta 41, and the reader takes the
// initial values from the blocks alone. `Plain` writes neither, so the reader folds the track's first
// controllers and program into initial values as for any other program's file (the format-0 split
// relies on that).
enum class InitialMarking { Marked, Plain };

// Snapshots stop once their last messages and sounding notes together would pass a limit, so a hostile
// file (every controller of every channel set, one event days later) cannot copy a large state into
// tens of thousands of blocks. A real song stays far below: an hour is some 900 blocks of a few dozen
// entries per track. A track gets at most the first limit (32 MB), a song's tracks together the second.
inline constexpr size_t MaxTrackSnapshotEntries = size_t{1} << 22;
inline constexpr size_t MaxSongSnapshotEntries = size_t{1} << 24;

// Encodes one user track into its image (the "MTrk" contents) from its events, settings and re-send
// times; recomputes its end and clip flags, and its playback snapshots when `snapshotInterval` > 0,
// holding at most `snapshotEntryLimit` messages and notes (none otherwise).
void EncodeTrack(Track& track, int32_t snapshotInterval, InitialMarking marking = InitialMarking::Marked,
                 size_t snapshotEntryLimit = MaxTrackSnapshotEntries);

// Fills the re-send times of the group of `trackNumber` (the tracks of `tracks`, the song's list with its
// trailing empty track, that share its output device and channel) and returns the group's track
// numbers, `trackNumber` included. `timebase` is the song's ticks per quarter note.
std::vector<int> ComputeReSendTimes(std::span<const std::unique_ptr<Track>> tracks, int32_t timebase, int trackNumber,
                                    const SameDeviceTest& sameDevice);

} // namespace cantivo
