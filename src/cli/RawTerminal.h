#pragma once

#include "app/AccelMap.h"
#include "cli/TerminalKeys.h"

#include <unistd.h>

#include <array>
#include <chrono>
#include <optional>
#include <vector>

namespace cantivo {

// Puts a terminal into raw mode (no line editing, no echo, every byte at once) for as long as it
// lives, and always gives the terminal back as it was: on destruction, at exit(), and on a crash
// signal (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT), after which the signal goes on to the handler
// that was there before. Ctrl+C still raises SIGINT; Ctrl+Z suspends with the terminal restored and
// raw mode comes back on resuming in the foreground. Output processing stays on, so "\n" still starts
// a new line. Without a terminal it does nothing. Only one guard is active at a time; a second one
// while the first lives stays inactive.
class RawTerminal {
  public:
    explicit RawTerminal(int fd = STDIN_FILENO);
    ~RawTerminal();
    RawTerminal(const RawTerminal&) = delete;
    RawTerminal& operator=(const RawTerminal&) = delete;

    // False when `fd` is no terminal or could not be switched: nothing was changed.
    bool Active() const { return active_; }
    int Fd() const { return fd_; }

  private:
    int fd_;
    bool active_ = false;
};

// The terminal as a control surface: raw mode while it lives, and keys turned into actions.
class TerminalControl {
  public:
    // The quiet time after which a lone Esc is the Esc key rather than the start of a sequence.
    static constexpr int EscapeTimeoutMs = 50;

    explicit TerminalControl(int fd = STDIN_FILENO);

    bool Active() const { return terminal_.Active(); }
    // Performing a set: the set's keys (PgDn next song, ...) come first.
    void UseSetKeys(bool set) { set_ = set; }
    // An accelerator map other than the built-in one: its bindings come before the built-in keys.
    void UseAccelMap(std::vector<AccelEntry> map) { accelMap_ = std::move(map); }

    // Waits up to `timeoutMs` for a key that does something and returns its action; keys that do
    // nothing are skipped. Returns nothing at the timeout, early when a signal interrupts the wait (so
    // the caller can look at its stop flag), and also when the terminal is inactive or has gone away,
    // in which case it just waits out the time. So it can take the place of the caller's sleep.
    [[nodiscard]] std::optional<KeyAction> Poll(int timeoutMs);

  private:
    using Clock = std::chrono::steady_clock;

    std::optional<KeyAction> TakeQueued();
    void Queue(const DecodedKeys& keys);

    RawTerminal terminal_;
    KeyDecoder decoder_;
    bool set_ = false;
    std::vector<AccelEntry> accelMap_;
    std::array<TerminalKey, 4> queued_{};
    uint8_t queuedCount_ = 0;
    Clock::time_point lastByte_{};
    bool closed_ = false; // end of file or an error on the terminal: stop reading it
};

} // namespace cantivo
