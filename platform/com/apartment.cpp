#include "platform/com/apartment.h"

#include <utility>

namespace platform::com {

void Apartment::Post(std::function<void()> work) {
  std::function<void()> wake_up;
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(work));
    wake_up = wake_up_;
  }
  posted_.notify_all();
  if (wake_up) wake_up();
}

size_t Apartment::RunPending() {
  std::deque<std::function<void()>> batch;
  {
    std::lock_guard lock(mutex_);
    batch.swap(queue_);
  }
  for (auto& work : batch) work();
  return batch.size();
}

size_t Apartment::WaitAndRun(std::chrono::milliseconds max_wait) {
  {
    std::unique_lock lock(mutex_);
    posted_.wait_for(lock, max_wait, [this] { return !queue_.empty(); });
  }
  return RunPending();
}

bool Apartment::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds max_wait) {
  auto deadline = std::chrono::steady_clock::now() + max_wait;
  RunPending();
  while (!done()) {
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    WaitAndRun(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) +
               std::chrono::milliseconds(1));
  }
  return true;
}

size_t Apartment::Pending() const {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

void Apartment::SetWakeUp(std::function<void()> wake_up) {
  std::lock_guard lock(mutex_);
  wake_up_ = std::move(wake_up);
}

Apartment& MainApartment() {
  static Apartment* main = new Apartment;  // never destroyed: transport threads may post at exit
  return *main;
}

}  // namespace platform::com
