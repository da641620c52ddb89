#include "playback/SyncSlave.h"

#include <algorithm>
#include <cmath>

namespace cantivo {

namespace {

// The loop's bandwidth per clock: low enough to take out most of the jitter, high enough that a
// master's tempo change is followed within a beat or two.
constexpr double Omega = 0.08;
constexpr double PhaseGain = 1.41421356 * Omega;
constexpr double PeriodGain = Omega * Omega;

} // namespace

void ClockFollower::Restart(double period)
{
    count_ = 0;
    period_ = std::max(period, 1.0);
}

void ClockFollower::Clock(int64_t time, double tick, double clockTicks)
{
    const auto heard = static_cast<double>(time);
    if (count_ == 1 && time > lastHeard_) {
        period_ = heard - clockTime_; // the first interval measured replaces the song's guess
        clockTime_ = heard;
    } else if (count_ >= 2) {
        const double error = heard - (clockTime_ + period_);
        // A clock far off the prediction (a master's jump, a long gap) starts the loop again there:
        // it is the run's first clock, and the next one measures the period afresh.
        if (std::abs(error) > 4 * period_) {
            clockTime_ = heard;
            count_ = 0;
        } else {
            clockTime_ += period_ + PhaseGain * error;
            period_ = std::max(period_ + PeriodGain * error, 1.0);
        }
    } else {
        clockTime_ = heard;
    }
    ++count_;
    lastHeard_ = time;
    tick_ = tick;
    clockTicks_ = std::max(clockTicks, 1e-3);
}

int32_t ClockFollower::TickAt(int64_t now) const
{
    if (count_ == 0)
        return static_cast<int32_t>(std::floor(tick_));
    const double clocks = std::clamp((static_cast<double>(now) - clockTime_) / period_, -1.0, 1.0);
    return static_cast<int32_t>(std::floor(tick_ + clocks * clockTicks_));
}

bool TimeCodeAssembler::Piece(uint8_t data)
{
    const int piece = data >> 4 & 7;
    if (piece != next_) {
        next_ = 0;
        if (piece != 0)
            return false;
    }
    nibbles_[static_cast<size_t>(piece)] = data & 0x0F;
    next_ = (piece + 1) % 8;
    return piece == 7;
}

TimeCodeFields TimeCodeAssembler::Fields() const
{
    const auto pair = [this](size_t low) { return nibbles_[low] | (nibbles_[low + 1] & 0x0F) << 4; };
    TimeCodeFields fields;
    fields.fourth = pair(0) & 0x1F;
    fields.seconds = pair(2) & 0x3F;
    fields.minutes = pair(4) & 0x3F;
    fields.hours = (nibbles_[6] | (nibbles_[7] & 1) << 4) & 0x1F;
    return fields;
}

bool ReadFullFrame(const uint8_t* bytes, size_t length, TimeCodeFields& fields, int& format)
{
    // Other ten-byte universal messages exist; only sub-ids 01 01 are a full frame.
    if (length != 10 || bytes[0] != 0xF0 || bytes[1] != 0x7F || bytes[3] != 0x01 || bytes[4] != 0x01 ||
        bytes[9] != 0xF7)
        return false;
    fields.hours = bytes[5] & 31;
    fields.minutes = bytes[6] & 0x7F;
    fields.seconds = bytes[7] & 0x7F;
    fields.fourth = bytes[8] & 0x7F;
    format = bytes[5] >> 5 & 3;
    return true;
}

} // namespace cantivo
