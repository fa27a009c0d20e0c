// The events waiting to go out on one client's stream, bounded by what they take in this
// process: by count and by memory, per client and, through a budget all clients of a server
// share, in total. A client that does not read its stream must never take the server's memory.
#pragma once

#include <atomic>
#include <cstddef>
#include <deque>

#include "platform/com/rpc/opc.pb.h"

namespace platform::com::rpc {

// The memory an event takes while it waits: its message objects, their arrays and texts, and
// what the allocator adds to each block. Walks the event once; no reflection.
size_t MemoryOf(const qar::com::Event& e);

// The least memory a data change or read completion of `items` items takes once built: its
// arrays and a value object an item, without the values' texts. Known before it is built.
size_t DataChangeFloor(size_t items);

// The memory that the waiting events of every client of one server take together; never
// more than its limit.
class EventBudget {
 public:
  explicit EventBudget(size_t limit) : limit_(limit) {}
  // False, and nothing taken, when `bytes` more would pass the limit.
  bool Take(size_t bytes) {
    size_t used = used_.load(std::memory_order_relaxed);
    do {
      if (bytes > limit_ - used) return false;
    } while (!used_.compare_exchange_weak(used, used + bytes, std::memory_order_relaxed));
    return true;
  }
  void Give(size_t bytes) { used_.fetch_sub(bytes, std::memory_order_relaxed); }
  bool Fits(size_t bytes) const { return bytes <= limit_ - used_.load(std::memory_order_relaxed); }
  size_t Used() const { return used_.load(std::memory_order_relaxed); }
  size_t Limit() const { return limit_; }

 private:
  std::atomic<size_t> used_{0};
  const size_t limit_;
};

// Not thread-safe: the session's lock guards it. The front event is the one being written.
class EventQueue {
 public:
  EventQueue(size_t max_events, size_t max_bytes, EventBudget& budget)
      : max_events_(max_events), max_bytes_(max_bytes), budget_(budget) {}
  ~EventQueue() { Drop(false); }
  EventQueue(const EventQueue&) = delete;
  EventQueue& operator=(const EventQueue&) = delete;

  // Whether an event of `bytes` fits: with it, no more events or memory than this queue's
  // bounds would wait (one event always fits into an empty queue), and all queues of the
  // budget together would stay within it (also for an empty queue).
  enum class Fit { kFits, kOverClient, kOverTotal };
  Fit Check(size_t bytes) const {
    if (!events_.empty() && (events_.size() >= max_events_ || bytes_ + bytes > max_bytes_)) return Fit::kOverClient;
    return budget_.Fits(bytes) ? Fit::kFits : Fit::kOverTotal;
  }
  // Queues `event`, which takes `bytes` (its MemoryOf), moving from it only when it fits.
  Fit Push(qar::com::Event& event, size_t bytes);
  bool Push(qar::com::Event event) { return Push(event, MemoryOf(event)) == Fit::kFits; }
  // Whether an event of at least `bytes` could be pushed now, asked before it is built.
  bool Admits(size_t bytes) const { return Check(bytes) == Fit::kFits; }
  bool Empty() const { return events_.empty(); }
  qar::com::Event* Front() { return &events_.front().event; }
  void Pop();
  // Frees every waiting event; with keep_front, not the one being written (its write still
  // reads it).
  void Drop(bool keep_front);
  size_t Count() const { return events_.size(); }
  size_t Bytes() const { return bytes_; }

 private:
  struct Queued {
    qar::com::Event event;
    size_t bytes;
  };
  const size_t max_events_;
  const size_t max_bytes_;
  EventBudget& budget_;
  std::deque<Queued> events_;
  size_t bytes_ = 0;
};

}  // namespace platform::com::rpc
