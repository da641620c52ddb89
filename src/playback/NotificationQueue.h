#pragma once

#include "playback/EngineNotification.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace cantivo {

// A bounded queue from the play thread and the MIDI input callbacks to the user-interface loop. Posting
// never blocks and never allocates: a full queue drops the notification and counts it. Any number of
// threads may post; one thread (the UI loop) drains. Each cell carries a sequence number, so a poster
// claims a cell with one compare-and-swap and a reader sees a cell only once it is completely written.
class NotificationQueue {
  public:
    static constexpr size_t Capacity = 1024; // a power of two

    NotificationQueue()
    {
        for (size_t i = 0; i < Capacity; ++i)
            cells_[i].sequence.store(i, std::memory_order_relaxed);
    }
    NotificationQueue(const NotificationQueue&) = delete;
    NotificationQueue& operator=(const NotificationQueue&) = delete;

    // From any thread. False (and counted as dropped) when the queue is full.
    bool Post(const EngineNotification& notification)
    {
        size_t position = tail_.load(std::memory_order_relaxed);
        for (;;) {
            Cell& cell = cells_[position & (Capacity - 1)];
            const size_t sequence = cell.sequence.load(std::memory_order_acquire);
            const auto lead = static_cast<std::ptrdiff_t>(sequence - position);
            if (lead == 0) {
                if (tail_.compare_exchange_weak(position, position + 1, std::memory_order_relaxed)) {
                    cell.notification = notification;
                    cell.sequence.store(position + 1, std::memory_order_release);
                    return true;
                }
            } else if (lead < 0) {
                dropped_.fetch_add(1, std::memory_order_relaxed);
                return false;
            } else {
                position = tail_.load(std::memory_order_relaxed);
            }
        }
    }

    // From the draining thread only: the oldest notification, or none.
    std::optional<EngineNotification> Take()
    {
        Cell& cell = cells_[head_ & (Capacity - 1)];
        if (cell.sequence.load(std::memory_order_acquire) != head_ + 1)
            return std::nullopt;
        const EngineNotification notification = cell.notification;
        cell.sequence.store(head_ + Capacity, std::memory_order_release);
        ++head_;
        return notification;
    }

    // Notifications lost to a full queue since the start.
    uint64_t Dropped() const { return dropped_.load(std::memory_order_relaxed); }

  private:
    struct Cell {
        std::atomic<size_t> sequence{0};
        EngineNotification notification;
    };

    std::array<Cell, Capacity> cells_;
    alignas(64) std::atomic<size_t> tail_{0};
    alignas(64) size_t head_ = 0; // the draining thread's own
    std::atomic<uint64_t> dropped_{0};
};

} // namespace cantivo
