#pragma once

#include "playback/ControlMap.h"
#include "playback/MidiInDevice.h"
#include "playback/SyncInput.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>

namespace cantivo {

class NotificationQueue;
class Sequencer;

// The ear of the control-map entry dialog: while armed, each Note On or control change any input hears
// is kept for the UI to fill the dialog in with. Written on input threads, read on the UI thread.
class ControlLearner {
  public:
    struct Heard {
        int port = 0;
        int channel = 0;
        int key = -1;        // a Note On's key, or -1
        int controller = -1; // a control change's controller, or -1
    };
    void Arm() { armed_.store(true, std::memory_order_release); }
    void Disarm() { armed_.store(false, std::memory_order_release); }
    bool Armed() const { return armed_.load(std::memory_order_acquire); }
    // From an input thread.
    void Hear(const Heard& heard);
    // The first message heard since the last call, if any.
    std::optional<Heard> Take();

  private:
    std::atomic<bool> armed_{false};
    std::atomic<uint64_t> heard_{0}; // bit 63: fresh; then port, channel, key + 1, controller + 1
};

// One MIDI input as the engine keeps it: the byte stream parsed into messages (running status, system
// exclusive up to 1024 bytes, real-time bytes anywhere), the last velocity and controller value per
// channel, and the routing of each message: learning, the control map, thru to the selected tracks,
// synchronisation. Runs on the backend's thread: no allocation, no waiting on the UI.
class MidiInPort final : public MidiInReceiver {
  public:
    static constexpr size_t SysexCapacity = 1024;

    MidiInPort(int index, std::string uniqueName, NotificationQueue& notifications);

    int Index() const { return index_; }
    const std::string& UniqueName() const { return name_; }
    // Set before the device starts: any may be null.
    void Connect(Sequencer* engine, SyncInput* sync, ControlLearner* learner);
    // "KeyMap"/"Enabled": whether the control map is matched at all. Turning it off ends a held press.
    void SetControlEnabled(bool enabled);
    // The map in use; this port keeps the entries whose port field is its index, and a held press ends.
    // UI thread.
    void SetEntries(std::span<const ControlEntry> entries);
    // Whether a press is held (its release not yet heard): the UI's repeat runs only while one is, so a
    // release lost to a full queue cannot leave it repeating.
    bool Holding() const { return holding_.load(std::memory_order_acquire); }

    void OnMidiIn(int64_t microseconds, std::span<const uint8_t> bytes) override;

    // The state as it stands (for tests and the views).
    uint8_t NoteState(int channel, int key) const { return notes_[Slot(channel, key)]; }
    uint8_t ControllerState(int channel, int number) const { return controllers_[Slot(channel, number)]; }
    // Messages a full system-exclusive buffer could not hold.
    uint32_t SysexOverflows() const { return sysexOverflows_; }

  private:
    static size_t Slot(int channel, int number) { return static_cast<size_t>(channel & 0x0F) * 128 + (number & 0x7F); }
    void Byte(int64_t microseconds, uint8_t byte);
    void ShortMessage(int64_t microseconds, uint32_t message);
    void MatchControl(uint32_t message, int64_t microseconds);
    // True (and the press forgotten) when the state byte of the held press went to 0.
    bool Released();
    void Press(int controllerSlot, int noteSlot);
    void ForgetPress();
    void Post(ControlAction action, uint32_t message, int64_t microseconds);

    const int index_;
    const std::string name_;
    NotificationQueue& notifications_;
    Sequencer* engine_ = nullptr;
    SyncInput* sync_ = nullptr;
    ControlLearner* learner_ = nullptr;
    std::atomic<bool> controlEnabled_{true};
    std::atomic<bool> holding_{false};     // written by the input thread, and cleared by the UI's ForgetPress
    std::atomic<bool> forgetPress_{false}; // the UI asks the input thread to drop its press

    // Touched by the input thread only.
    std::array<uint8_t, 16 * 128> notes_{};
    std::array<uint8_t, 16 * 128> controllers_{};
    int pressedController_ = -1; // slot of the state byte that pressed, -1 when none
    int pressedNote_ = -1;
    uint8_t runningStatus_ = 0;
    std::array<uint8_t, 2> data_{};
    int dataCount_ = 0;
    bool inSysex_ = false;
    bool sysexOverflowed_ = false;
    size_t sysexLength_ = 0;
    std::array<uint8_t, SysexCapacity> sysex_{};
    uint32_t sysexOverflows_ = 0;

    // The UI changes the entries while input may arrive; a message that finds them being changed is
    // not matched rather than waiting.
    std::mutex entriesMutex_;
    std::array<ControlEntry, ControlMap::MaxEntries> entries_{};
    size_t entryCount_ = 0;
};

} // namespace cantivo
