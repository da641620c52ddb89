#include "playback/TapFollower.h"

#include "song/Profile.h"

#include <algorithm>
#include <cmath>

namespace cantivo {

namespace {

constexpr const char* Section = "FollowTap";

bool ReadFlag(const Profile& profile, const char* name, bool fallback)
{
    return profile.GetInt(Section, name, fallback ? 1 : 0) != 0;
}

int32_t ReadPercent(const Profile& profile, const char* name, int32_t fallback, int32_t high)
{
    return std::clamp(profile.GetInt(Section, name, fallback), 1, high);
}

// The continuous follower's constants, tuned in bench/conductor against a ritardando with human timing.
constexpr double PeriodGain = 0.25;  // how much of a new tap interval the period estimate takes
constexpr double DriftGain = 0.1;    // how much of the surprise goes into the period's drift per beat
constexpr double PhaseGain = 0.9;    // how much of the phase error the next beat closes
constexpr double Lag = 40'000;       // the song aims this far behind the tap, so taps land early
constexpr double Outlier = 0.35;     // a tap interval this far off the estimate is not a beat
constexpr double Forget = 3'000'000; // a pause this long starts the estimate afresh
constexpr double MaxStep = 0.25;     // the most one tap moves the ratio, as a fraction

} // namespace

FollowTapSettings FollowTapSettings::Read(const Profile& profile)
{
    FollowTapSettings s;
    s.enabled = ReadFlag(profile, "Enabled", false);
    s.window = ReadPercent(profile, "Window", 20, 50);
    s.jumpForward = ReadFlag(profile, "EnableJumpF", true);
    s.jumpBackward = ReadFlag(profile, "EnableJumpB", true);
    s.jumpStrength = ReadPercent(profile, "JumpStrength", 80, 100);
    s.tempoModulation = ReadFlag(profile, "EnableTempoMod", true);
    s.modulationStrength = ReadPercent(profile, "ModStrength", 50, 100);
    s.useAverage = ReadFlag(profile, "UseAverage", false);
    s.averageStrength = ReadPercent(profile, "AveStrength", 50, 100);
    s.returnToNormal = ReadFlag(profile, "EnableTempoNorm", false);
    s.returnRate = ReadPercent(profile, "ReturnRate", 10, 100);
    s.follower = profile.GetInt(Section, "Follower", 0) == 1 ? FollowerKind::Continuous : FollowerKind::Proximity;
    return s;
}

FollowTapSettings FollowTapSettings::PageDefaults()
{
    FollowTapSettings s;
    s.jumpBackward = false;
    return s;
}

void FollowTapSettings::Write(Profile& profile) const
{
    profile.WriteInt(Section, "Enabled", enabled ? 1 : 0);
    profile.WriteInt(Section, "Window", window);
    profile.WriteInt(Section, "EnableJumpF", jumpForward ? 1 : 0);
    profile.WriteInt(Section, "EnableJumpB", jumpBackward ? 1 : 0);
    profile.WriteInt(Section, "JumpStrength", jumpStrength);
    profile.WriteInt(Section, "EnableTempoMod", tempoModulation ? 1 : 0);
    profile.WriteInt(Section, "ModStrength", modulationStrength);
    profile.WriteInt(Section, "UseAverage", useAverage ? 1 : 0);
    profile.WriteInt(Section, "AveStrength", averageStrength);
    profile.WriteInt(Section, "EnableTempoNorm", returnToNormal ? 1 : 0);
    profile.WriteInt(Section, "ReturnRate", returnRate);
    profile.WriteInt(Section, "Follower", static_cast<int32_t>(follower));
}

FollowEffective FollowEffective::From(const FollowTapSettings& s)
{
    FollowEffective e;
    e.window = s.enabled ? s.window : 0;
    e.modulationStrength = s.enabled && s.tempoModulation ? s.modulationStrength : 0;
    e.forwardJump = s.enabled && s.jumpForward ? s.jumpStrength : 0;
    e.backwardJump = s.enabled && s.jumpBackward ? s.jumpStrength : 0;
    e.averageStrength = s.useAverage ? s.averageStrength : 0;
    e.returnRate = s.returnToNormal ? s.returnRate : 0;
    e.follower = s.follower;
    return e;
}

void TapFollower::DropOld(double now, bool dropLater)
{
    while (count_ > 0) {
        const double a = At(0).a;
        const bool stale = dropLater ? a > now : a >= now;
        if (!stale && a >= now - Memory)
            break;
        first_ = (first_ + 1) % Capacity;
        --count_;
    }
}

void TapFollower::Append(double a, double b)
{
    if (count_ == Capacity) {
        first_ = (first_ + 1) % Capacity;
        --count_;
    }
    taps_[static_cast<size_t>((first_ + count_) % Capacity)] = {a, b};
    ++count_;
}

double TapFollower::AverageFactor(int32_t strength) const
{
    if (strength == 0 || count_ < 2)
        return 1.0;
    const Tap& first = At(0);
    const Tap& last = At(count_ - 1);
    // The memory holds only taps before now, so the span is never zero here; guard it all the same.
    if (!(last.a - first.a > 0))
        return 1.0;
    return ((last.b - first.b) / (last.a - first.a) * strength + (100 - strength)) * 0.01;
}

TapOutcome TapFollower::Follow(const FollowEffective& values, const TapContext& context)
{
    return values.follower == FollowerKind::Continuous ? Continuous(values, context) : Proximity(values, context);
}

TapOutcome TapFollower::Proximity(const FollowEffective& values, const TapContext& c)
{
    TapOutcome outcome;
    outcome.startReturn = values.returnRate != 0;
    DropOld(c.now, false);
    const double length = c.t1 - c.t0;
    const double width = values.window * length * 0.01;
    double factor = 1.0;
    if (c.t1 - c.now < width) {
        Append(c.now, c.t1);
        factor = AverageFactor(values.averageStrength);
        if (values.forwardJump != 0)
            outcome.jumpTo =
                c.tick + static_cast<int32_t>(static_cast<int64_t>(c.nextBeat - c.tick) * values.forwardJump / 100);
        if (values.modulationStrength != 0 && c.now > c.t0)
            factor =
                (length / (c.now - c.t0) * values.modulationStrength + (100 - values.modulationStrength) * factor) *
                0.01;
        if (std::abs(factor - 1) > 0.001)
            outcome.ratio = static_cast<int32_t>(std::min(std::trunc(c.ratio * factor), double{MaxRatio}));
    } else if (c.now - c.t0 < width) {
        Append(c.now, c.t0);
        factor = AverageFactor(values.averageStrength);
        if (values.backwardJump != 0)
            outcome.jumpTo =
                c.tick - static_cast<int32_t>(static_cast<int64_t>(c.tick - c.beatStart) * values.backwardJump / 100);
        if (values.modulationStrength != 0)
            factor = (length / (length + c.now - c.t0) * values.modulationStrength +
                      (100 - values.modulationStrength) * factor) *
                     0.01;
        if (std::abs(factor - 1) > 0.001)
            outcome.ratio = static_cast<int32_t>(std::max(std::trunc(c.ratio * factor), double{MinRatio}));
    }
    return outcome;
}

// Tracks the performer instead of reacting to one tap: an estimate of the beat period (with its drift,
// so a long ritardando is anticipated rather than chased) and the phase of the song against the taps.
// Every tap near enough to a beat counts, however far from the window; jumps stay within what the
// proximity follower would do (its strength, only inside its window, only forward).
TapOutcome TapFollower::Continuous(const FollowEffective& values, const TapContext& c)
{
    TapOutcome outcome;
    outcome.startReturn = values.returnRate != 0;
    const double length = c.t1 - c.t0;
    if (!(length > 0) || c.ratio <= 0)
        return outcome;
    const double speed = c.ratio / 100000.0; // song microseconds per wall microsecond
    // The nearest beat, and how far the song is behind the tap on it (negative: ahead), in wall time.
    const bool early = c.now - c.t0 >= length / 2;
    const double behind = (early ? c.t1 - c.now : c.t0 - c.now) / speed;
    const int32_t beatTick = early ? c.nextBeat : c.beatStart;
    const int32_t interval = std::max(c.nextBeat - c.beatStart, 1);
    const double songPeriod = length / speed; // the song's beat, in wall time, at the current ratio

    const double sinceLast = c.wallNow - lastTapWall_;
    if (lastTapWall_ < 0 || !(sinceLast > 0) || sinceLast > Forget || !(period_ > 0)) {
        period_ = songPeriod;
        drift_ = 0;
    } else {
        const int32_t beats = std::max<int32_t>(
            1, static_cast<int32_t>(std::lround(static_cast<double>(beatTick - lastBeatTick_) / lastInterval_)));
        const double observed = sinceLast / beats;
        const double predicted = period_ + drift_;
        const double surprise = observed - predicted;
        if (std::abs(surprise) < Outlier * predicted) {
            period_ = predicted + PeriodGain * surprise;
            drift_ += DriftGain * surprise;
            drift_ = std::clamp(drift_, -0.05 * period_, 0.05 * period_);
        } else {
            period_ = predicted;
        }
    }
    lastTapWall_ = c.wallNow;
    lastBeatTick_ = beatTick;
    lastInterval_ = interval;

    double remainingBehind = behind;
    const double width = values.window * length * 0.01 / speed;
    if (values.forwardJump != 0 && behind > 0 && behind < width) {
        const int32_t jump = static_cast<int32_t>(static_cast<int64_t>(c.nextBeat - c.tick) * values.forwardJump / 100);
        if (jump > 0) {
            outcome.jumpTo = c.tick + jump;
            remainingBehind = behind * (1.0 - values.forwardJump / 100.0);
        }
    }
    // The song should reach the beat after this one a little after the performer's next tap.
    const double wantArrival = period_ + drift_ + remainingBehind + PhaseGain * (Lag - remainingBehind);
    const double toNextBeat = length + remainingBehind * speed; // song microseconds
    if (wantArrival > 0) {
        double ratio = 100000.0 * toNextBeat / wantArrival;
        ratio = std::clamp(ratio, c.ratio * (1 - MaxStep), c.ratio * (1 + MaxStep));
        ratio = std::clamp(ratio, double{MinRatio}, double{MaxRatio});
        if (std::abs(ratio / c.ratio - 1) > 0.001)
            outcome.ratio = static_cast<int32_t>(ratio);
    }
    return outcome;
}

TapOutcome TapFollower::Average(const FollowEffective& values, double wallNow, double expected, int32_t ratio)
{
    TapOutcome outcome;
    DropOld(wallNow, true);
    // A second tap in the same millisecond is the switch bouncing, not a beat: it is not remembered,
    // so it can neither divide by zero nor halve the interval.
    if (count_ > 0 && At(count_ - 1).a == wallNow)
        return outcome;
    Append(wallNow, 0);
    if (count_ < 2)
        return outcome;
    const double interval = (At(count_ - 1).a - At(0).a) / (count_ - 1);
    if (!(interval > 0) || !(expected > 0))
        return outcome;
    const int32_t strength = values.averageStrength;
    const double factor = (expected / interval * strength + (100 - strength)) * 0.01;
    if (std::abs(factor - 1) <= 0.001)
        return outcome;
    const double moved = ratio + std::trunc((factor * 100000 - ratio) * strength / 100);
    outcome.ratio = moved <= MinRatio ? MinRatio : moved >= MaxRatio ? MaxRatio : static_cast<int32_t>(moved);
    return outcome;
}

int32_t TapFollower::ReturnStep(int32_t rate, int32_t ratio)
{
    if (rate == 0 || ratio == 100000)
        return ratio;
    const int32_t distance = std::abs(ratio - 100000);
    const int32_t step = std::max<int32_t>(static_cast<int32_t>(static_cast<int64_t>(rate) * distance / 1000), 1);
    return ratio > 100000 ? std::max(ratio - step, 100000) : std::min(ratio + step, 100000);
}

} // namespace cantivo
