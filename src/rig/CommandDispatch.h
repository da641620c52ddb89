#pragma once

#include "app/TransportCommands.h"

#include <cstdint>

namespace cantivo {

class Sequencer;
class Show;

// The one way a command runs, whoever asks for it: the menus and the toolbar, the keys, a control
// map's action, a script. The set's own commands go to the show, the transport and the adjustments to
// the engine, each behind its enabling rule.
class CommandDispatch {
  public:
    CommandDispatch(Show& show, Sequencer& sequencer) : show_(show), transport_(sequencer) {}

    // True for the commands this dispatch runs; the desktop's window commands are its own.
    static bool Handles(uint16_t command);
    bool IsEnabled(uint16_t command) const;
    CommandOutcome Run(uint16_t command);

  private:
    Show& show_;
    TransportCommands transport_;
};

} // namespace cantivo
