#pragma once

#include "edit/StepEffects.h"
#include "song/Track.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace cantivo {

class Song;

// The settings of a track that the track properties exchange: everything a user sets, not the events
// and not what encoding derives (end, image, clip flags, re-send times, snapshots).
struct TrackSettings {
    int32_t kind = 0;
    std::string name;
    int32_t play = 1;
    int32_t outputPort = 0;
    int32_t outputChannel = 0;
    int32_t inputPort = 0;
    int32_t inputChannel = -1;
    // A value below −1 leaves that initial value of the track as it is.
    std::array<int32_t, InitialSlotCount> initial{};
    int32_t keyOffset = 0;
    int32_t timeOffset = 0;
    int32_t velocityOffset = 0;
    std::array<int32_t, ParameterSlotCount> initialParameters{};
    std::array<int32_t, 18> destinations{};
    int32_t destinationController = -1;
    int32_t defaultClef = 0;
    int32_t splitKey = 0;
    uint32_t colour = DefaultTrackColour;
    uint32_t textColour = 0;
    std::string outputPortName;

    static TrackSettings Of(const Track& track);
};

// For each changed track its number and the settings to exchange with it; applying is its own
// inverse. The first application notes which settings really differ, and from then on only those are
// exchanged, so that a later undo does not also revert what was set outside the history (Solo's play
// flags, a port found again by name).
class TrackPropertyDelta {
  public:
    void Set(int number, const TrackSettings& settings);
    bool Empty() const { return entries_.empty(); }
    size_t Count() const { return entries_.size(); }
    int NumberAt(size_t i) const { return entries_[i].number; }
    const TrackSettings& SettingsAt(size_t i) const { return entries_[i].settings; }

    // A changed output channel moves every channel event of the track to it; the channels the events
    // had are kept, and the next application gives them back exactly (a track may mix channels).
    void Apply(Song& song, StepEffects& effects);

  private:
    struct Entry {
        int number = 0;
        TrackSettings settings;
        uint32_t fields = ~0u; // settings still to exchange
        bool applied = false;
        std::vector<uint8_t> channels; // channels of the track's channel events before the last change
    };
    std::vector<Entry> entries_;
};

} // namespace cantivo
