// For tests of readers that must not wait on a FIFO: unless released (by its end) within a
// generous deadline, it opens the FIFO's write end and writes a text for every reader that opens
// it, so that a reader blocked in opening the FIFO gets that text, and its test fails instead of
// hanging for good.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace platform::testing {

class FifoWatchdog {
 public:
  FifoWatchdog(const std::string& fifo, const std::string& text,
               std::chrono::seconds deadline = std::chrono::seconds(30))
      : thread_([this, fifo, text, deadline] {
          std::unique_lock lock(mutex_);
          if (cv_.wait_for(lock, deadline, [this] { return released_; })) return;
          // From now on every open of the reader gets the text, until the test ends.
          while (!released_) {
            const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
              (void)!::write(fd, text.data(), text.size());
              ::close(fd);
            }
            cv_.wait_for(lock, std::chrono::milliseconds(10), [this] { return released_; });
          }
        }) {}
  ~FifoWatchdog() {
    {
      std::lock_guard lock(mutex_);
      released_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  FifoWatchdog(const FifoWatchdog&) = delete;
  FifoWatchdog& operator=(const FifoWatchdog&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool released_ = false;
  std::thread thread_;  // last: it uses the members above
};

}  // namespace platform::testing
