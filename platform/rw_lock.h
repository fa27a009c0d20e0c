// A multi-reader/single-writer lock for data that many threads read a little at a time while
// one thread (the driver) stores into it now and then. The C++ library's shared mutex lets new
// readers in while a writer waits, so readers that lock record by record from several threads
// can keep a writer out for as long as they keep coming. Here a waiting writer holds back the
// readers that come after it and waits only for those already inside, each of which holds the
// lock for one record. Both sides spin briefly before they sleep, since holds are that short.
// Usable with std::unique_lock and std::shared_lock; not recursive.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace platform {

class RwLock {
 public:
  constexpr RwLock() = default;
  RwLock(const RwLock&) = delete;
  RwLock& operator=(const RwLock&) = delete;

  void lock() {
    writers_.lock();
    pending_.store(1);
    WaitFor(readers_, [](uint32_t readers) { return readers == 0; });
  }

  bool try_lock() {
    if (!writers_.try_lock()) return false;
    pending_.store(1);
    if (readers_.load() == 0) return true;
    unlock();
    return false;
  }

  void unlock() {
    pending_.store(0);
    pending_.notify_all();
    writers_.unlock();
  }

  void lock_shared() {
    for (;;) {
      readers_.fetch_add(1);
      if (pending_.load() == 0) return;
      // A writer holds or wants the lock: step back until it is done.
      unlock_shared();
      WaitFor(pending_, [](uint32_t pending) { return pending == 0; });
    }
  }

  bool try_lock_shared() {
    readers_.fetch_add(1);
    if (pending_.load() == 0) return true;
    unlock_shared();
    return false;
  }

  void unlock_shared() {
    if (readers_.fetch_sub(1) == 1 && pending_.load() != 0) readers_.notify_all();
  }

  // Spins a little, then sleeps until the value changes, until done(value) holds. done() judges
  // the very value the sleep compares with: a value that changed and came back between a second
  // look and the sleep would leave the sleeper waiting for a change that already happened.
  // Public, and a template on the atomic, so a test can play that interleaving.
  template <class Atomic, class Done>
  static void WaitFor(Atomic& value, Done done) {
    for (int spin = 0; spin < kSpins; ++spin) {
      if (done(value.load())) return;
#if defined(__x86_64__) || defined(__i386__)
      __builtin_ia32_pause();
#endif
    }
    for (;;) {
      const uint32_t seen = value.load();
      if (done(seen)) return;
      value.wait(seen);
    }
  }

 private:
  static constexpr int kSpins = 1000;

  std::mutex writers_;                // one writer at a time
  std::atomic<uint32_t> readers_{0};  // readers inside, or stepping in
  std::atomic<uint32_t> pending_{0};  // 1 while a writer holds or wants the lock
};

}  // namespace platform
