#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace cantivo {

// The play thread's time: monotonic microseconds from an arbitrary start. Injected, so the same engine
// runs in real time and, in tests and renders, in virtual time.
class MicrosecondClock {
  public:
    virtual ~MicrosecondClock() = default;
    virtual int64_t NowMicroseconds() const = 0;
};

// The machine's monotonic clock (CLOCK_MONOTONIC), the one the play thread sleeps on.
class SteadyMicrosecondClock final : public MicrosecondClock {
  public:
    int64_t NowMicroseconds() const override
    {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};

// Time that moves only when told to: tests and renders advance it step by step.
class VirtualMicrosecondClock final : public MicrosecondClock {
  public:
    int64_t NowMicroseconds() const override { return now_.load(std::memory_order_acquire); }
    void Advance(int64_t microseconds) { now_.fetch_add(microseconds, std::memory_order_acq_rel); }
    void Set(int64_t microseconds) { now_.store(microseconds, std::memory_order_release); }

  private:
    std::atomic<int64_t> now_{0};
};

} // namespace cantivo
