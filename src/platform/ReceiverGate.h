#pragma once

#include "playback/MidiInDevice.h"

#include <atomic>
#include <cstdint>
#include <span>
#include <thread>

namespace cantivo {

// Hands input from a backend's thread to the current receiver, and lets Stop wait until no delivery is
// under way, so that the receiver may be destroyed as soon as Stop returns. Deliveries neither lock nor
// allocate. The counter is raised before the receiver is read and Close clears the receiver before
// reading the counter; with sequentially consistent order a delivery that saw a receiver is counted.
class ReceiverGate {
  public:
    void Open(MidiInReceiver& receiver) { receiver_.store(&receiver); }
    void Close()
    {
        receiver_.store(nullptr);
        while (inFlight_.load() != 0)
            std::this_thread::yield();
    }
    bool IsOpen() const { return receiver_.load() != nullptr; }
    void Deliver(int64_t microseconds, std::span<const uint8_t> bytes)
    {
        inFlight_.fetch_add(1);
        if (MidiInReceiver* receiver = receiver_.load())
            receiver->OnMidiIn(microseconds, bytes);
        inFlight_.fetch_sub(1);
    }

  private:
    std::atomic<MidiInReceiver*> receiver_{nullptr};
    std::atomic<int> inFlight_{0};
};

} // namespace cantivo
