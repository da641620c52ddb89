#pragma once

#include "synthdb/SynthDatabase.h"
#include "synthdb/Synthesizer.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace cantivo {

// What a port reset sends, from the port's synthesizer.
struct ResetSettings {
    int32_t technology = 0;
    std::string resetSysex;
};

// The look-ups made while drawing and while building what the play thread reads: the first one for a
// synthesizer or a port reads it whole, the rest cost no query. Every write to the database drops what
// is held. Returned pointers stay valid until the next write; nullptr means "not known". UI thread only.
class SynthLookup {
  public:
    explicit SynthLookup(SynthDatabase& database);
    ~SynthLookup();

    // nullptr for a port without a "portconfig" row.
    const PortBinding* Port(const std::string& portName);
    // 0 for a port without a "portconfig" row.
    int32_t DrumMask(const std::string& portName);
    // The synthesizer bound to a port; nullptr when the port has no "portconfig" row or its synth is gone.
    const Synthesizer* PortSynth(const std::string& portName);
    const Synthesizer* Synth(int32_t synthNumber);

    const std::string* PatchName(int32_t synth, int32_t bank, int32_t patch);
    const std::string* BankName(int32_t synth, int32_t bank);
    const DrumSet* FindDrumSet(int32_t synth, int32_t bank, int32_t program);
    const std::string* DrumNoteName(int32_t synth, int32_t bank, int32_t program, int32_t note);
    const std::string* ControllerName(int32_t synth, int32_t controller);
    const std::string* NrpnName(int32_t synth, int32_t nrpn);

    // The controller list of a port: its synth's names, else the built-in ones; then pitch and pressure.
    std::vector<ControllerEntry> PortControllers(const std::string& portName);
    // The port's drum sets as "%d/%d: %s"; empty for a port without a synth.
    std::vector<std::string> PortDrumSetTexts(const std::string& portName);
    // nullopt when the port has no "portconfig" row or its synth is gone: a reset then only clears state.
    std::optional<ResetSettings> PortReset(const std::string& portName);
    // A drum track: its channel (0 to 15) is one of the port's drum channels, or its bank and patch select a
    // drum set of the port's synth that is not also one of its patches.
    bool IsDrumTrack(const std::string& portName, int32_t channel, int32_t bank, int32_t patch);

    void Invalidate();

  private:
    struct Cached;
    const Cached* Load(int32_t synthNumber);
    void CheckGeneration();

    SynthDatabase& database_;
    uint64_t generation_ = 0;
    std::unordered_map<int32_t, std::unique_ptr<Cached>> synths_; // nullptr: no such synth
    std::unordered_map<std::string, std::optional<PortBinding>> ports_;
};

} // namespace cantivo
