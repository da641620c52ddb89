#pragma once

#include <cstdint>

namespace cantivo {

// The system millisecond clock; injected so tests are deterministic.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual uint32_t Milliseconds() const = 0;
};

// The monotonic clock of the machine.
class SteadyClock final : public Clock {
  public:
    uint32_t Milliseconds() const override;
};

} // namespace cantivo
