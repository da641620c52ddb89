#pragma once

#include "playback/MidiOutDevice.h"

#include <memory>
#include <optional>
#include <string>

struct _fluid_audio_driver_t;

namespace cantivo {

class FluidEngine;
class Profile;

inline constexpr const char* SynthDeviceName = "Cantivo Synth";
inline constexpr const char* DefaultSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

// The SoundFont the built-in synth loads. `error` is the whole message when the file is unusable.
struct SoundFontChoice {
    std::string path;
    std::string error;
    bool fromSetting = true; // false when an override (a command-line option, say) chose it
};

// "Synth" "SoundFont" (default DefaultSoundFont), or `overridePath` when one is given; checks that the
// file is there, readable and a SoundFont.
[[nodiscard]] SoundFontChoice ResolveSoundFont(const Profile& profile,
                                               const std::optional<std::string>& overridePath = std::nullopt);
// The message for a SoundFont that cannot be used, with `reason` ("file not found") in it.
std::string SoundFontMessage(const SoundFontChoice& choice, const std::string& reason);

// The built-in synth "Cantivo Synth" playing live through the sound server: FluidSynth with the
// drivers pipewire, pulseaudio, alsa and jack tried in that order.
class SynthDevice final : public MidiOutDevice {
  public:
    // Null with one line in `error` when the SoundFont is unusable or no audio driver opens.
    static std::unique_ptr<SynthDevice> Open(const SoundFontChoice& soundFont, std::string& error);
    ~SynthDevice() override;
    SynthDevice(const SynthDevice&) = delete;
    SynthDevice& operator=(const SynthDevice&) = delete;

    std::string Name() const override { return SynthDeviceName; }
    void SendShort(uint32_t message) override;
    void SendLong(std::span<const uint8_t> bytes) override;
    // The FluidSynth audio driver in use ("pulseaudio", say).
    const std::string& DriverName() const { return driverName_; }
    // Releases every note, lets the tail ring until the synth is quiet (at most `maxSeconds`) and
    // closes the audio driver; sends afterwards do nothing. The destructor does it too.
    void Drain(double maxSeconds = 1.0);

  private:
    SynthDevice(std::unique_ptr<FluidEngine> engine, _fluid_audio_driver_t* driver, std::string driverName);

    std::unique_ptr<FluidEngine> engine_;
    _fluid_audio_driver_t* driver_;
    const std::string driverName_;
};

} // namespace cantivo
