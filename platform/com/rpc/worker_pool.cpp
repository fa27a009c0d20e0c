#include "platform/com/rpc/worker_pool.h"

namespace platform::com::rpc {

WorkerPool::WorkerPool(size_t threads, size_t max_queued) : max_queued_(max_queued) {
  if (threads == 0) threads = 1;
  for (size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { Run(); });
}

WorkerPool::~WorkerPool() { Stop(); }

bool WorkerPool::Submit(std::function<void()> work) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_ || queue_.size() >= max_queued_) return false;
    queue_.push_back(std::move(work));
  }
  cv_.notify_one();
  return true;
}

void WorkerPool::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_ && threads_.empty()) return;
    stopping_ = true;
  }
  cv_.notify_all();
  for (std::thread& t : threads_) {
    if (t.joinable() && t.get_id() != std::this_thread::get_id()) t.join();
  }
  threads_.clear();
}

void WorkerPool::Run() {
  for (;;) {
    std::function<void()> work;
    {
      std::unique_lock lock(mutex_);
      cv_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;  // stopping and drained
      work = std::move(queue_.front());
      queue_.pop_front();
    }
    work();
  }
}

}  // namespace platform::com::rpc
