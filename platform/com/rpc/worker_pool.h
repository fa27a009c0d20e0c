// A fixed number of threads that run submitted work in order of arrival. The server runs every
// call into its objects here, so however many clients connect, the number of threads stays
// bounded; work beyond the queue limit is refused instead of piling up.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace platform::com::rpc {

class WorkerPool {
 public:
  WorkerPool(size_t threads, size_t max_queued);
  ~WorkerPool();  // runs what is queued, then joins
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // false when the queue is full or the pool is stopping; the work is then not run.
  bool Submit(std::function<void()> work);
  // Runs what is queued, then ends the threads. Submit fails from now on.
  void Stop();

 private:
  void Run();

  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> queue_;
  size_t max_queued_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace platform::com::rpc
