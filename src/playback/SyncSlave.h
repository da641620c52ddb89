#pragma once

#include "song/TimeCode.h"

#include <array>
#include <cmath>
#include <cstdint>

namespace cantivo {

// The external MIDI clock's timing as a slave plays it. Heard raw, every clock moves the song one
// clock on when it arrives, so a USB interface's jitter (a millisecond or so per clock) becomes the
// song's. Smoothed, a delay-locked loop over the clocks' time stamps gives a steady period and a
// phase that stays locked to the master, and the play timer moves the song between clocks. The song
// never runs more than one clock beyond the last clock heard, so it stops when the clock does.
class ClockFollower {
  public:
    // A start, continue or pointer: the next clock is the first of a new run. `period` is the
    // song's own clock interval there (microseconds), the guess until two clocks were heard.
    void Restart(double period);
    // The clock for `tick` arrived at `time`; `clockTicks` is the song's ticks per clock. Both are
    // exact (fractions of a tick where the timebase is no multiple of 24).
    void Clock(int64_t time, double tick, double clockTicks);
    // Where the song is at `now`: from the last clock's tick to one clock past it.
    int32_t TickAt(int64_t now) const;
    // The furthest the song may go before the next clock is heard: the next clock's tick.
    int32_t Horizon() const { return static_cast<int32_t>(std::floor(tick_ + clockTicks_)); }
    // When the song will reach `tick` at the smoothed pace (microseconds).
    double TimeOf(int32_t tick) const { return clockTime_ + (tick - tick_) / clockTicks_ * period_; }
    bool Heard() const { return count_ > 0; }
    int64_t LastHeard() const { return lastHeard_; }
    double Period() const { return period_; }

  private:
    int count_ = 0;
    int64_t lastHeard_ = 0;
    double clockTime_ = 0; // the smoothed time of the last clock
    double period_ = 20833;
    double tick_ = 0;
    double clockTicks_ = 1;
};

// Quarter frames put together into a time code. Eight pieces in order (0 to 7) make one value; a
// piece out of order (a lost byte, time code running backwards) starts the assembly again at the
// next piece 0.
class TimeCodeAssembler {
  public:
    // Takes the data byte of an F1 message; true when it completed a value (piece 7 after 0-6).
    bool Piece(uint8_t data);
    void Reset() { next_ = 0; }
    TimeCodeFields Fields() const;
    int Format() const { return nibbles_[7] >> 1 & 3; }

  private:
    std::array<uint8_t, 8> nibbles_{};
    int next_ = 0;
};

// The ten-byte full-frame message: true and the time code and format when `bytes` is one.
bool ReadFullFrame(const uint8_t* bytes, size_t length, TimeCodeFields& fields, int& format);

} // namespace cantivo
