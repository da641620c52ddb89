#include "song/TrackReader.h"

#include "song/AudioClip.h"
#include "song/OpenNotes.h"
#include "song/ProgramMeta.h"
#include "song/RawEventReader.h"
#include "song/Track.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>

namespace cantivo {

namespace {

constexpr int32_t NoParameter = 16383;

// A key moved into 0-127 by whole octaves.
uint8_t FoldKey(int64_t key)
{
    if (key < 0)
        key += 12 * ((-key + 11) / 12);
    if (key > 127)
        key -= 12 * ((key - 127 + 11) / 12);
    return static_cast<uint8_t>(key);
}

// What a first pass over a user track's chunk tells before its events are read.
struct TrackSurvey {
    size_t storedEvents = 0; // an upper bound of the events kept
    // The settings carry ProgramMeta 40: the track's initial values are in its marked blocks alone.
    bool marked = false;
    // For a track without the marker, the output channel the reading rules give it: the first note's,
    // else that of the last program change or controller (or of a channel prefix at tick 0), −1 when
    // nothing names one. Known before reading, so only messages on that channel fold into the track's
    // initial values, which always go out on the output channel.
    int outputChannel = -1;
};

TrackSurvey SurveyTrack(const Track& track)
{
    TrackSurvey survey;
    const RawEventReader reader(track.image);
    RawReadState state;
    reader.Start(state);
    RawEvent event;
    bool noteSeen = false;
    while (reader.Next(state, event)) {
        const uint8_t type = event.status & 0xF0;
        const bool noteOff = type == 0x80 || (type == 0x90 && event.data2 == 0);
        if (!noteOff)
            ++survey.storedEvents;
        if (type == 0x90 && !noteOff) {
            if (!noteSeen)
                survey.outputChannel = event.status & 0x0F;
            noteSeen = true;
        } else if ((type == 0xB0 || type == 0xC0) && !noteSeen) {
            survey.outputChannel = event.status & 0x0F;
        } else if (event.status == 0xFF && event.data1 == 0x20 && event.length >= 1 && event.time == 0 && !noteSeen) {
            survey.outputChannel = event.data[0] & 0x0F;
        } else if (event.time == 0 && IsProgramMeta(event) && event.data[2] == ProgramMeta::MarkedTrack) {
            survey.marked = true;
        }
    }
    return survey;
}

// The controller destination record: F0, [length,] 7F, device, 09, 01 (channel pressure) or 03
// (controller), channel, [controller,] (parameter, range) pairs, F7. Older saves wrote it without the
// length; `lengthByte` says whether one follows F0 (a standard message, one byte at these sizes).
// With `apply` the ranges set the track's destinations.
bool ReadDestinationRecord(Track& track, const uint8_t* d, uint32_t length, bool lengthByte, bool apply)
{
    const uint32_t skip = lengthByte ? 1 : 0;
    if (length < 6 + skip || d[3 + skip] != 9 || (d[4 + skip] != 1 && d[4 + skip] != 3))
        return false;
    if (lengthByte && (d[1] >= 0x80 || d[2] != 0x7F))
        return false;
    if (!apply)
        return true;
    const uint32_t end = length - 1; // the closing F7
    uint32_t at = 6 + skip;
    int group = 0;
    if (d[4 + skip] == 3) {
        group = 12;
        if (at < end)
            track.destinationController = d[at++] & 0x7F;
    }
    for (; at + 1 < end; at += 2)
        if (d[at] < 6)
            track.destinations[static_cast<size_t>(group + d[at])] = d[at + 1] & 0x7F;
    return true;
}

// The slot of an initial controller, or −1.
int InitialSlotOf(int controller)
{
    for (int slot = InitPan; slot < InitialSlotCount; ++slot)
        if (InitialSlotController[static_cast<size_t>(slot)] == controller)
            return slot;
    return -1;
}

// The slot of a registered parameter whose value a track keeps as a setting, or −1.
int ParameterSlotOf(int32_t rpn)
{
    for (int slot = 0; slot < ParameterSlotCount; ++slot)
        if (ParameterSlotRpn[static_cast<size_t>(slot)] == rpn)
            return slot;
    return -1;
}

// A 14-bit value with its high or low 7 bits replaced; an unset value (−1) starts from 0.
int32_t WithBits(int32_t value, int32_t bits, bool high)
{
    const int32_t current = value < 0 ? 0 : value;
    return high ? (current & 0x7F) | bits << 7 : (current & ~0x7F) | bits;
}

// Reads a user track. Two layouts: a track this program saved carries ProgramMeta 40 and announces each
// initial block with ProgramMeta 41 and the count of its items; the first block gives the initial values
// and every other program change, controller and parameter stays an event as written. Any other track
// (another program's, or one saved before the marking) folds its first program and controllers on its
// output channel, and registered parameters before its first note, into its initial values.
class TrackParser {
  public:
    explicit TrackParser(Track& track) : track_(track), open_(0) {}

    void Run()
    {
        Track& track = track_;
        const TrackSurvey survey = SurveyTrack(track);
        marked_ = survey.marked;
        if (!marked_ && survey.outputChannel >= 0)
            track.outputChannel = survey.outputChannel;
        track.name = "(Untitled)";
        track.end = 0;
        track.initial.fill(-1);
        track.initialParameters.fill(-1);
        track.destinations.fill(-1);
        track.destinationController = -1;
        track.events.clear();
        track.events.shrink_to_fit();
        track.events.reserve(survey.storedEvents);
        open_ = OpenNotes(track.events.capacity());
        lastValue_.fill(-1);
        bank_.fill(-1);
        const RawEventReader reader(track.image);
        RawReadState cursor;
        reader.Start(cursor);
        RawEvent event;
        while (reader.Next(cursor, event)) {
            UndoOffsets(event);
            track.end = std::max(track.end, event.time);
            justAfterMarker_ = markerRead_;
            markerRead_ = false;
            if (blockItemsLeft_ > 0) {
                if (event.time == blockTime_ && BlockItem(event)) {
                    --blockItemsLeft_;
                    continue;
                }
                blockItemsLeft_ = 0;
            }
            Handle(event);
        }
    }

  private:
    // The file's events carry the offsets known so far (their settings stand at time 0, before the
    // events they apply to); the song keeps the events as they were before the offsets.
    void UndoOffsets(RawEvent& event)
    {
        if (!(track_.formatVersion & OffsetsApplied))
            return;
        const uint8_t type = event.status & 0xF0;
        if (track_.keyOffset != 0 && (type == 0x80 || type == 0x90 || type == 0xA0))
            event.data1 = FoldKey(int64_t{event.data1} - track_.keyOffset);
        if (track_.velocityOffset != 0 && type == 0x90 && event.data2 != 0)
            event.data2 =
                static_cast<uint8_t>(std::clamp<int64_t>(int64_t{event.data2} - track_.velocityOffset, 1, 127));
        if (track_.timeOffset != 0)
            event.time =
                static_cast<int32_t>(std::clamp<int64_t>(int64_t{event.time} - track_.timeOffset, 0, LastTick));
    }

    void Keep(const SongEvent& event) { track_.events.push_back(event); }

    // Only the output channel's first program and controllers are the track's sound: a message for
    // another channel folded into the initial values would move to the output channel.
    bool MayFold(uint8_t channel) const { return !marked_ && !noteSeen_ && channel == track_.outputChannel; }

    void Handle(const RawEvent& event)
    {
        const uint8_t type = event.status & 0xF0;
        const uint8_t channel = event.status & 0x0F;
        switch (type) {
        case 0x90:
            if (event.data2 > 0) {
                // In a plain track the survey has already taken this channel.
                if (!noteSeen_ && marked_ && !channelNamed_)
                    track_.outputChannel = channel;
                noteSeen_ = true;
                open_.Open(channel, event.data1, static_cast<int32_t>(track_.events.size()));
                Keep(SongEvent::Short(event.time, event.status, event.data1, event.data2));
                return;
            }
            [[fallthrough]];
        case 0x80:
            open_.CloseInto(track_.events, channel, event.data1, event.time);
            return;
        case 0xA0:
        case 0xD0:
        case 0xE0:
            Keep(SongEvent::Short(event.time, event.status, event.data1, event.data2));
            return;
        case 0xC0:
            ProgramChange(event);
            return;
        case 0xB0:
            Controller(event);
            return;
        default:
            break;
        }
        if (event.status == 0xF0) {
            // A saved track writes its destination records only inside its initial blocks.
            if (marked_ || !ReadDestinationRecord(track_, event.data, event.length, false, true))
                Keep(SongEvent::Sysex(event.time, event.data, event.length));
            return;
        }
        Meta(event);
    }

    // One item of a marked initial block: false when the event is no block item (the block then ends
    // and the event is read as usual). Only the first block sets the initial values; the later ones
    // repeat them, but their selections stand for the events after them.
    bool BlockItem(const RawEvent& event)
    {
        const uint8_t type = event.status & 0xF0;
        const uint8_t channel = event.status & 0x0F;
        if (event.status == 0xF0)
            return ReadDestinationRecord(track_, event.data, event.length, true, applyBlock_) ||
                   ReadDestinationRecord(track_, event.data, event.length, false, applyBlock_);
        if (type == 0xC0) {
            if (applyBlock_)
                track_.initial[InitPatch] = event.data1;
            return true;
        }
        if (type != 0xB0)
            return false;
        const int32_t value = event.data2;
        switch (event.data1) {
        case 0:
        case ProgramMeta::InputChannel:
            bank_[channel] = WithBits(bank_[channel], value, event.data1 == 0);
            if (applyBlock_)
                track_.initial[InitBank] = WithBits(track_.initial[InitBank], value, event.data1 == 0);
            return true;
        case 101:
        case 100:
            rpn_ = WithBits(rpn_, value, event.data1 == 101);
            nrpn_ = NoParameter;
            return true;
        case 6:
        case ProgramMeta::VelocityOffset: {
            const int slot = ParameterSlotOf(rpn_);
            if (slot < 0 || nrpn_ != NoParameter)
                return false;
            if (applyBlock_) {
                int32_t& initial = track_.initialParameters[static_cast<size_t>(slot)];
                initial = WithBits(initial, value, event.data1 == 6);
            }
            return true;
        }
        default: {
            const int slot = InitialSlotOf(event.data1);
            if (slot < 0)
                return false;
            if (applyBlock_)
                track_.initial[static_cast<size_t>(slot)] = value;
            return true;
        }
        }
    }

    void ProgramChange(const RawEvent& event)
    {
        const int32_t program = event.data1;
        // The bank selected on the program's channel; −1 when none was, and then none is written back.
        const int32_t bank = bank_[event.status & 0x0F];
        SongEvent change = SongEvent::Short(event.time, event.status, event.data1);
        change.length = bank;
        if (marked_) {
            Keep(change);
            return;
        }
        // Only a program chosen before the track plays its first note is the track's sound; a later
        // first program change is a change in the music and stays an event.
        if (track_.initial[InitPatch] < 0 && MayFold(event.status & 0x0F)) {
            track_.initial[InitPatch] = program;
            track_.initial[InitBank] = bank;
        } else if (program != lastProgram_ || bank != lastBank_) {
            Keep(change);
        }
        lastProgram_ = program;
        lastBank_ = bank;
    }

    // The track's last event if it is a parameter event of the given kind and number.
    SongEvent* LastParameter(uint8_t status, int32_t number)
    {
        if (track_.events.empty())
            return nullptr;
        SongEvent& last = track_.events.back();
        return last.Status() == status && static_cast<int32_t>(last.ParameterNumber()) == number ? &last : nullptr;
    }

    void DataEntry(const RawEvent& event, bool low)
    {
        const int32_t data = event.data2;
        if (nrpn_ != NoParameter) {
            if (!low) {
                Keep(SongEvent::Parameter(event.time, false, static_cast<uint32_t>(nrpn_), data * 128));
            } else if (SongEvent* last = LastParameter(StatusNrpn, nrpn_);
                       last && last->length >= 0 && last->length <= 16383) {
                last->length = (last->length & ~0x7F) | data;
            }
            return;
        }
        if (rpn_ == NoParameter)
            return;
        const int slot = ParameterSlotOf(rpn_);
        if (slot >= 0 && !noteSeen_ && !marked_) {
            int32_t& value = track_.initialParameters[static_cast<size_t>(slot)];
            value = WithBits(value, data, !low);
            return;
        }
        if (!low) {
            Keep(SongEvent::Parameter(event.time, true, static_cast<uint32_t>(rpn_), data * 128));
        } else if (SongEvent* last = LastParameter(StatusRpn, rpn_);
                   last && last->length >= 0 && last->length <= 16383) {
            last->length = (last->length & ~0x7F) | data;
        }
    }

    void Controller(const RawEvent& event)
    {
        const int controller = event.data1;
        const int32_t value = event.data2;
        const uint8_t channel = event.status & 0x0F;
        switch (controller) {
        case 0:
        case ProgramMeta::InputChannel:
            bank_[channel] = WithBits(bank_[channel], value, controller == 0);
            return;
        case 99:
        case 98:
            nrpn_ = WithBits(nrpn_, value, controller == 99);
            rpn_ = NoParameter;
            return;
        case 101:
        case 100:
            rpn_ = WithBits(rpn_, value, controller == 101);
            nrpn_ = NoParameter;
            return;
        case 6:
            DataEntry(event, false);
            return;
        case ProgramMeta::VelocityOffset:
            DataEntry(event, true);
            return;
        case 96:
        case 97: {
            const int32_t step = controller == 96 ? ParamIncrement : ParamDecrement;
            if (nrpn_ != NoParameter)
                Keep(SongEvent::Parameter(event.time, false, static_cast<uint32_t>(nrpn_), step));
            else if (rpn_ != NoParameter)
                Keep(SongEvent::Parameter(event.time, true, static_cast<uint32_t>(rpn_), step));
            return;
        }
        default:
            break;
        }
        const int slot = marked_ ? -1 : InitialSlotOf(controller);
        if (slot >= 0) {
            int32_t& last = lastValue_[static_cast<size_t>(slot)];
            // As for programs: a value set before the first note is the track's setting.
            if (track_.initial[static_cast<size_t>(slot)] < 0 && MayFold(channel))
                track_.initial[static_cast<size_t>(slot)] = value;
            else if (value != last)
                Keep(SongEvent::Short(event.time, event.status, event.data1, event.data2));
            last = value;
            return;
        }
        Keep(SongEvent::Short(event.time, event.status, event.data1, event.data2));
    }

    void Meta(const RawEvent& event)
    {
        const uint8_t* d = event.data;
        const uint32_t length = event.length;
        switch (event.data1) {
        case 0x01:
            // A saved track always names itself with a name record, so its texts are all events.
            if (!marked_ && event.time == 0 && track_.name == "(Untitled)") {
                track_.name = TextFrom(d, length, TextLimit);
                return;
            }
            break;
        case 0x03:
            track_.name = TextFrom(d, length, TextLimit);
            return;
        case 0x07: {
            auto clip = std::make_unique<AudioClip>(TextFrom(d, length, ClipNameLimit));
            Keep(SongEvent::Clip(event.time, std::move(clip)));
            return;
        }
        case 0x20:
            // The channel prefix right after the marker is the encoder's record of the output channel;
            // any other is an event (in a plain track the survey has read it).
            if (justAfterMarker_ && length >= 1) {
                track_.outputChannel = d[0] & 0x0F;
                channelNamed_ = true;
                return;
            }
            break;
        case 0x21:
            if (event.time == 0 && length >= 1)
                track_.outputPort = std::min<int32_t>(d[0], 15);
            return;
        case 0x7F:
            if (IsProgramMeta(event) && ProgramSetting(event))
                return;
            break;
        default:
            break;
        }
        Keep(SongEvent::Meta(event.time, event.data1, d, length));
    }

    // Applies the program's own track settings; false for a record that stays an ordinary meta event.
    bool ProgramSetting(const RawEvent& event)
    {
        const uint8_t* d = event.data;
        const uint32_t length = event.length;
        const uint8_t subtype = d[2];
        if (subtype == ProgramMeta::Gap)
            return true;
        if (subtype == ProgramMeta::MarkedTrack) {
            markerRead_ = marked_;
            return true;
        }
        if (subtype == ProgramMeta::InitialBlock) {
            if (marked_ && length >= 4) {
                blockItemsLeft_ = d[3];
                blockTime_ = event.time;
                applyBlock_ = !blockSeen_;
                blockSeen_ = true;
            }
            return true;
        }
        if (subtype != ProgramMeta::NoteSpelling &&
            (subtype < ProgramMeta::FirstTrackSetting || subtype > ProgramMeta::LastTrackSetting))
            return false;
        // Records too short for their values carry nothing to apply.
        if (subtype == ProgramMeta::NoteSpelling && length != 5)
            return true;
        if (subtype == ProgramMeta::TrackColour && length != 6)
            return true;
        if (length < 4 || (subtype == ProgramMeta::TimeOffset && length < 5))
            return true;
        switch (subtype) {
        case ProgramMeta::NoteSpelling: {
            if (track_.events.empty())
                return true;
            SongEvent& last = track_.events.back();
            // The record names the key as written, with the key offset applied.
            uint8_t key = d[3];
            if ((track_.formatVersion & OffsetsApplied) && track_.keyOffset != 0 && key < 128)
                key = FoldKey(int64_t{key} - track_.keyOffset);
            if ((last.kind & 0xFFF0) == (uint32_t{key} << 8 | 0x90)) {
                const int spelling = (d[4] & 15) - 1;
                last.spelling = static_cast<int8_t>(spelling <= 4 ? spelling : -1);
                last.notation = static_cast<uint8_t>(d[4] >> 4 == 0 ? 0 : (d[4] >> 4) - 1);
            }
            return true;
        }
        case ProgramMeta::TrackKind:
            track_.kind = d[3] < 2 ? d[3] : 1;
            return true;
        case ProgramMeta::InputPort:
            track_.inputPort = std::min<int32_t>(d[3], 15);
            return true;
        case ProgramMeta::InputChannel:
            track_.inputChannel = std::min<int32_t>(d[3], 15);
            return true;
        case ProgramMeta::DefaultClef:
            track_.defaultClef = d[3];
            return true;
        case ProgramMeta::SplitKey:
            track_.splitKey = int32_t{d[3]} - 60;
            return true;
        case ProgramMeta::TrackColour: {
            uint32_t colour = uint32_t{d[3]} | uint32_t{d[4]} << 8 | uint32_t{d[5]} << 16;
            if (colour == 0x10E010)
                colour = DefaultTrackColour;
            track_.colour = colour;
            track_.DeriveTextColour();
            return true;
        }
        case ProgramMeta::KeyOffset:
            track_.keyOffset = int32_t{d[3]} - 128;
            return true;
        case ProgramMeta::TimeOffset:
            track_.timeOffset = (int32_t{d[4]} - 128) * 256 + d[3];
            return true;
        case ProgramMeta::VelocityOffset:
            track_.velocityOffset = int32_t{d[3]} - 128;
            return true;
        case ProgramMeta::PlayFlag:
            track_.play = d[3] != 0 ? 1 : 0;
            return true;
        default:
            return false;
        }
    }

    Track& track_;
    OpenNotes open_;
    bool marked_ = false;
    bool noteSeen_ = false;
    // The bank selected on each channel, −1 until a bank select is seen there.
    std::array<int32_t, 16> bank_{};
    int32_t rpn_ = NoParameter;
    int32_t nrpn_ = NoParameter;
    int32_t lastProgram_ = -1;
    int32_t lastBank_ = -1;
    std::array<int32_t, InitialSlotCount> lastValue_{};
    // Marked tracks: the marker was the event just read (`markerRead_`) or the one before this
    // (`justAfterMarker_`); the channel prefix after it named the output channel.
    bool markerRead_ = false;
    bool justAfterMarker_ = false;
    bool channelNamed_ = false;
    // The initial block being read: items still to come, its tick, whether it sets the values.
    uint32_t blockItemsLeft_ = 0;
    int32_t blockTime_ = 0;
    bool applyBlock_ = false;
    bool blockSeen_ = false;
};

} // namespace

void ParseTrack(Song&, Track& track)
{
    TrackParser(track).Run();
}

} // namespace cantivo
