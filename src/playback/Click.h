#pragma once

#include <cstdint>
#include <string>

namespace cantivo {

class Profile;

// The metronome click ("ClickOptions"): two packed note-ons, the first for beat 0 of a measure.
struct ClickSettings {
    bool enabled = true;
    bool whileRecording = true;
    std::string portName = "?";    // an output port's name; "?" matches none
    int32_t patch = 0;             // bank × 256 + program
    uint32_t firstBeat = 8332697;  // note-on channel 10, key 37, velocity 127
    uint32_t otherBeats = 6563225; // channel 10, key 37, velocity 100
    int32_t leadMilliseconds = 0;

    static ClickSettings Read(const Profile& profile);
};

} // namespace cantivo
