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
double QuarterFrameLength(int format);

// Cantivo leading other gear: MIDI clock (24 per quarter, so it follows the tempo ratio), stop,
// continue and song position pointer around every chase, or time code quarter frames and a full
// frame after a chase. Called under the transport lock from the play tick, the chase and stop.
class SyncMaster {
  public:
    void Configure(const SyncSettings& settings) { settings_ = settings; }
    const SyncSettings& Settings() const { return settings_; }

    // Starting turned into Playing at `startTick`, song time `songClock`.
    void Started(int32_t startTick, double songClock);
    // A play tick reached `tick` at song time `songClock`.
    void Tick(PortTable& ports, const PlaybackModel& model, int32_t tick, double songClock);
    // A chase left the song at `position`; `state` is the sequencer's state then.
    void Located(PortTable& ports, const PlaybackModel& model, int32_t position, SequencerState state);
    void Stopped(PortTable& ports);

    // The ten bytes of a full-frame message.
    static void FullFrame(const TimeCodeFields& fields, int format, uint8_t (&bytes)[10]);

  private:
    void Send(PortTable& ports, uint32_t message);
    void SendLong(PortTable& ports, std::span<const uint8_t> bytes);

    SyncSettings settings_;
    bool syncStarted_ = false; // a Continue went out and no Stop since
    int32_t nextClockTick_ = 0;
    double timeCodeClock_ = 0;
    int piece_ = 0;
    TimeCodeFields frame_;
};

} // namespace cantivo
