#pragma once

#include "playback/PortTable.h"

namespace cantivo {

class SynthDatabase;

// The engine's port resets as the synth database says: the "Technology" bits and "ResetSysex" of the
// synthesizer bound to a port in "portconfig". A port bound to none gets only its state cleared. Used
// on the UI thread (song changes, "Reset MIDI"), where the database's cache lives.
class DatabaseResets final : public SynthResetLookup {
  public:
    explicit DatabaseResets(SynthDatabase& database) : database_(&database) {}
    std::optional<SynthReset> ForPort(const std::string& uniqueName) const override;

  private:
    SynthDatabase* database_;
};

} // namespace cantivo
