#include "platform/rw_lock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <shared_mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace platform {
namespace {

TEST(RwLock, ReadersShareWritersExclude) {
  RwLock lock;
  lock.lock_shared();
  EXPECT_TRUE(lock.try_lock_shared());  // a second reader
  EXPECT_FALSE(lock.try_lock());
  lock.unlock_shared();
  lock.unlock_shared();
  ASSERT_TRUE(lock.try_lock());
  EXPECT_FALSE(lock.try_lock_shared());
  lock.unlock();
  // A failed try_lock leaves nothing behind that would hold readers back.
  lock.lock_shared();
  EXPECT_FALSE(lock.try_lock());
  EXPECT_TRUE(lock.try_lock_shared());
  lock.unlock_shared();
  lock.unlock_shared();
}

TEST(RwLock, WaitingWriterHoldsBackNewReaders) {
  RwLock lock;
  lock.lock_shared();  // a reader inside
  std::thread writer([&] {
    std::unique_lock w(lock);
  });
  // Once the writer waits, a new reader is refused although only a reader holds the lock. The
  // deadline only bounds a failure: the writer thread needs a moment to start waiting.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  bool held_back = false;
  while (!held_back && std::chrono::steady_clock::now() < deadline) {
    held_back = !lock.try_lock_shared();
    if (!held_back) lock.unlock_shared();
    std::this_thread::yield();
  }
  EXPECT_TRUE(held_back);
  lock.unlock_shared();  // the writer gets in, then leaves
  writer.join();
  EXPECT_TRUE(lock.try_lock_shared());
  lock.unlock_shared();
}

TEST(RwLock, NoTornValuesUnderLoad) {
  RwLock lock;
  struct {
    uint64_t a = 0, b = 0;
  } pair;  // guarded by lock; the sanitizer build checks the ordering too
  int64_t writes = 0;
  std::vector<std::thread> threads;
  int torn = 0;
  std::mutex torn_mutex;
  for (int r = 0; r < 3; ++r)
    threads.emplace_back([&] {
      int bad = 0;
      for (int i = 0; i < 20000; ++i) {
        std::shared_lock s(lock);
        bad += pair.a != pair.b;
      }
      std::lock_guard g(torn_mutex);
      torn += bad;
    });
  for (int w = 0; w < 2; ++w)
    threads.emplace_back([&] {
      for (int i = 0; i < 5000; ++i) {
        std::unique_lock x(lock);
        ++pair.a;
        ++writes;
        pair.b = pair.a;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(writes, 10000);
  EXPECT_EQ(pair.a, 10000u);
}

// A value that goes through the steps a test gives it, one step per look, and then stays. A
// sleep lasts while the value equals the one it was given; one that outlasts every step would
// never end.
struct ScriptedValue {
  std::vector<uint32_t> steps;
  size_t looks = 0;
  bool slept_for_good = false;

  uint32_t load() { return steps[std::min(looks++, steps.size() - 1)]; }
  void wait(uint32_t seen) {
    while (looks < steps.size() && steps[looks] == seen) ++looks;
    if (looks >= steps.size() && steps.back() == seen) {
      slept_for_good = true;
      throw std::runtime_error("asleep on a value that no longer changes");
    }
  }
};

// A waiting writer looks at the reader count while readers leave, a new one steps in and backs
// out at once (as it does while a writer is pending), and the count stays 0 from then on.
TEST(RwLock, AWaiterIsNotLeftAsleepByAValueThatChangedAndCameBack) {
  ScriptedValue readers;
  readers.steps.assign(2000, 1);  // past the spinning: a reader is inside
  readers.steps.insert(readers.steps.end(), {0, 1, 0});
  bool done = false;
  try {
    RwLock::WaitFor(readers, [](uint32_t n) { return n == 0; });
    done = true;
  } catch (const std::runtime_error&) {
  }
  EXPECT_TRUE(done);
  EXPECT_FALSE(readers.slept_for_good);
}

}  // namespace
}  // namespace platform
