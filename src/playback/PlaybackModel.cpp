#include "playback/PlaybackModel.h"

#include "playback/PortTable.h"
#include "song/Song.h"
#include "song/TimeCode.h"

#include <algorithm>

namespace cantivo {

int PlaybackModel::FindMeasure(int32_t tick) const
{
    if (measures.empty())
        return -1;
    auto after = std::upper_bound(measures.begin(), measures.end(), tick,
                                  [](int32_t value, const Measure& measure) { return value < measure.start; });
    return std::max(0, static_cast<int>(after - measures.begin()) - 1);
}

std::unique_ptr<PlaybackModel> BuildPlaybackModel(const Song& song, PortTable& ports,
                                                  const std::vector<std::string>& names, int32_t gridTicks)
{
    auto model = BuildUnattachedModel(song, gridTicks);
    AttachPorts(*model, ports, names);
    return model;
}

void AttachPorts(PlaybackModel& model, PortTable& ports, const std::vector<std::string>& names)
{
    for (PlaybackTrack& track : model.tracks) {
        const auto logical = static_cast<size_t>(track.logicalPort);
        track.portName = track.midi && track.logicalPort >= 0 && logical < names.size() ? names[logical] : "";
        track.port = track.midi ? ports.OutputForLogical(track.logicalPort) : nullptr;
    }
}

std::unique_ptr<PlaybackModel> BuildUnattachedModel(const Song& song, int32_t gridTicks)
{
    auto model = std::make_unique<PlaybackModel>();
    model->song = &song;
    model->timebase = song.timebase == 0 ? 120 : song.timebase;
    model->measures = song.measures;
    model->endTick = song.measures.empty() ? std::max(song.songEnd, 0) : song.measures.back().start;
    model->tempoMap = song.tempoMap;
    for (const auto& cue : song.cues)
        model->cues.push_back(*cue);
    model->gridTicks = std::max(gridTicks, 1);
    const Song::SmpteOffset& offset = song.smpteOffset;
    const int rate = std::clamp(offset.rateCode, 0, 3);
    model->smpteOffset = TimeCodeToMicroseconds({offset.hours, offset.minutes, offset.seconds, offset.frames}, rate);
    const size_t count = song.tracks.empty() ? 0 : song.tracks.size() - 1;
    model->tracks.resize(count);
    model->play = std::make_unique<std::atomic<uint8_t>[]>(count);
    model->cursors.resize(count);
    for (size_t i = 0; i < count; ++i) {
        const Track& track = *song.tracks[i];
        PlaybackTrack& out = model->tracks[i];
        out.trackNumber = static_cast<int>(i);
        out.midi = !track.IsAudio();
        out.logicalPort = track.outputPort;
        out.channel = static_cast<uint8_t>(track.outputChannel & 0x0F);
        out.patchTag = static_cast<uint8_t>(PatchTag(track.initial[InitPatch]));
        out.inputPort = track.inputPort;
        out.inputChannel = track.inputChannel;
        out.keyOffset = track.keyOffset;
        out.initial = track.initial;
        out.image = track.image;
        out.snapshots = track.snapshots;
        model->play[i].store(track.play != 0 ? 1 : 0, std::memory_order_relaxed);
        model->cursors[i].nextEventTime = NoEventLeft;
    }
    return model;
}

} // namespace cantivo
