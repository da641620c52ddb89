#pragma once

#include "playback/MicrosecondClock.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace cantivo {

// The user-interface loop's timers: the conductor's return step, the set's advance wait, the control
// map's auto-repeat. Callbacks run on the loop's thread, never on the play thread. Behind an
// interface so a render passes its waits in virtual time.
class Scheduler {
  public:
    virtual ~Scheduler() = default;
    // Starts (or restarts) timer `id`, firing every `periodMicroseconds` until it is killed.
    virtual void StartTimer(int id, int64_t periodMicroseconds, std::function<void()> callback) = 0;
    virtual void KillTimer(int id) = 0;
    virtual bool IsRunning(int id) const = 0;
};

// Timers over a clock: the loop calls RunDue as it goes round, and sleeps no longer than NextDue.
// With a virtual clock this is the scheduler of tests and renders; with the steady clock, of `play`.
class ClockScheduler final : public Scheduler {
  public:
    static constexpr int64_t Never = INT64_MAX;

    explicit ClockScheduler(const MicrosecondClock& clock) : clock_(clock) {}
    void StartTimer(int id, int64_t periodMicroseconds, std::function<void()> callback) override;
    void KillTimer(int id) override;
    bool IsRunning(int id) const override;
    // Runs every timer that is due at the clock's time, each at most once per call.
    void RunDue();
    int64_t NextDue() const;

  private:
    struct Timer {
        int id;
        int64_t period;
        int64_t due;
        std::function<void()> callback;
    };
    const MicrosecondClock& clock_;
    std::vector<Timer> timers_;
};

} // namespace cantivo
