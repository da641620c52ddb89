#pragma once

#include <cstdint>
#include <vector>

namespace cantivo {

// What applying one step did, for the song update and the views that follow it.
struct StepEffects {
    // Tracks whose events changed (numbers as they stand after the step); `allTracks` when the track
    // list, the times of every track, or track settings changed.
    std::vector<int> eventTracks;
    bool allTracks = false;
    // Indexes of the tempo entries the step inserted (the tempo view selects them) and the last tick.
    std::vector<int> insertedTempos;
    int32_t lastInsertedTempoTick = -1;
    // Tracks whose settings were exchanged, for the track view's selection.
    std::vector<int> propertyTracks;
    // Kind word of the first event the step placed (or took out when it placed none), for the
    // controller views; 0 when the step touched no event.
    uint32_t firstEventKind = 0;

    void TouchTrack(int number) { eventTracks.push_back(number); }
};

} // namespace cantivo
