#pragma once

#include <cstdint>

namespace cantivo {

class Sequencer;

enum class CommandOutcome { Done, Disabled, NotHandled };

// The transport and adjustment commands on the sequencer: the one dispatch that keys, scripts, menus
// and control maps go through, with each command's enabling rule.
class TransportCommands {
  public:
    explicit TransportCommands(Sequencer& sequencer) : sequencer_(sequencer) {}

    // True for the commands this dispatch runs.
    static bool Handles(uint16_t command);
    bool IsEnabled(uint16_t command) const;
    // Runs the command when it is enabled.
    CommandOutcome Run(uint16_t command);

  private:
    Sequencer& sequencer_;
};

} // namespace cantivo
