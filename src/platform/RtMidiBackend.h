#pragma once

#include "platform/ReceiverGate.h"
#include "playback/MicrosecondClock.h"
#include "playback/MidiInDevice.h"
#include "playback/PortTable.h"

#include <memory>
#include <string>
#include <vector>

class RtMidiIn;
class RtMidiOut;

namespace cantivo {

// A system input device as a backend enumerated it; `device` is null when it failed to open.
struct InputDeviceEntry {
    std::string name;
    std::unique_ptr<MidiInDevice> device;
};

// What one enumeration found. `notice` is one plain line saying why no port is listed, empty when
// there are ports.
struct MidiPortList {
    std::vector<OutputDeviceEntry> outputs;
    std::vector<InputDeviceEntry> inputs;
    std::string notice;
};

// The MIDI ports of the ALSA sequencer and of a running JACK server, through RtMidi. Nothing here
// throws or prints: RtMidi's and ALSA's own messages are kept off stderr.
class RtMidiBackend {
  public:
    static constexpr const char* DefaultSequencerPath = "/dev/snd/seq";

    // Every output and input port, ALSA first, then JACK, each opened. Input devices stamp messages
    // with `clock`, which must outlive them. `sequencerPath` is where the ALSA sequencer device must
    // exist for ALSA to be asked at all (asking without one only gets errors). Call it before other
    // threads write to std::cerr: RtMidi's constructors print there and are silenced for the moment.
    static MidiPortList Enumerate(const MicrosecondClock& clock,
                                  const std::string& sequencerPath = DefaultSequencerPath);
};

// An RtMidi output port. Sends never throw; a port that failed sends nothing.
class RtMidiOutDevice final : public MidiOutDevice {
  public:
    RtMidiOutDevice(std::string name, std::unique_ptr<RtMidiOut> port);
    ~RtMidiOutDevice() override;
    std::string Name() const override { return name_; }
    void SendShort(uint32_t message) override;
    void SendLong(std::span<const uint8_t> bytes) override;

  private:
    const std::string name_;
    std::unique_ptr<RtMidiOut> port_;
};

// An RtMidi input port, opened with sysex, timing clock and active sensing all let through. RtMidi's
// callback thread hands each message's bytes straight to the receiver, stamped with the clock.
class RtMidiInDevice final : public MidiInDevice {
  public:
    RtMidiInDevice(std::string name, std::unique_ptr<RtMidiIn> port, const MicrosecondClock& clock);
    ~RtMidiInDevice() override;
    std::string Name() const override { return name_; }
    [[nodiscard]] bool Start(MidiInReceiver& receiver) override;
    void Stop() override;

  private:
    static void OnMessage(double deltaSeconds, std::vector<unsigned char>* message, void* self);

    const std::string name_;
    std::unique_ptr<RtMidiIn> port_;
    const MicrosecondClock& clock_;
    // read on RtMidi's callback thread, set by Start and Stop
    ReceiverGate gate_;
};

} // namespace cantivo
