#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace cantivo {

class Sequencer;

// The play thread: calls the sequencer's Service at the times it asks for, sleeping to absolute
// deadlines on the monotonic clock, so a late wake-up shifts nothing after it. It asks for real-time
// scheduling and locked memory where the system allows.
class PlayThread {
  public:
    explicit PlayThread(Sequencer& sequencer) : sequencer_(sequencer) {}
    ~PlayThread() { Stop(); }
    PlayThread(const PlayThread&) = delete;
    PlayThread& operator=(const PlayThread&) = delete;

    // Starts the thread; `notice` gets one plain line when real-time scheduling or locked memory was
    // refused (playback still runs, at normal priority), and stays empty otherwise.
    void Start(std::string& notice);
    // Ends the thread; when it returns the sequencer is no longer called.
    void Stop();

  private:
    void Run();

    Sequencer& sequencer_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
};

// The monotonic clock in microseconds, the same time base as SteadyMicrosecondClock.
int64_t MonotonicMicroseconds();

} // namespace cantivo
