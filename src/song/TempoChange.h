#pragma once

#include <cstdint>

namespace cantivo {

inline constexpr uint32_t DefaultMicrosecondsPerQuarter = 500000;

struct TempoChange {
    int32_t tick = 0;
    uint32_t microsecondsPerQuarter = DefaultMicrosecondsPerQuarter;
    double absolute = 0.0; // real time of the change from tick 0, microseconds
};

} // namespace cantivo
