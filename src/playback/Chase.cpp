#include "playback/Chase.h"

#include "playback/MidiOutPort.h"
#include "playback/PlaybackModel.h"
#include "song/RawEventReader.h"

#include <algorithm>

namespace cantivo {

namespace {

// The chased list's slot for a message's kind: per channel, the controllers by number, then program,
// pressure and bend. -1 for anything the chase does not follow.
int KeyOf(uint32_t message)
{
    const int status = static_cast<int>(message & 0xFF);
    const int channel = status & 0x0F;
    switch (status & 0xF0) {
    case 0xB0:
        return channel * 131 + static_cast<int>((message >> 8) & 0x7F);
    case 0xC0:
        return channel * 131 + 128;
    case 0xD0:
        return channel * 131 + 129;
    case 0xE0:
        return channel * 131 + 130;
    default:
        return -1;
    }
}

uint32_t Pack(int status, int data1, int data2)
{
    return static_cast<uint32_t>(status & 0xFF) | static_cast<uint32_t>(data1 & 0x7F) << 8 |
           static_cast<uint32_t>(data2 & 0x7F) << 16;
}

uint8_t Data1(uint32_t message)
{
    return static_cast<uint8_t>((message >> 8) & 0x7F);
}
uint8_t Data2(uint32_t message)
{
    return static_cast<uint8_t>((message >> 16) & 0x7F);
}

bool SustainDown(uint8_t value)
{
    return value != UnknownByte && value >= 64;
}

} // namespace

Chaser::Chaser()
{
    slotOfKey_.fill(-1);
}

bool Chaser::Merge(uint32_t message, int32_t tick, bool appendWhenNew)
{
    const int key = KeyOf(message);
    if (key < 0)
        return true; // not followed: nothing to do, nothing to send
    const int16_t slot = slotOfKey_[static_cast<size_t>(key)];
    if (slot >= 0) {
        ChasedMessage& entry = messages_[static_cast<size_t>(slot)];
        if (tick >= entry.tick)
            entry = {message & 0xFFFFFF, tick};
        return true;
    }
    if (!appendWhenNew)
        return false;
    if (messageCount_ < MaxMessages) {
        slotOfKey_[static_cast<size_t>(key)] = static_cast<int16_t>(messageCount_);
        messages_[static_cast<size_t>(messageCount_++)] = {message & 0xFFFFFF, tick};
    }
    return true;
}

void Chaser::AddNote(uint32_t taggedNote)
{
    // Full, the oldest is dropped: the port then cuts it, which is better than a note never ended.
    if (noteCount_ == MaxNotes) {
        std::copy(notes_.begin() + 1, notes_.end(), notes_.begin());
        --noteCount_;
    }
    notes_[static_cast<size_t>(noteCount_++)] = taggedNote;
}

void Chaser::RemoveNote(uint32_t taggedNote)
{
    // Tag, status and key; any velocity.
    const uint32_t identity = taggedNote & 0xFF00FFFF;
    for (int i = 0; i < noteCount_; ++i) {
        if ((notes_[static_cast<size_t>(i)] & 0xFF00FFFF) == identity) {
            std::copy(notes_.begin() + i + 1, notes_.begin() + noteCount_, notes_.begin() + i);
            --noteCount_;
            return;
        }
    }
}

int32_t Chaser::Chase(PlaybackModel& model, int32_t target, SequencerState state)
{
    target = std::min(target, model.endTick);
    if (state == SequencerState::Playing || state == SequencerState::Starting) {
        for (const Cue& cue : model.cues) {
            if (cue.AnchorTime() < target)
                continue;
            if (cue.kind == CueSkip && cue.stopAt == target)
                target = std::min(cue.restartAt, model.endTick);
            break;
        }
    }
    const int32_t at = std::max(target, 0);
    const size_t count = model.tracks.size();
    std::array<bool, 256> handled{};
    for (size_t i = 0; i < count && i < handled.size(); ++i) {
        const PlaybackTrack& track = model.tracks[i];
        RawReadState& cursor = model.cursors[i];
        if (!track.midi)
            handled[i] = true; // audio clips are positioned by the audio side
        if (const SnapshotBlock* block = track.snapshots.BlockAt(at)) {
            cursor.cursor = block->imagePosition;
            cursor.nextEventTime = block->itemTime;
            cursor.runningStatus = block->runningStatus;
        } else {
            cursor.nextEventTime = NoEventLeft;
        }
    }
    for (size_t i = 1; i < count && i < handled.size(); ++i) {
        const PlaybackTrack& lead = model.tracks[i];
        if (handled[i] || !lead.midi || lead.port == nullptr)
            continue;
        int members = 0;
        for (size_t j = i; j < count && j < handled.size(); ++j) {
            const PlaybackTrack& other = model.tracks[j];
            if (handled[j] || !other.midi || other.port != lead.port || other.channel != lead.channel)
                continue;
            handled[j] = true;
            if (model.Plays(j))
                group_[static_cast<size_t>(members++)] = static_cast<int>(j);
        }
        if (members == 0)
            continue;
        // Terminated by -1 so ChaseGroup knows the group's size without another member.
        if (members < static_cast<int>(group_.size()))
            group_[static_cast<size_t>(members)] = -1;
        ChaseGroup(model, static_cast<int>(i), at, state);
    }
    return at;
}

void Chaser::ChaseGroup(PlaybackModel& model, int first, int32_t target, SequencerState state)
{
    messageCount_ = 0;
    noteCount_ = 0;
    int members = 0;
    while (members < static_cast<int>(group_.size()) && group_[static_cast<size_t>(members)] >= 0)
        ++members;

    // Gather what the snapshots hold at the block start.
    for (int m = 0; m < members; ++m) {
        const PlaybackTrack& track = model.tracks[static_cast<size_t>(group_[static_cast<size_t>(m)])];
        const SnapshotBlock* block = track.snapshots.BlockAt(target);
        if (block == nullptr)
            continue;
        for (const SnapshotMessage& stored : track.snapshots.Messages(*block))
            Merge(stored.message, stored.time, true);
        const auto notes = track.snapshots.Notes(*block);
        for (auto note = notes.rbegin(); note != notes.rend(); ++note)
            AddNote(*note);
    }

    // Play forward from the block start to the target.
    PlaybackTrack& lead = model.tracks[static_cast<size_t>(first)];
    for (;;) {
        int32_t next = NoEventLeft;
        for (int m = 0; m < members; ++m)
            next = std::min(next, model.cursors[static_cast<size_t>(group_[static_cast<size_t>(m)])].nextEventTime);
        if (next == NoEventLeft || next > target)
            break;
        for (int m = 0; m < members; ++m) {
            const auto index = static_cast<size_t>(group_[static_cast<size_t>(m)]);
            const PlaybackTrack& track = model.tracks[index];
            RawReadState& cursor = model.cursors[index];
            const RawEventReader reader(track.image);
            RawEvent event;
            while (cursor.nextEventTime == next && reader.Next(cursor, event)) {
                const uint8_t type = event.status & 0xF0;
                const uint32_t message = Pack(event.status, event.data1, event.data2);
                if (type == 0x90) {
                    const uint32_t tagged = message | uint32_t{track.patchTag} << 24;
                    if (event.data2 > 0)
                        AddNote(tagged);
                    else
                        RemoveNote(tagged);
                } else if (type == 0xB0) {
                    // A bank select is kept for the program change it belongs to: sent at once, the
                    // synthesizer would take the new bank with the old program left unsent.
                    const bool bank = event.data1 == 0 || event.data1 == 32;
                    if (!Merge(message, event.time, bank))
                        track.port->SetController(event.status & 0x0F, event.data1, event.data2);
                } else if (type == 0xC0 || type == 0xD0 || type == 0xE0) {
                    // The gathering step appends a kind it meets first; so does playing forward.
                    Merge(message, event.time, true);
                }
            }
        }
    }

    uint8_t pendingSustain = lead.port->Controller(lead.channel, 64);
    ApplyMessages(lead, state, pendingSustain);
    if (state == SequencerState::Starting)
        ApplyNotes(lead, pendingSustain);
    if (pendingSustain != lead.port->Controller(lead.channel, 64))
        lead.port->SetController(lead.channel, 64, pendingSustain);

    for (int i = 0; i < messageCount_; ++i)
        slotOfKey_[static_cast<size_t>(KeyOf(messages_[static_cast<size_t>(i)].message))] = -1;
}

void Chaser::ApplyMessages(PlaybackTrack& lead, SequencerState state, uint8_t& pendingSustain)
{
    MidiOutPort& port = *lead.port;
    // Bank selects first: they only mark the program unknown, which must happen before the program
    // change is compared, whatever order the kinds were first met in.
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < messageCount_; ++i) {
            const ChasedMessage& entry = messages_[static_cast<size_t>(i)];
            if (entry.tick < 0)
                continue;
            const uint32_t message = entry.message;
            const int status = static_cast<int>(message & 0xFF);
            const int channel = status & 0x0F;
            const int type = status & 0xF0;
            const bool bank = type == 0xB0 && (Data1(message) == 0 || Data1(message) == 32);
            if ((pass == 0) != bank)
                continue;
            if (type == 0xB0) {
                const int number = Data1(message);
                const uint8_t value = Data2(message);
                if (port.Controller(channel, number) == value)
                    continue;
                if (bank) {
                    port.StoreController(channel, number, value);
                    port.StoreProgram(channel, UnknownByte);
                } else if (number == 64) {
                    if (state != SequencerState::Starting)
                        continue;
                    if (channel == lead.channel) {
                        pendingSustain = value;
                        if (value == 0)
                            port.SetController(channel, 64, 0);
                    } else {
                        port.SetController(channel, 64, value);
                    }
                } else {
                    port.SetController(channel, number, value);
                }
            } else if (type == 0xC0) {
                if (port.Program(channel) == Data1(message))
                    continue;
                port.StoreProgram(channel, Data1(message));
                for (int number : {0, 32})
                    if (const uint8_t value = port.Controller(channel, number); value != UnknownByte)
                        port.SendShort(Pack(0xB0 | channel, number, value));
                port.SendShort(message);
            } else if (type == 0xD0) {
                if (port.Pressure(channel) == Data1(message))
                    continue;
                port.StorePressure(channel, Data1(message));
                port.SendShort(message);
            } else if (type == 0xE0) {
                const auto value = static_cast<uint16_t>((message >> 8) & 0x7F7F);
                if (port.PitchBend(channel) == value)
                    continue;
                port.StorePitchBend(channel, value);
                port.SendShort(message);
            }
        }
    }
}

void Chaser::ApplyNotes(PlaybackTrack& lead, uint8_t& pendingSustain)
{
    MidiOutPort& port = *lead.port;
    for (int slot = static_cast<int>(port.HeldNotes().size()) - 1; slot >= 0; --slot) {
        // Freeing a slot may shorten the table, so it is looked at afresh each time.
        const auto held = port.HeldNotes();
        const uint32_t note = static_cast<size_t>(slot) < held.size() ? held[static_cast<size_t>(slot)] : 0;
        if (note == 0 || (note & 0x0F) != lead.channel)
            continue;
        const auto kept = std::find(notes_.begin(), notes_.begin() + noteCount_, note);
        if (kept != notes_.begin() + noteCount_) {
            std::copy(kept + 1, notes_.begin() + noteCount_, kept);
            --noteCount_;
            continue;
        }
        if (SustainDown(port.Controller(lead.channel, 64))) {
            // The pedal would keep the cut note ringing: lift it first, and put it back afterwards.
            pendingSustain = port.Controller(lead.channel, 64);
            port.SetController(lead.channel, 64, 0);
        }
        port.SendShort(note & 0xFFFF);
        port.ForgetHeldSlot(slot);
    }
    for (int i = noteCount_ - 1; i >= 0; --i) {
        const uint32_t note = notes_[static_cast<size_t>(i)];
        port.SendAndHold(note & 0xFFFFFF, static_cast<uint8_t>(note >> 24));
    }
}

} // namespace cantivo
