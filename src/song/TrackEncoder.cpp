#include "song/TrackEncoder.h"

#include "song/AudioClip.h"
#include "song/SnapshotRecorder.h"
#include "song/Track.h"
#include "song/TrackByteWriter.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <string_view>

namespace cantivo {

namespace {

constexpr int64_t Never = std::numeric_limits<int64_t>::max();

// Initial controllers in the order the initial block sends them, as slots of Track::initial.
constexpr std::array<InitialSlot, 14> InitialBlockControllers = {
    InitVolume,  InitPan,    InitReverb,     InitChorus, InitDelay,       InitPortamento,   InitResonance,
    InitRelease, InitAttack, InitBrightness, InitDecay,  InitVibratoRate, InitVibratoDepth, InitVibratoDelay};

// Registered parameters in the order the initial block sends them: 0, 1, 2, 5.
constexpr std::array<ParameterSlot, 4> InitialBlockParameters = {ParamBendRange, ParamFineTuning, ParamCoarseTuning,
                                                                 ParamModulationRange};

// The latest note-on struck at a channel and key, with its write order.
using PendingNoteOff = PendingNoteOffs::NoteOff;

uint8_t KeyIntoRange(int key, bool& clipped)
{
    if (key > 127) {
        key -= (key - 127 + 11) / 12 * 12;
        clipped = true;
    } else if (key < 0) {
        key += (-key + 11) / 12 * 12;
        clipped = true;
    }
    return static_cast<uint8_t>(key);
}

// A track's time offset is kept in 16 bits in the file (offset + 0x8000); the encoder writes and
// applies it clamped to that range, so a track never reads back shifted the other way.
int32_t StorableTimeOffset(int32_t offset)
{
    return std::clamp<int32_t>(offset, -32768, 32767);
}

class Encoder final : private TrackItemObserver {
  public:
    Encoder(Track& track, int32_t snapshotInterval, InitialMarking marking, size_t entryLimit)
        : track_(track), channel_(static_cast<uint8_t>(track.outputChannel & 0x0F)),
          marked_(marking == InitialMarking::Marked), timeOffset_(StorableTimeOffset(track.timeOffset)),
          snapshots_(track.snapshots, snapshotInterval, PatchTag(track.initial[InitPatch]), entryLimit)
    {
    }

    void Run();

  private:
    // ---- output ----
    // Before an item at or after the next block start is written: stores the snapshots of the blocks
    // that start at or before it; returns the next block start.
    int64_t ItemReached(int32_t time, size_t position) override;
    void PutChannelMessage(int32_t time, uint8_t status, uint8_t data1, uint8_t data2, int dataBytes);
    void PutMeta(int32_t time, uint8_t type, const uint8_t* data, size_t size) { out_.PutMeta(time, type, data, size); }
    void PutProgramMeta(int32_t time, uint8_t subtype, std::initializer_list<uint8_t> values)
    {
        out_.PutProgramMeta(time, subtype, values);
    }
    void PutController(int32_t time, uint8_t controller, uint8_t value, uint8_t channel)
    {
        PutChannelMessage(time, static_cast<uint8_t>(0xB0 | channel), controller, value, 2);
    }
    void PutController(int32_t time, uint8_t controller, uint8_t value)
    {
        PutController(time, controller, value, channel_);
    }

    // ---- the parts of a track ----
    void PutSettings();
    // An audio track has no sounds to choose; its block carries only what the audio mix follows.
    bool SendsProgram() const { return !track_.IsAudio(); }
    int InitialBlockItems() const;
    void PutInitialBlock(int32_t time);
    void PutDestinationMessage(int32_t time, uint8_t subtype, const int32_t* ranges, int controller);
    void PutEvent(const SongEvent& event);
    void PutNote(const SongEvent& event, int32_t time);
    void PutParameter(const SongEvent& event, int32_t time);
    void PutSysex(const SongEvent& event, int32_t time);
    void PutClip(const SongEvent& event, int32_t time);
    void PutNoteOff();

    // The time an item is written at: shifted by the time offset, never before 0. Only events count
    // as clipped; an initial block moved up to 0 loses nothing.
    int32_t Shifted(int64_t time, bool flagClipping = true);

    Track& track_;
    const uint8_t channel_;
    const bool marked_;
    const int32_t timeOffset_;

    TrackByteWriter out_{true};
    int32_t end_ = 0; // the end of the clips; the track ends at least at its last item
    uint8_t clipFlags_ = 0;
    // The parameter last selected on the track's channel: registered or not in bit 16, number below;
    // -1 when unknown.
    int32_t selectedParameter_ = -1;

    PendingNoteOffs pending_;

    SnapshotRecorder snapshots_;
};

int32_t Encoder::Shifted(int64_t time, bool flagClipping)
{
    time += timeOffset_;
    if (time < 0) {
        if (flagClipping && timeOffset_ != 0)
            clipFlags_ |= ClipTime;
        return 0;
    }
    return static_cast<int32_t>(std::min<int64_t>(time, std::numeric_limits<int32_t>::max()));
}

int64_t Encoder::ItemReached(int32_t time, size_t position)
{
    snapshots_.StoreBlocks(static_cast<uint32_t>(position), time, out_.RunningStatus());
    return snapshots_.NextBlockStart();
}

void Encoder::PutChannelMessage(int32_t time, uint8_t status, uint8_t data1, uint8_t data2, int dataBytes)
{
    out_.PutChannelMessage(time, status, data1, data2, dataBytes);
    snapshots_.ChannelMessage(status, data1 & 0x7F, dataBytes == 2 ? static_cast<uint8_t>(data2 & 0x7F) : 0,
                              out_.LastTime());
}

void Encoder::PutSettings()
{
    const Track& t = track_;
    PutMeta(0, 0x03, reinterpret_cast<const uint8_t*>(t.name.data()), t.name.size());
    const uint8_t port = static_cast<uint8_t>(t.outputPort);
    PutMeta(0, 0x21, &port, 1);
    if (t.kind != 0)
        PutProgramMeta(0, ProgramMeta::TrackKind, {static_cast<uint8_t>(t.kind)});
    if (t.inputPort != 0)
        PutProgramMeta(0, ProgramMeta::InputPort, {static_cast<uint8_t>(t.inputPort)});
    if (t.inputChannel != -1)
        PutProgramMeta(0, ProgramMeta::InputChannel, {static_cast<uint8_t>(t.inputChannel)});
    if (t.defaultClef != 0)
        PutProgramMeta(0, ProgramMeta::DefaultClef, {static_cast<uint8_t>(t.defaultClef)});
    if (t.splitKey != 0)
        PutProgramMeta(0, ProgramMeta::SplitKey, {static_cast<uint8_t>(t.splitKey + 60)});
    PutProgramMeta(0, ProgramMeta::TrackColour,
                   {static_cast<uint8_t>(t.colour & 0xFF), static_cast<uint8_t>((t.colour >> 8) & 0xFF),
                    static_cast<uint8_t>((t.colour >> 16) & 0xFF)});
    if (t.keyOffset != 0)
        PutProgramMeta(0, ProgramMeta::KeyOffset, {static_cast<uint8_t>(t.keyOffset + 128)});
    if (timeOffset_ != 0) {
        const auto biased = static_cast<uint32_t>(timeOffset_ + 0x8000);
        PutProgramMeta(0, ProgramMeta::TimeOffset,
                       {static_cast<uint8_t>(biased & 0xFF), static_cast<uint8_t>((biased >> 8) & 0xFF)});
    }
    if (t.velocityOffset != 0)
        PutProgramMeta(0, ProgramMeta::VelocityOffset, {static_cast<uint8_t>(t.velocityOffset + 128)});
    if (t.play == 0)
        PutProgramMeta(0, ProgramMeta::PlayFlag, {0});
    if (!marked_)
        return;
    PutProgramMeta(0, ProgramMeta::MarkedTrack, {});
    // The output channel, which no message need name (a track without notes, or whose first note
    // plays on another channel), as the standard channel prefix. Right after the marker, so the reader
    // knows it from a channel prefix among the track's events.
    PutMeta(0, 0x20, &channel_, 1);
}

// The MIDI items of the initial block, for the count its marker carries.
int Encoder::InitialBlockItems() const
{
    const Track& t = track_;
    auto isSet = [](int32_t value) { return value >= 0; };
    int items = 0;
    for (ParameterSlot slot : InitialBlockParameters)
        items += t.initialParameters[slot] >= 0 ? 4 : 0;
    items += SendsProgram() && t.initial[InitBank] >= 0 ? 2 : 0;
    items += SendsProgram() && t.initial[InitPatch] >= 0 ? 1 : 0;
    for (InitialSlot slot : InitialBlockControllers)
        items += t.initial[slot] >= 0 ? 1 : 0;
    items += std::any_of(&t.destinations[0], &t.destinations[6], isSet) ? 1 : 0;
    items += t.destinationController >= 0 || std::any_of(&t.destinations[12], &t.destinations[18], isSet) ? 1 : 0;
    return items;
}

void Encoder::PutInitialBlock(int32_t time)
{
    const Track& t = track_;
    // The marker counts the items that follow: an event of the track at the same tick may look just
    // like a block item.
    if (marked_) {
        const int items = InitialBlockItems();
        if (items == 0)
            return;
        PutProgramMeta(time, ProgramMeta::InitialBlock, {static_cast<uint8_t>(items)});
    }
    for (ParameterSlot slot : InitialBlockParameters) {
        const int32_t value = t.initialParameters[slot];
        if (value < 0)
            continue;
        const int rpn = ParameterSlotRpn[slot];
        PutController(time, 101, 0);
        PutController(time, 100, static_cast<uint8_t>(rpn));
        PutController(time, 6, static_cast<uint8_t>(value >> 7));
        PutController(time, 38, static_cast<uint8_t>(value));
        selectedParameter_ = 1 << 16 | rpn;
    }
    if (SendsProgram() && t.initial[InitBank] >= 0) {
        PutController(time, 0, static_cast<uint8_t>(t.initial[InitBank] >> 7));
        PutController(time, 32, static_cast<uint8_t>(t.initial[InitBank]));
    }
    if (SendsProgram() && t.initial[InitPatch] >= 0)
        PutChannelMessage(time, static_cast<uint8_t>(0xC0 | channel_), static_cast<uint8_t>(t.initial[InitPatch]), 0,
                          1);
    for (InitialSlot slot : InitialBlockControllers) {
        if (t.initial[slot] >= 0)
            PutController(time, static_cast<uint8_t>(InitialSlotController[slot]),
                          static_cast<uint8_t>(t.initial[slot]));
    }
    PutDestinationMessage(time, 0x01, &t.destinations[0], -1);
    PutDestinationMessage(time, 0x03, &t.destinations[12], t.destinationController);
}

// The universal controller destination setting message, as a standard system-exclusive event with its
// length, so every MIDI file reader takes it; inside a marked initial block the reader knows it for the
// track's destination setting.
// `controller` is −1 for the channel-pressure message, which names none; the controller message is
// written when it names a controller or sets a range.
void Encoder::PutDestinationMessage(int32_t time, uint8_t subtype, const int32_t* ranges, int controller)
{
    const bool anyRange = std::any_of(ranges, ranges + 6, [](int32_t range) { return range >= 0; });
    if (!anyRange && (subtype == 0x01 || controller < 0))
        return;
    if (subtype == 0x03)
        controller = std::max(controller, 0);
    int pairs = 0;
    for (int parameter = 0; parameter < 6; ++parameter)
        pairs += ranges[parameter] >= 0 ? 1 : 0;
    // 7F 7F 09 subtype channel [controller] pairs F7: at most 19 bytes, so the length is one byte.
    const auto length = static_cast<uint8_t>(5 + (controller >= 0 ? 1 : 0) + 2 * pairs + 1);
    uint8_t message[2 + 19];
    size_t size = 0;
    for (uint8_t byte : {uint8_t{0xF0}, length, uint8_t{0x7F}, uint8_t{0x7F}, uint8_t{0x09}, subtype, channel_})
        message[size++] = byte;
    if (controller >= 0)
        message[size++] = static_cast<uint8_t>(controller & 0x7F);
    for (int parameter = 0; parameter < 6; ++parameter) {
        if (ranges[parameter] >= 0) {
            message[size++] = static_cast<uint8_t>(parameter);
            message[size++] = static_cast<uint8_t>(ranges[parameter] & 0x7F);
        }
    }
    message[size++] = 0xF7;
    out_.PutSysex(time, message, size);
}

void Encoder::PutNote(const SongEvent& event, int32_t time)
{
    bool keyClipped = false;
    const uint8_t key = KeyIntoRange(event.Data1() + track_.keyOffset, keyClipped);
    if (keyClipped)
        clipFlags_ |= ClipKey;
    int velocity = event.Data2() + track_.velocityOffset;
    if (velocity < 1 || velocity > 127) {
        // A velocity of 0 would turn the note into a note-off; keep it audible instead.
        velocity = std::clamp(velocity, 1, 127);
        clipFlags_ |= ClipVelocity;
    }
    PutChannelMessage(time, event.Status(), key, static_cast<uint8_t>(velocity), 2);
    const uint32_t message = event.Status() | uint32_t{key} << 8 | static_cast<uint32_t>(velocity) << 16;
    snapshots_.NoteStarted(message);
    if (event.spelling != -1 || event.notation != 0) {
        // The key as written, so the record names the note-on just before it; the reader takes the
        // key offset off both the same way.
        PutProgramMeta(time, ProgramMeta::NoteSpelling,
                       {key, static_cast<uint8_t>((event.notation + 1) * 16 + (event.spelling + 1))});
    }
    const int64_t duration = std::max<int32_t>(event.length, 0);
    pending_.Add(int64_t{event.time} + duration, message);
}

void Encoder::PutNoteOff()
{
    const PendingNoteOff note = pending_.Take();
    PutChannelMessage(Shifted(note.time), static_cast<uint8_t>(note.message & 0xFF),
                      static_cast<uint8_t>((note.message >> 8) & 0x7F), 0, 2);
    snapshots_.NoteEnded(note.message);
}

void Encoder::PutParameter(const SongEvent& event, int32_t time)
{
    const ParameterControllers controllers =
        ExpandParameter(event.Status() == StatusRpn, event.ParameterNumber(), event.length, selectedParameter_);
    for (int i = 0; i < controllers.count; ++i)
        PutController(time, controllers.messages[static_cast<size_t>(i)].first,
                      controllers.messages[static_cast<size_t>(i)].second);
}

void Encoder::PutSysex(const SongEvent& event, int32_t time)
{
    out_.PutSysex(time, event.Data(), event.DataSize());
}

void Encoder::PutClip(const SongEvent& event, int32_t time)
{
    const AudioClip* clip = event.ClipData();
    std::string_view name = clip ? std::string_view(clip->fileName) : std::string_view();
    // A clip in the song's own folder is saved by its relative name, so the song folder can move.
    const size_t relative = name.find("WaveData");
    if (relative != std::string_view::npos && relative > 0)
        name.remove_prefix(relative);
    PutMeta(time, 0x07, reinterpret_cast<const uint8_t*>(name.data()), name.size());
    end_ = static_cast<int32_t>(
        std::min<int64_t>(std::max<int64_t>(end_, int64_t{time} + std::max<int32_t>(event.length, 0)),
                          std::numeric_limits<int32_t>::max()));
}

void Encoder::PutEvent(const SongEvent& event)
{
    const int32_t time = Shifted(event.time);
    if (event.IsAudioClip()) {
        PutClip(event, time);
        return;
    }
    const uint8_t status = event.Status();
    switch (status & 0xF0) {
    case 0x90:
        PutNote(event, time);
        break;
    case 0x80:
    case 0xA0: {
        bool keyClipped = false;
        const uint8_t key = KeyIntoRange(event.Data1() + track_.keyOffset, keyClipped);
        if (keyClipped)
            clipFlags_ |= ClipKey;
        PutChannelMessage(time, status, key, event.Data2(), 2);
        break;
    }
    case 0xB0:
        // A raw parameter select on the track's channel leaves the selection unknown to us.
        if ((status & 0x0F) == channel_ && event.Data1() >= 98 && event.Data1() <= 101)
            selectedParameter_ = -1;
        PutChannelMessage(time, status, event.Data1(), event.Data2(), 2);
        break;
    case 0xE0:
        PutChannelMessage(time, status, event.Data1(), event.Data2(), 2);
        break;
    case 0xD0:
        PutChannelMessage(time, status, event.Data1(), 0, 1);
        break;
    case 0xC0:
        // On its own channel, like a controller: a program change for another channel must not change
        // the sound of the track's. A bank of −1 was never selected, so none is sent.
        if (event.length >= 0) {
            PutController(time, 0, static_cast<uint8_t>(event.length >> 7), event.Channel());
            PutController(time, 32, static_cast<uint8_t>(event.length), event.Channel());
        }
        PutChannelMessage(time, status, event.Data1(), 0, 1);
        break;
    case StatusRpn:
    case StatusNrpn:
        PutParameter(event, time);
        break;
    case 0xF0:
        if (status == 0xF0) {
            PutSysex(event, time);
        } else if (status == 0xFF && event.Data1() != 0x2F) {
            // An end-of-track meta in the middle would cut the track short when read back.
            PutMeta(time, event.Data1(), event.Data(), event.DataSize());
        }
        break;
    default:
        break;
    }
}

void Encoder::Run()
{
    Track& track = track_;
    track.formatVersion |= OffsetsApplied;

    out_.Reuse(std::move(track.image),
               64 + track.name.size() + track.events.size() * 8 + track.reSendTimes.size() * 96);
    out_.SetObserver(this, snapshots_.NextBlockStart());
    pending_.Reserve(64);

    PutSettings();

    const std::vector<SongEvent>& events = track.events;
    const std::vector<int32_t>& reSendTimes = track.reSendTimes;
    size_t nextEvent = 0;
    size_t nextReSend = 0;
    int64_t lastReSend = -1;
    for (;;) {
        const int64_t eventTime = nextEvent < events.size() ? events[nextEvent].time : Never;
        const int64_t noteOffTime = pending_.Empty() ? Never : pending_.Next().time;
        const int64_t itemTime = std::min(eventTime, noteOffTime);
        if (nextReSend < reSendTimes.size() && reSendTimes[nextReSend] <= itemTime) {
            const int32_t reSend = reSendTimes[nextReSend++];
            if (reSend != lastReSend)
                PutInitialBlock(Shifted(reSend, false));
            lastReSend = reSend;
            continue;
        }
        if (itemTime == Never)
            break;
        if (noteOffTime <= eventTime)
            PutNoteOff();
        else
            PutEvent(events[nextEvent++]);
    }

    // End of track, at the time of the last item.
    out_.PutEndOfTrack();

    track.end = std::max(end_, out_.LastTime());
    track.image = out_.Finish();
    track.clipFlags = clipFlags_;
    snapshots_.Finish(static_cast<uint32_t>(track.image.size()));
}

// The initial values the rule for lone tracks asks about. Any of them counts, not only bank, patch,
// volume, pan, reverb and chorus: a track with only a bend range would otherwise lose it on save.
bool HasInitialValues(const Track& track)
{
    auto isSet = [](int32_t value) { return value >= 0; };
    return std::any_of(track.initial.begin(), track.initial.end(), isSet) ||
           std::any_of(track.initialParameters.begin(), track.initialParameters.end(), isSet) ||
           std::any_of(track.destinations.begin(), track.destinations.end(), isSet) || track.destinationController >= 0;
}

bool JoinsGroups(const Track& track)
{
    return !track.IsAudio() && track.initial[InitPatch] >= 0;
}

} // namespace

void EncodeTrack(Track& track, int32_t snapshotInterval, InitialMarking marking, size_t snapshotEntryLimit)
{
    Encoder encoder(track, snapshotInterval, marking, snapshotEntryLimit);
    encoder.Run();
}

std::vector<int> ComputeReSendTimes(std::span<const std::unique_ptr<Track>> tracks, int32_t timebase, int trackNumber,
                                    const SameDeviceTest& sameDevice)
{
    if (trackNumber < 0 || static_cast<size_t>(trackNumber) >= tracks.size())
        throw std::out_of_range("ComputeReSendTimes: no such track");
    Track& self = *tracks[static_cast<size_t>(trackNumber)];
    std::vector<int> group;
    if (JoinsGroups(self)) {
        // Every track but the trailing empty one may share the channel.
        for (int number = 0; number + 1 < static_cast<int>(tracks.size()); ++number) {
            const Track& other = *tracks[static_cast<size_t>(number)];
            if (number == trackNumber || (JoinsGroups(other) && other.outputChannel == self.outputChannel &&
                                          sameDevice(self.outputPort, other.outputPort)))
                group.push_back(number);
        }
    } else {
        group.push_back(trackNumber);
    }

    for (int number : group)
        tracks[static_cast<size_t>(number)]->reSendTimes.clear();
    if (group.size() == 1) {
        // An audio track too: its image is never sent to a synthesizer, but its volume and pan, which
        // the audio mix follows, must reach the file.
        if (HasInitialValues(self))
            self.reSendTimes.push_back(0);
        return group;
    }

    // Walk the members' notes in time order; at equal times the higher track number goes first.
    std::vector<size_t> nextIndex(group.size(), 0);
    auto nextNote = [&](size_t member) -> const SongEvent* {
        const auto& events = tracks[static_cast<size_t>(group[member])]->events;
        size_t& index = nextIndex[member];
        while (index < events.size() && !events[index].IsNote())
            ++index;
        return index < events.size() ? &events[index] : nullptr;
    };
    const Track* previous = nullptr;
    int64_t groupEnd = -1;
    for (;;) {
        size_t chosen = group.size();
        const SongEvent* chosenNote = nullptr;
        for (size_t member = group.size(); member-- > 0;) {
            const SongEvent* note = nextNote(member);
            if (note && (!chosenNote || note->time < chosenNote->time)) {
                chosen = member;
                chosenNote = note;
            }
        }
        if (!chosenNote)
            break;
        Track& owner = *tracks[static_cast<size_t>(group[chosen])];
        if (!previous)
            owner.reSendTimes.push_back(0);
        else if (previous->initial[InitBank] != owner.initial[InitBank] ||
                 previous->initial[InitPatch] != owner.initial[InitPatch])
            owner.reSendTimes.push_back(chosenNote->time);
        previous = &owner;
        // The latest note end, not the end of the latest note: a member's patch must not change under a
        // note that is still sounding.
        groupEnd = std::max(groupEnd, int64_t{chosenNote->time} + std::max<int32_t>(chosenNote->length, 0));
        ++nextIndex[chosen];
    }

    const int32_t afterGroup =
        groupEnd < 0
            ? 0
            : static_cast<int32_t>(std::min<int64_t>(groupEnd + timebase, std::numeric_limits<int32_t>::max()));
    for (int number : group) {
        Track& member = *tracks[static_cast<size_t>(number)];
        if (member.reSendTimes.empty() && HasInitialValues(member))
            member.reSendTimes.push_back(afterGroup);
    }
    return group;
}

} // namespace cantivo
