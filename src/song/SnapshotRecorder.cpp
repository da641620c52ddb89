#include "song/SnapshotRecorder.h"

#include <algorithm>

namespace cantivo {

namespace {

// A damaged file can put an event near tick 2^31; snapshots beyond this many blocks (73 hours at
// 120 bpm, whatever the timebase) are not kept, so such a file cannot exhaust memory.
constexpr size_t MaxSnapshotBlocks = size_t{1} << 16;

constexpr int ControllerSlots = 16 * 128;
constexpr int32_t Complete = 0x7FFFFFFF;

uint16_t NoteSlot(uint32_t message)
{
    return static_cast<uint16_t>((message & 0x0F) << 7 | ((message >> 8) & 0x7F));
}

} // namespace

SnapshotRecorder::SnapshotRecorder(TrackSnapshots& snapshots, int32_t interval, uint32_t noteTag, size_t entryLimit)
    : snapshots_(snapshots), noteTag_((noteTag & 0xFF) << NoteTagShift), entryLimit_(entryLimit)
{
    snapshots_.Clear(interval);
    if (!Active())
        return;
    nextBlockStart_ = 0;
    slotIndex_.fill(-1);
    soundingCount_.fill(0);
    lastMessages_.reserve(64);
}

void SnapshotRecorder::CutHere()
{
    cut_ = true;
    nextBlockStart_ = Never;
}

bool SnapshotRecorder::RoomForBlock() const
{
    const size_t entries = changed_ ? lastMessages_.size() + soundingSlots_.size() : 0;
    return snapshots_.blocks.size() < MaxSnapshotBlocks && snapshots_.Entries() + entries <= entryLimit_;
}

void SnapshotRecorder::StoreBlocks(uint32_t position, int32_t time, uint8_t runningStatus)
{
    while (time >= nextBlockStart_) {
        if (!RoomForBlock()) {
            CutHere();
            return;
        }
        Store(position, time, runningStatus);
        nextBlockStart_ += snapshots_.interval;
    }
}

void SnapshotRecorder::Store(uint32_t position, int32_t time, uint8_t runningStatus)
{
    TrackSnapshots& s = snapshots_;
    SnapshotBlock block{position, time, runningStatus, 0, 0, 0, 0};
    if (!changed_) {
        const SnapshotBlock& previous = s.blocks.back();
        block.firstMessage = previous.firstMessage;
        block.messageCount = previous.messageCount;
        block.firstNote = previous.firstNote;
        block.noteCount = previous.noteCount;
    } else {
        block.firstMessage = static_cast<uint32_t>(s.messages.size());
        block.messageCount = static_cast<uint32_t>(lastMessages_.size());
        s.messages.insert(s.messages.end(), lastMessages_.begin(), lastMessages_.end());
        // One note per sounding channel and key, the latest struck there, in the order they were struck.
        soundingScratch_.assign(soundingSlots_.begin(), soundingSlots_.end());
        std::sort(soundingScratch_.begin(), soundingScratch_.end(),
                  [this](uint16_t a, uint16_t b) { return latestNoteOn_[a].order < latestNoteOn_[b].order; });
        block.firstNote = static_cast<uint32_t>(s.notes.size());
        block.noteCount = static_cast<uint32_t>(soundingScratch_.size());
        for (uint16_t slot : soundingScratch_)
            s.notes.push_back(latestNoteOn_[slot].message | noteTag_);
        changed_ = false;
    }
    s.blocks.push_back(block);
}

void SnapshotRecorder::ChannelMessage(uint8_t status, uint8_t data1, uint8_t data2, int32_t time)
{
    if (!Active())
        return;
    const int channel = status & 0x0F;
    int slot;
    switch (status & 0xF0) {
    case 0xB0:
        slot = channel * 128 + data1;
        break;
    case 0xC0:
        slot = ControllerSlots + channel;
        break;
    case 0xD0:
        slot = ControllerSlots + 16 + channel;
        break;
    case 0xE0:
        slot = ControllerSlots + 32 + channel;
        break;
    default:
        return;
    }
    const SnapshotMessage message{status | uint32_t{data1} << 8 | uint32_t{data2} << 16, time};
    if (slotIndex_[static_cast<size_t>(slot)] < 0) {
        slotIndex_[static_cast<size_t>(slot)] = static_cast<int32_t>(lastMessages_.size());
        lastMessages_.push_back(message);
    } else {
        lastMessages_[static_cast<size_t>(slotIndex_[static_cast<size_t>(slot)])] = message;
    }
    changed_ = true;
}

void SnapshotRecorder::NoteStarted(uint32_t message)
{
    if (!Active())
        return;
    const uint16_t slot = NoteSlot(message);
    if (soundingCount_[slot]++ == 0)
        soundingSlots_.push_back(slot);
    latestNoteOn_[slot] = {strikeOrder_++, message};
    changed_ = true;
}

void SnapshotRecorder::NoteEnded(uint32_t message)
{
    if (!Active())
        return;
    const uint16_t slot = NoteSlot(message);
    if (soundingCount_[slot] == 0 || --soundingCount_[slot] > 0)
        return;
    // At most 2048 slots sound at once, so the linear search stays short.
    const auto found = std::find(soundingSlots_.begin(), soundingSlots_.end(), slot);
    *found = soundingSlots_.back();
    soundingSlots_.pop_back();
    changed_ = true;
}

void SnapshotRecorder::Finish(uint32_t imageSize)
{
    if (!Active())
        return;
    TrackSnapshots& s = snapshots_;
    // Every block start up to the last item is stored; one more, past the end with nothing left to play,
    // stands for all later blocks.
    if (!cut_ && !RoomForBlock())
        CutHere();
    if (!cut_) {
        Store(imageSize, Complete, 0);
        s.reach = Complete;
        return;
    }
    const int64_t reach = static_cast<int64_t>(s.blocks.size()) * s.interval;
    s.reach = static_cast<int32_t>(std::min<int64_t>(reach, Complete));
}

} // namespace cantivo
