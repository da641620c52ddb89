#pragma once

#include "platform/SynthDevice.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>

struct _fluid_hashtable_t;
struct _fluid_synth_t;

namespace cantivo {

// One FluidSynth instance with the SoundFont loaded, shared by the live synth and the renderer: it
// turns MIDI messages into FluidSynth calls. FluidSynth's own log goes nowhere; its first error is kept.
class FluidEngine {
  public:
    // `realTime` keeps FluidSynth's locking for an audio thread; without it the engine is for one
    // thread only, as a render is.
    static std::unique_ptr<FluidEngine> Create(const SoundFontChoice& soundFont, int sampleRate, bool realTime,
                                               std::string& error);
    ~FluidEngine();
    FluidEngine(const FluidEngine&) = delete;
    FluidEngine& operator=(const FluidEngine&) = delete;

    void Short(uint32_t message);
    // A system-exclusive message with its F0 and F7.
    void Long(std::span<const uint8_t> bytes);
    int ActiveVoices() const;
    void AllNotesOff();

    _fluid_hashtable_t* Settings() const { return settings_; }
    _fluid_synth_t* Synth() const { return synth_; }

    // Routes FluidSynth's log away from stderr (once per process).
    static void SilenceLog();
    // FluidSynth's first error or panic text since ClearError, usually the cause; empty when none.
    static std::string FirstError();
    static void ClearError();

  private:
    FluidEngine(_fluid_hashtable_t* settings, _fluid_synth_t* synth) : settings_(settings), synth_(synth) {}

    _fluid_hashtable_t* settings_;
    _fluid_synth_t* synth_;
};

} // namespace cantivo
