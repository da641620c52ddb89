#include "edit/TrackPropertyDelta.h"

#include "song/Song.h"

#include <utility>

namespace cantivo {

TrackSettings TrackSettings::Of(const Track& track)
{
    TrackSettings s;
    s.kind = track.kind;
    s.name = track.name;
    s.play = track.play;
    s.outputPort = track.outputPort;
    s.outputChannel = track.outputChannel;
    s.inputPort = track.inputPort;
    s.inputChannel = track.inputChannel;
    s.initial = track.initial;
    s.keyOffset = track.keyOffset;
    s.timeOffset = track.timeOffset;
    s.velocityOffset = track.velocityOffset;
    s.initialParameters = track.initialParameters;
    s.destinations = track.destinations;
    s.destinationController = track.destinationController;
    s.defaultClef = track.defaultClef;
    s.splitKey = track.splitKey;
    s.colour = track.colour;
    s.textColour = track.textColour;
    s.outputPortName = track.outputPortName;
    return s;
}

void TrackPropertyDelta::Set(int number, const TrackSettings& settings)
{
    Entry entry;
    entry.number = number;
    entry.settings = settings;
    entries_.push_back(std::move(entry));
}

namespace {

constexpr uint32_t ChannelField = 1u << 4;

// Calls visit(bit, delta's value, track's value) for every setting but the initial controller values.
template <typename Visit> void ForEachSetting(TrackSettings& s, Track& t, Visit&& visit)
{
    visit(1u << 0, s.kind, t.kind);
    visit(1u << 1, s.name, t.name);
    visit(1u << 2, s.play, t.play);
    visit(1u << 3, s.outputPort, t.outputPort);
    visit(ChannelField, s.outputChannel, t.outputChannel);
    visit(1u << 5, s.inputPort, t.inputPort);
    visit(1u << 6, s.inputChannel, t.inputChannel);
    visit(1u << 7, s.keyOffset, t.keyOffset);
    visit(1u << 8, s.timeOffset, t.timeOffset);
    visit(1u << 9, s.velocityOffset, t.velocityOffset);
    visit(1u << 10, s.initialParameters, t.initialParameters);
    visit(1u << 11, s.destinations, t.destinations);
    visit(1u << 12, s.destinationController, t.destinationController);
    visit(1u << 13, s.defaultClef, t.defaultClef);
    visit(1u << 14, s.splitKey, t.splitKey);
    visit(1u << 15, s.colour, t.colour);
    visit(1u << 16, s.textColour, t.textColour);
    visit(1u << 17, s.outputPortName, t.outputPortName);
}

constexpr int32_t LeaveAsIs = -2;

} // namespace

void TrackPropertyDelta::Apply(Song& song, StepEffects& effects)
{
    const int limit = static_cast<int>(song.tracks.size()) - 1; // not the trailing track
    for (Entry& entry : entries_) {
        if (entry.number < 0 || entry.number >= limit)
            continue;
        Track& track = *song.tracks[static_cast<size_t>(entry.number)];
        const int32_t oldChannel = track.outputChannel;

        if (!entry.applied) {
            uint32_t differing = 0;
            ForEachSetting(entry.settings, track, [&](uint32_t bit, auto& mine, auto& theirs) {
                if (!(mine == theirs))
                    differing |= bit;
            });
            entry.fields = differing;
            for (int slot = 0; slot < InitialSlotCount; ++slot)
                if (entry.settings.initial[slot] == track.initial[slot])
                    entry.settings.initial[slot] = LeaveAsIs;
            entry.applied = true;
        }
        ForEachSetting(entry.settings, track, [&](uint32_t bit, auto& mine, auto& theirs) {
            if (entry.fields & bit)
                std::swap(mine, theirs);
        });
        for (int slot = 0; slot < InitialSlotCount; ++slot)
            if (entry.settings.initial[slot] >= -1)
                std::swap(entry.settings.initial[slot], track.initial[slot]);

        if ((entry.fields & ChannelField) && track.outputChannel != oldChannel) {
            std::vector<uint8_t> before;
            size_t channelEvents = 0;
            for (const SongEvent& event : track.events)
                if (event.IsChannelMessage()) {
                    before.push_back(event.Channel());
                    ++channelEvents;
                }
            const bool restore = entry.channels.size() == channelEvents;
            size_t i = 0;
            for (SongEvent& event : track.events) {
                if (!event.IsChannelMessage())
                    continue;
                event.SetChannel(restore ? entry.channels[i] : static_cast<uint8_t>(track.outputChannel));
                ++i;
            }
            entry.channels = std::move(before);
            effects.TouchTrack(entry.number);
        }
        effects.propertyTracks.push_back(entry.number);
        effects.allTracks = true; // settings feed the encoding of the track's whole group
    }
}

} // namespace cantivo
