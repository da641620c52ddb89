#include "cli/RawTerminal.h"

#include <poll.h>
#include <termios.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <iterator>

namespace cantivo {

namespace {

// The signal handlers need the saved state without a guard object to hand, so it lives here; one
// guard at a time owns it.
termios savedState{};
termios rawState{};
int savedFd = -1;
volatile sig_atomic_t armed = 0;
bool atExitRegistered = false;

constexpr int CrashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
struct sigaction previousCrash[std::size(CrashSignals)];
struct sigaction previousStop {};
struct sigaction previousContinue {};
bool stopHandled = false;

// Async-signal-safe. A background process that changes its terminal gets SIGTTOU, which would stop it
// just when it is leaving; the handlers block it through their masks, the normal paths block it here.
void RestoreSavedState()
{
    if (armed != 0)
        tcsetattr(savedFd, TCSANOW, &savedState);
}

void RestoreWithoutStopping()
{
    sigset_t ttou, previous;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    pthread_sigmask(SIG_BLOCK, &ttou, &previous);
    RestoreSavedState();
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

bool InForeground()
{
    return tcgetpgrp(savedFd) == getpgrp();
}

extern "C" void OnCrashSignal(int signal)
{
    RestoreSavedState();
    armed = 0;
    // Hand the signal on: it is blocked while this runs, so it arrives again as soon as this returns,
    // now with the handler that was there before (the default action unless somebody set one).
    for (size_t i = 0; i < std::size(CrashSignals); ++i)
        if (CrashSignals[i] == signal)
            sigaction(signal, &previousCrash[i], nullptr);
    raise(signal);
}

extern "C" void OnStopKey(int)
{
    const int savedErrno = errno;
    RestoreSavedState();
    struct sigaction stop {
    }, ours{};
    stop.sa_handler = SIG_DFL;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGTSTP, &stop, &ours);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, SIGTSTP);
    pthread_sigmask(SIG_UNBLOCK, &unblock, nullptr);
    raise(SIGTSTP); // stops here until continued
    sigaction(SIGTSTP, &ours, nullptr);
    if (armed != 0 && InForeground())
        tcsetattr(savedFd, TCSANOW, &rawState);
    errno = savedErrno;
}

// Also after a SIGSTOP from elsewhere: the shell has put its own settings back by now.
extern "C" void OnContinue(int)
{
    const int savedErrno = errno;
    if (armed != 0 && InForeground())
        tcsetattr(savedFd, TCSANOW, &rawState);
    errno = savedErrno;
}

extern "C" void RestoreAtExit()
{
    RestoreWithoutStopping();
    armed = 0;
}

void InstallHandlers()
{
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGTTOU);
    action.sa_handler = OnCrashSignal;
    for (size_t i = 0; i < std::size(CrashSignals); ++i)
        sigaction(CrashSignals[i], &action, &previousCrash[i]);

    sigaction(SIGTSTP, nullptr, &previousStop);
    // A shell without job control ignores Ctrl+Z for us; keep it that way.
    stopHandled = previousStop.sa_handler != SIG_IGN;
    if (stopHandled) {
        action.sa_handler = OnStopKey;
        action.sa_flags = SA_RESTART;
        sigaction(SIGTSTP, &action, nullptr);
        action.sa_handler = OnContinue;
        sigaction(SIGCONT, &action, &previousContinue);
    }
}

void RemoveHandlers()
{
    for (size_t i = 0; i < std::size(CrashSignals); ++i)
        sigaction(CrashSignals[i], &previousCrash[i], nullptr);
    if (stopHandled) {
        sigaction(SIGTSTP, &previousStop, nullptr);
        sigaction(SIGCONT, &previousContinue, nullptr);
    }
}

} // namespace

RawTerminal::RawTerminal(int fd) : fd_(fd)
{
    termios original{};
    if (armed != 0 || isatty(fd) == 0 || tcgetattr(fd, &original) != 0)
        return;
    termios raw = original;
    // Bytes one at a time, unechoed; Ctrl+S and Ctrl+Q are keys, not flow control; Enter stays "\r".
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ECHONL | IEXTEN));
    raw.c_lflag |= ISIG;
    raw.c_iflag &= static_cast<tcflag_t>(~(IXON | ICRNL | INLCR | IGNCR | ISTRIP | PARMRK));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;

    savedState = original;
    rawState = raw;
    savedFd = fd;
    InstallHandlers();
    if (!atExitRegistered)
        atExitRegistered = std::atexit(RestoreAtExit) == 0;
    armed = 1;
    if (tcsetattr(fd, TCSANOW, &raw) != 0) {
        armed = 0;
        RemoveHandlers();
        return;
    }
    active_ = true;
}

RawTerminal::~RawTerminal()
{
    if (!active_)
        return;
    RestoreWithoutStopping();
    armed = 0;
    RemoveHandlers();
}

TerminalControl::TerminalControl(int fd) : terminal_(fd) {}

void TerminalControl::Queue(const DecodedKeys& keys)
{
    for (const TerminalKey& key : keys)
        if (queuedCount_ < queued_.size())
            queued_[queuedCount_++] = key;
}

std::optional<KeyAction> TerminalControl::TakeQueued()
{
    while (queuedCount_ > 0) {
        const TerminalKey key = queued_[0];
        std::move(queued_.begin() + 1, queued_.begin() + queuedCount_, queued_.begin());
        --queuedCount_;
        if (std::optional<KeyAction> action =
                accelMap_.empty() ? ActionForKey(key, set_) : ActionForKey(key, set_, accelMap_))
            return action;
    }
    return std::nullopt;
}

namespace {

int MillisecondsUntil(std::chrono::steady_clock::time_point when, std::chrono::steady_clock::time_point now)
{
    if (when <= now)
        return 0;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - now).count();
    return static_cast<int>(std::min<decltype(left)>(left, INT_MAX));
}

} // namespace

std::optional<KeyAction> TerminalControl::Poll(int timeoutMs)
{
    if (std::optional<KeyAction> action = TakeQueued())
        return action;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    const auto escapeTimeout = std::chrono::milliseconds(EscapeTimeoutMs);
    for (bool first = true;; first = false) {
        const Clock::time_point now = Clock::now();
        if (decoder_.Pending() && now - lastByte_ >= escapeTimeout) {
            Queue(decoder_.Flush());
            if (std::optional<KeyAction> action = TakeQueued())
                return action;
        }
        if (!first && now >= deadline)
            return std::nullopt;
        if (closed_ || !Active()) {
            ::poll(nullptr, 0, MillisecondsUntil(deadline, now)); // a signal ends it early
            return std::nullopt;
        }
        int wait = MillisecondsUntil(deadline, now);
        if (decoder_.Pending())
            wait = std::min(wait, MillisecondsUntil(lastByte_ + escapeTimeout, now));
        pollfd input{terminal_.Fd(), POLLIN, 0};
        const int ready = ::poll(&input, 1, wait);
        if (ready < 0) {
            if (errno == EINTR)
                return std::nullopt;
            closed_ = true;
            continue;
        }
        if (ready == 0)
            continue;
        if ((input.revents & POLLIN) == 0) {
            closed_ = true; // hung up
            continue;
        }
        // One byte per read: what is not read yet stays with the terminal, so nothing is ever lost.
        uint8_t byte = 0;
        const ssize_t got = ::read(terminal_.Fd(), &byte, 1);
        if (got == 1) {
            lastByte_ = Clock::now();
            Queue(decoder_.Feed(byte));
            if (std::optional<KeyAction> action = TakeQueued())
                return action;
        } else if (got < 0 && errno == EINTR) {
            return std::nullopt;
        } else if (!(got < 0 && errno == EAGAIN)) {
            closed_ = true;
        }
    }
}

} // namespace cantivo
