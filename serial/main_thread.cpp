#include "serial/main_thread.h"

#include <atomic>
#include <utility>
#include <cstdio>
#include <string>

#include "support/error_log.h"

namespace serial {

namespace {
std::atomic<TMainThreadDispatcher*> process_dispatcher{nullptr};

std::string Describe(std::exception_ptr e) {
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& x) {
    return x.what();
  } catch (...) {
    return "unknown exception";
  }
}
}  // namespace

void SetMainThreadDispatcher(TMainThreadDispatcher* dispatcher) { process_dispatcher.store(dispatcher); }
TMainThreadDispatcher* MainThreadDispatcher() { return process_dispatcher.load(); }

void HandleApplicationException(TMainThreadDispatcher* dispatcher, std::exception_ptr e) {
  if (dispatcher) {
    dispatcher->HandleException(e);
    return;
  }
  std::string text = "ComPort: " + Describe(e);
  std::fprintf(stderr, "%s\n", text.c_str());
  support::LogMessage(text);
}

// --- TSyncCall ---

struct TSyncCall::State {
  enum Phase { Pending, Running, Done, Cancelled };
  std::mutex mutex;
  std::condition_variable cv;
  Phase phase = Pending;
  std::exception_ptr error;
};

bool TSyncCall::Run(TMainThreadDispatcher* dispatcher, std::function<void()> fn) {
  auto state = std::make_shared<State>();
  {
    std::lock_guard lock(mutex_);
    if (cancelled_) return false;
    current_ = state;
  }
  if (!dispatcher) {
    state->phase = State::Done;
    try {
      fn();
    } catch (...) {
      state->error = std::current_exception();
    }
  } else {
    dispatcher->Post([state, fn = std::move(fn)] {
      {
        std::lock_guard lock(state->mutex);
        if (state->phase == State::Cancelled) return;
        state->phase = State::Running;
      }
      std::exception_ptr error;
      try {
        fn();
      } catch (...) {
        error = std::current_exception();
      }
      std::lock_guard lock(state->mutex);
      state->error = error;
      state->phase = State::Done;
      state->cv.notify_all();
    });
    std::unique_lock lock(state->mutex);
    state->cv.wait(lock, [&] { return state->phase == State::Done || state->phase == State::Cancelled; });
  }
  {
    std::lock_guard lock(mutex_);
    current_.reset();
  }
  if (state->phase == State::Cancelled) return false;
  if (state->error) std::rethrow_exception(state->error);
  return true;
}

void TSyncCall::Cancel() {
  std::lock_guard lock(mutex_);
  cancelled_ = true;
  if (!current_) return;
  std::lock_guard state_lock(current_->mutex);
  if (current_->phase == State::Pending) {
    current_->phase = State::Cancelled;
    current_->cv.notify_all();
  }
}

// --- TQueueDispatcher ---

void TQueueDispatcher::Post(std::function<void()> fn) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(fn));
  }
  cv_.notify_all();
}

void TQueueDispatcher::HandleException(std::exception_ptr e) {
  std::lock_guard lock(mutex_);
  exceptions_.push_back(e);
}

int TQueueDispatcher::ProcessPending() {
  std::deque<std::function<void()>> calls;
  {
    std::lock_guard lock(mutex_);
    calls.swap(queue_);
  }
  for (auto& call : calls) {
    try {
      call();
    } catch (...) {
      HandleException(std::current_exception());
    }
  }
  return int(calls.size());
}

int TQueueDispatcher::ProcessFor(std::chrono::milliseconds timeout) {
  {
    std::unique_lock lock(mutex_);
    cv_.wait_for(lock, timeout, [&] { return !queue_.empty(); });
  }
  return ProcessPending();
}

bool TQueueDispatcher::WaitPending(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return cv_.wait_for(lock, timeout, [&] { return !queue_.empty(); });
}

std::vector<std::exception_ptr> TQueueDispatcher::TakeExceptions() {
  std::lock_guard lock(mutex_);
  return std::exchange(exceptions_, {});
}

}  // namespace serial
