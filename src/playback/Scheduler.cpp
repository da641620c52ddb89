#include "playback/Scheduler.h"

#include <algorithm>

namespace cantivo {

void ClockScheduler::StartTimer(int id, int64_t periodMicroseconds, std::function<void()> callback)
{
    const int64_t period = std::max<int64_t>(periodMicroseconds, 1);
    const int64_t due = clock_.NowMicroseconds() + period;
    for (Timer& timer : timers_) {
        if (timer.id == id) {
            timer = {id, period, due, std::move(callback)};
            return;
        }
    }
    timers_.push_back({id, period, due, std::move(callback)});
}

void ClockScheduler::KillTimer(int id)
{
    std::erase_if(timers_, [id](const Timer& timer) { return timer.id == id; });
}

bool ClockScheduler::IsRunning(int id) const
{
    return std::any_of(timers_.begin(), timers_.end(), [id](const Timer& timer) { return timer.id == id; });
}

void ClockScheduler::RunDue()
{
    const int64_t now = clock_.NowMicroseconds();
    // A callback may start or kill timers, so each round looks the timer up again by its id.
    std::vector<int> due;
    for (const Timer& timer : timers_)
        if (timer.due <= now)
            due.push_back(timer.id);
    for (int id : due) {
        auto timer = std::find_if(timers_.begin(), timers_.end(), [id](const Timer& t) { return t.id == id; });
        if (timer == timers_.end() || timer->due > now)
            continue;
        // A loop that fell behind fires once and keeps its rhythm, rather than firing in a burst.
        while (timer->due <= now)
            timer->due += timer->period;
        const std::function<void()> callback = timer->callback;
        callback();
    }
}

int64_t ClockScheduler::NextDue() const
{
    int64_t next = Never;
    for (const Timer& timer : timers_)
        next = std::min(next, timer.due);
    return next;
}

} // namespace cantivo
