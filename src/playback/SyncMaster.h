#pragma once

#include "playback/SequencerState.h"
#include "song/TimeCode.h"

#include <cstdint>
#include <span>

namespace cantivo {

class PortTable;
class Profile;
struct PlaybackModel;

// "SyncOptions": independent (0), master (1) or slave (2); the port (0 all, k the port k - 1); MIDI
// clock (0) or time code (1); the time code's format (0-3 frame rates, 4 milliseconds).
struct SyncSettings {
    int masterSlave = 0;
    int port = 0;
    int protocol = 0;
    int smpte = 3;
    bool smoothing = true; // "Smoothing": a slave smooths the clock's jitter out of the tempo
    static SyncSettings Read(const Profile& profile);
    bool MasterClock() const { return masterSlave == 1 && protocol == 0; }
    bool MasterTimeCode() const { return masterSlave == 1 && protocol == 1; }
};

// A quarter of one frame of time code `format` (a millisecond "frame" in format 4), microseconds.
inline double QuarterFrameLength(int format)
{
    return TimeCodeUnitLength(format) / 4;
}

// Cantivo leading other gear: MIDI clock (24 per quarter, so it follows the tempo ratio), stop,
// continue and song position pointer around every chase, or time code quarter frames and a full
// frame after a chase. Called under the transport lock from the play tick, the chase and stop.
class SyncMaster {
  public:
    void Configure(const SyncSettings& settings) { settings_ = settings; }
    const SyncSettings& Settings() const { return settings_; }

    // Starting turned into Playing at `startTick`, song time `songClock`.
    void Started(int32_t startTick, double songClock);
    // A play tick reached song time `songClock`: the clocks and quarter frames due by then go out.
    void Tick(PortTable& ports, const PlaybackModel& model, double songClock);
    // The song time the next clock or quarter frame is due at, so the play thread wakes for it and
    // sends it on time rather than at its next period; infinite when nothing is due.
    double NextDue(const PlaybackModel& model) const;
    // A chase left the song at `position`; `state` is the sequencer's state then.
    void Located(PortTable& ports, const PlaybackModel& model, int32_t position, SequencerState state);
    void Stopped(PortTable& ports);

    // The ten bytes of a full-frame message.
    static void FullFrame(const TimeCodeFields& fields, int format, uint8_t (&bytes)[10]);

  private:
    // Time code goes out at a frame rate: a millisecond display format sends 30 frames non-drop.
    int TimeCodeFormat() const { return settings_.smpte == Milliseconds ? Frames30 : settings_.smpte; }
    double ClockTime(const PlaybackModel& model) const;
    void Send(PortTable& ports, uint32_t message);
    void SendLong(PortTable& ports, std::span<const uint8_t> bytes);

    SyncSettings settings_;
    bool syncStarted_ = false; // a Continue went out and no Stop since
    // Clock k of a run is due at tick start + k x timebase / 24, computed whole each time so a
    // timebase that is no multiple of 24 does not drift.
    int32_t clockStart_ = 0;
    int64_t clockCount_ = 0;
    double timeCodeClock_ = 0;
    int piece_ = 0;
    TimeCodeFields frame_;
};

} // namespace cantivo
