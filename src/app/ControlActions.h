#pragma once

#include "app/CommandTable.h"
#include "playback/ControlMap.h"
#include "playback/EngineNotification.h"

#include <cstdint>
#include <functional>

namespace cantivo {

class Scheduler;
class Sequencer;
enum class CommandOutcome;

// The UI loop's side of the control map: each `MsgControlAction` runs its action as the command it
// stands for, and an action that repeats runs again while its trigger is held: 875 ms after the press,
// then every 125 ms, until the next message from the input (its release included).
class ControlActions {
  public:
    static constexpr int RepeatTimer = 111;
    static constexpr int64_t RepeatPeriod = 125'000;

    // `dispatch` runs a command as the keys and menus do (the set's commands among them).
    ControlActions(Sequencer& sequencer, Scheduler& scheduler, std::function<CommandOutcome(uint16_t)> dispatch);
    ~ControlActions();
    ControlActions(const ControlActions&) = delete;
    ControlActions& operator=(const ControlActions&) = delete;

    void Handle(const EngineNotification& notification);
    // Whether the inputs still hold a press: a repeat stops at the first turn that finds none, even
    // when the release itself never arrived (a full queue drops it).
    void SetHeldProbe(std::function<bool()> held) { held_ = std::move(held); }

  private:
    void Run(ControlAction action, uint32_t message);
    void Command(CommandId command);

    Sequencer& sequencer_;
    Scheduler& scheduler_;
    std::function<CommandOutcome(uint16_t)> dispatch_;
    std::function<bool()> held_;
    ControlAction repeating_ = ControlAction::None;
    uint32_t message_ = 0;
    int counter_ = 0;
};

} // namespace cantivo
