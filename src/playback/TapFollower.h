#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace cantivo {

class Profile;

// Which follower listens to the taps while playing ("FollowTap" "Follower").
enum class FollowerKind : int32_t {
    Proximity = 0,  // a tap near a beat is that beat; taps are remembered for 1.5 s
    Continuous = 1, // tracks the performer's beat period and phase across every tap
};

// The "FollowTap" values as stored, with their ranges.
struct FollowTapSettings {
    bool enabled = false; // "Enable beat proximity sense"
    int32_t window = 20;  // % of a beat
    bool jumpForward = true;
    bool jumpBackward = true; // the options page's own default is off
    int32_t jumpStrength = 80;
    bool tempoModulation = true;
    int32_t modulationStrength = 50;
    bool useAverage = false;
    int32_t averageStrength = 50;
    bool returnToNormal = false;
    int32_t returnRate = 10; // %/sec
    FollowerKind follower = FollowerKind::Proximity;

    // With the sequencer's start-up defaults, every value clamped to its range.
    static FollowTapSettings Read(const Profile& profile);
    // What the options page shows before it has been saved once: backward jumps off.
    static FollowTapSettings PageDefaults();
    // The page writes every value on OK.
    void Write(Profile& profile) const;
};

// The values the sequencer works with; 0 means off.
struct FollowEffective {
    int32_t window = 0;
    int32_t modulationStrength = 0;
    int32_t forwardJump = 0;
    int32_t backwardJump = 0;
    int32_t averageStrength = 0;
    int32_t returnRate = 0;
    FollowerKind follower = FollowerKind::Proximity;

    static FollowEffective From(const FollowTapSettings& settings);
};

// Where the song stood when the tap came, read from the play thread's values.
struct TapContext {
    double now = 0;         // the song clock: microseconds of tempo-map time
    int32_t tick = 0;       // the current tick
    int32_t beatStart = 0;  // the beat at or before the tick
    int32_t nextBeat = 0;   // the beat after it
    double t0 = 0, t1 = 0;  // their times on the song clock
    int32_t ratio = 100000; // the tempo ratio
    double wallNow = 0;     // the wall clock, microseconds
};

// What the tap asks of the sequencer.
struct TapOutcome {
    int32_t jumpTo = -1; // play from this tick, forced; -1: no jump
    int32_t ratio = 0;   // the new tempo ratio; 0: unchanged
    bool startReturn = false;
};

// The conductor's arithmetic, without the engine: the taps remembered and what each new tap does to
// the position and the tempo ratio. Fixed storage; lives in the sequencer across stops and songs.
class TapFollower {
  public:
    static constexpr double Memory = 1'500'000; // microseconds a tap is remembered
    static constexpr int32_t MinRatio = 50000;
    static constexpr int32_t MaxRatio = 200000;

    // The follow step (window on), with the proximity or the continuous follower.
    TapOutcome Follow(const FollowEffective& values, const TapContext& context);
    // The average step (window off, average on): `wallNow` on the millisecond clock, `expected` the
    // beat length at the current tempo, in microseconds.
    TapOutcome Average(const FollowEffective& values, double wallNow, double expected, int32_t ratio);
    // The return step of the 100 ms timer: the ratio one step nearer normal.
    static int32_t ReturnStep(int32_t rate, int32_t ratio);

    int TapCount() const { return count_; }

  private:
    struct Tap {
        double a; // when the tap came
        double b; // the beat it was taken as
    };
    TapOutcome Proximity(const FollowEffective& values, const TapContext& context);
    TapOutcome Continuous(const FollowEffective& values, const TapContext& context);
    void DropOld(double now, bool dropLater);
    void Append(double a, double b);
    double AverageFactor(int32_t strength) const;
    const Tap& At(int i) const { return taps_[static_cast<size_t>((first_ + i) % Capacity)]; }

    static constexpr int Capacity = 64;
    std::array<Tap, Capacity> taps_{};
    int first_ = 0;
    int count_ = 0;

    // The continuous follower's estimate of the performer: beat period and its drift per beat.
    double period_ = 0;
    double drift_ = 0;
    double lastTapWall_ = -1;
    int32_t lastBeatTick_ = 0;
    int32_t lastInterval_ = 1;
};

} // namespace cantivo
