#include "playback/MidiInPort.h"

#include "playback/NotificationQueue.h"
#include "playback/Sequencer.h"

namespace cantivo {

namespace {

// Data bytes after a status byte.
int DataBytes(uint8_t status)
{
    if (status >= 0xF0)
        return status == 0xF2 ? 2 : status == 0xF1 || status == 0xF3 ? 1 : 0;
    const uint8_t type = status & 0xF0;
    return type == 0xC0 || type == 0xD0 ? 1 : 2;
}

} // namespace

void ControlLearner::Hear(const Heard& heard)
{
    if (!Armed())
        return;
    const uint64_t packed = uint64_t{1} << 63 | static_cast<uint64_t>(heard.port & 0xFF) << 24 |
                            static_cast<uint64_t>(heard.channel & 0x0F) << 16 |
                            static_cast<uint64_t>((heard.key + 1) & 0xFF) << 8 |
                            static_cast<uint64_t>((heard.controller + 1) & 0xFF);
    // The first message since the UI last looked is the one learnt: a key's own controller
    // messages right after its Note On must not take its place.
    uint64_t waiting = heard_.load(std::memory_order_acquire);
    if ((waiting >> 63) == 0)
        heard_.compare_exchange_strong(waiting, packed, std::memory_order_acq_rel);
}

std::optional<ControlLearner::Heard> ControlLearner::Take()
{
    const uint64_t packed = heard_.exchange(0, std::memory_order_acq_rel);
    if ((packed >> 63) == 0)
        return std::nullopt;
    return Heard{static_cast<int>(packed >> 24 & 0xFF), static_cast<int>(packed >> 16 & 0x0F),
                 static_cast<int>(packed >> 8 & 0xFF) - 1, static_cast<int>(packed & 0xFF) - 1};
}

MidiInPort::MidiInPort(int index, std::string uniqueName, NotificationQueue& notifications)
    : index_(index), name_(std::move(uniqueName)), notifications_(notifications)
{
}

void MidiInPort::Connect(Sequencer* engine, SyncInput* sync, ControlLearner* learner)
{
    engine_ = engine;
    sync_ = sync;
    learner_ = learner;
}

void MidiInPort::SetControlEnabled(bool enabled)
{
    if (!enabled)
        ForgetPress();
    controlEnabled_.store(enabled, std::memory_order_release);
}

void MidiInPort::SetEntries(std::span<const ControlEntry> entries)
{
    ForgetPress(); // the press may belong to an entry that is gone
    std::lock_guard lock(entriesMutex_);
    entryCount_ = 0;
    for (const ControlEntry& entry : entries)
        if (entry.Port() == index_ && entryCount_ < entries_.size())
            entries_[entryCount_++] = entry;
}

void MidiInPort::OnMidiIn(int64_t microseconds, std::span<const uint8_t> bytes)
{
    for (const uint8_t byte : bytes)
        Byte(microseconds, byte);
}

void MidiInPort::Byte(int64_t microseconds, uint8_t byte)
{
    if (byte >= 0xF8) { // real-time: anywhere, even inside system exclusive, and it changes nothing else
        ShortMessage(microseconds, byte);
        return;
    }
    if (byte == 0xF7) {
        if (inSysex_ && !sysexOverflowed_ && sysexLength_ < sysex_.size()) {
            sysex_[sysexLength_++] = byte;
            if (sync_ != nullptr)
                sync_->OnSysex(index_, microseconds, std::span<const uint8_t>(sysex_.data(), sysexLength_));
        }
        inSysex_ = false;
        return;
    }
    if (byte & 0x80) {
        // Any other status ends a system exclusive message left open (it is dropped) and a running status.
        inSysex_ = false;
        dataCount_ = 0;
        runningStatus_ = 0;
        if (byte == 0xF0) {
            inSysex_ = true;
            sysexOverflowed_ = false;
            sysex_[0] = byte;
            sysexLength_ = 1;
            return;
        }
        if (DataBytes(byte) == 0) {
            ShortMessage(microseconds, byte);
            return;
        }
        runningStatus_ = byte;
        return;
    }
    if (inSysex_) {
        if (sysexLength_ < sysex_.size() - 1) {
            sysex_[sysexLength_++] = byte;
        } else if (!sysexOverflowed_) {
            sysexOverflowed_ = true;
            ++sysexOverflows_;
        }
        return;
    }
    if (runningStatus_ == 0)
        return; // data without a status: nothing to make of it
    data_[static_cast<size_t>(dataCount_++)] = byte;
    if (dataCount_ < DataBytes(runningStatus_))
        return;
    const uint32_t message = runningStatus_ | uint32_t{data_[0]} << 8 | (dataCount_ > 1 ? uint32_t{data_[1]} << 16 : 0);
    dataCount_ = 0;
    if (runningStatus_ >= 0xF0)
        runningStatus_ = 0; // system common messages have no running status
    ShortMessage(microseconds, message);
}

void MidiInPort::ShortMessage(int64_t microseconds, uint32_t message)
{
    const auto status = static_cast<uint8_t>(message & 0xFF);
    if (status >= 0xF0) {
        // Song select among them: a slave's sync port asks the set for a song.
        if (sync_ != nullptr)
            sync_->OnSystemMessage(index_, microseconds, message);
        return;
    }
    const uint8_t type = status & 0xF0;
    const int channel = status & 0x0F;
    const int data1 = static_cast<int>(message >> 8 & 0x7F);
    int data2 = static_cast<int>(message >> 16 & 0x7F);
    if (type == 0x80)
        data2 = 0;
    if (type == 0x80 || type == 0x90)
        notes_[Slot(channel, data1)] = static_cast<uint8_t>(data2);
    else if (type == 0xB0)
        controllers_[Slot(channel, data1)] = static_cast<uint8_t>(data2);

    const bool control = type == 0x80 || type == 0x90 || type == 0xB0;
    if (forgetPress_.exchange(false, std::memory_order_acq_rel)) {
        pressedController_ = pressedNote_ = -1;
        holding_.store(false, std::memory_order_release);
    }
    // The release of a press ends it whatever came since (learning armed, control turned off, another
    // map): otherwise the repeat it started would never stop.
    if (control && data2 == 0 && Released())
        Post(ControlAction::None, message, microseconds);
    else if (learner_ != nullptr && learner_->Armed() && ((type == 0x90 && data2 > 0) || type == 0xB0))
        learner_->Hear({index_, channel, type == 0x90 ? data1 : -1, type == 0xB0 ? data1 : -1});
    else if (control && controlEnabled_.load(std::memory_order_acquire))
        MatchControl(message, microseconds);
    if (engine_ != nullptr)
        engine_->Thru(index_, message, microseconds);
}

bool MidiInPort::Released()
{
    const bool released = (pressedController_ >= 0 && controllers_[static_cast<size_t>(pressedController_)] == 0) ||
                          (pressedNote_ >= 0 && notes_[static_cast<size_t>(pressedNote_)] == 0);
    if (released) {
        pressedController_ = pressedNote_ = -1;
        holding_.store(false, std::memory_order_release);
    }
    return released;
}

void MidiInPort::MatchControl(uint32_t message, int64_t microseconds)
{
    const uint8_t type = message & 0xF0;
    const int channel = static_cast<int>(message & 0x0F);
    const int data1 = static_cast<int>(message >> 8 & 0x7F);
    const int data2 = type == 0x80 ? 0 : static_cast<int>(message >> 16 & 0x7F);
    // A slider at 0 is a value, not a release: without this, its bottom could never be reached.
    if (data2 == 0 && type != 0xB0)
        return;
    std::unique_lock lock(entriesMutex_, std::try_to_lock);
    if (!lock.owns_lock())
        return;
    for (size_t i = entryCount_; i-- > 0;) {
        const ControlEntry entry = entries_[i];
        if (entry.Channel() != channel)
            continue;
        if (type == 0xB0) {
            if (entry.Key() != 0 || entry.Controller() != data1)
                continue;
            const ControlAction action = entry.Action();
            const bool slider = action == ControlAction::TempoSlider || action == ControlAction::VolumeSlider;
            if (data2 == 0 && !slider)
                return;
            if (!slider && (pressedController_ >= 0 || pressedNote_ >= 0))
                return; // held: further values are not new presses
            if (!slider)
                Press(static_cast<int>(Slot(channel, data1)), -1);
            Post(action, message, microseconds);
            return;
        }
        if (type != 0x90 || entry.Key() != data1 || data2 == 0)
            continue;
        // A key with a modifier controller triggers only while that controller is up.
        if (entry.Controller() != 0 && controllers_[Slot(channel, entry.Controller())] == 0)
            continue;
        Press(entry.Controller() != 0 ? static_cast<int>(Slot(channel, entry.Controller())) : -1,
              static_cast<int>(Slot(channel, data1)));
        Post(entry.Action(), message, microseconds);
        return;
    }
}

void MidiInPort::Press(int controllerSlot, int noteSlot)
{
    pressedController_ = controllerSlot;
    pressedNote_ = noteSlot;
    holding_.store(true, std::memory_order_release);
}

void MidiInPort::ForgetPress()
{
    holding_.store(false, std::memory_order_release);
    forgetPress_.store(true, std::memory_order_release);
}

void MidiInPort::Post(ControlAction action, uint32_t message, int64_t microseconds)
{
    notifications_.Post(
        {EngineMessage::MsgControlAction, static_cast<int32_t>(action), static_cast<int32_t>(message), microseconds});
}

} // namespace cantivo
