#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace cantivo {

class Song;
class Track;

// Tells whether two logical output ports lead to the same device. Until the port table exists, the
// same port number is the same device.
using SameDeviceTest = std::function<bool(int32_t portA, int32_t portB)>;

// Encodes one user track into its image (the "MTrk" contents) from its events, settings and re-send
// times; recomputes its end and clip flags, and its playback snapshots when `snapshotInterval` > 0.
// `trackNumber` tags the sounding notes of the snapshots.
void EncodeTrack(Track& track, int32_t snapshotInterval, int trackNumber);

// Fills the re-send times of the group of `trackNumber` (the tracks sharing its output device and
// channel) and returns the group's track numbers, `trackNumber` included.
std::vector<int> ComputeReSendTimes(Song& song, int trackNumber, const SameDeviceTest& sameDevice);

} // namespace cantivo
