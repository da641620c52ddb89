#include "platform/PlayThread.h"

#include "playback/Sequencer.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>

namespace cantivo {

namespace {

// The longest sleep: the sequencer's beat timer wants 4 ms, and a stop must not wait longer.
constexpr int64_t MaxSleep = 4000;

// Above ordinary real-time work but below the audio server's threads, which must not starve.
constexpr int PlayPriority = 60;

timespec ToTimespec(int64_t microseconds)
{
    timespec at{};
    at.tv_sec = static_cast<time_t>(microseconds / 1000000);
    at.tv_nsec = static_cast<long>(microseconds % 1000000) * 1000;
    return at;
}

} // namespace

int64_t MonotonicMicroseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000000 + now.tv_nsec / 1000;
}

void PlayThread::Start(std::string& notice)
{
    notice.clear();
    if (thread_.joinable())
        return;
    stop_.store(false);
    // Locked before the thread runs, so its first page faults happen now and not in the middle of a song.
    std::string refused;
    if (mlockall(MCL_CURRENT) != 0)
        refused = std::string("locked memory (") + std::strerror(errno) + ")";
    thread_ = std::thread([this] { Run(); });
    sched_param parameter{};
    parameter.sched_priority = PlayPriority;
    if (const int error = pthread_setschedparam(thread_.native_handle(), SCHED_FIFO, &parameter); error != 0)
        refused = std::string("real-time scheduling (") + std::strerror(error) + ")" +
                  (refused.empty() ? "" : " and " + refused);
    if (!refused.empty())
        notice = "The system refused " + refused +
                 ", so playback runs at normal priority; timing may suffer when the machine is busy.";
}

void PlayThread::Stop()
{
    stop_.store(true);
    if (thread_.joinable())
        thread_.join();
}

void PlayThread::Run()
{
    while (!stop_.load(std::memory_order_acquire)) {
        const int64_t now = MonotonicMicroseconds();
        int64_t next = sequencer_.Service(now);
        next = std::min(std::max(next, now), now + MaxSleep);
        const timespec at = ToTimespec(next);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
        }
    }
}

} // namespace cantivo
