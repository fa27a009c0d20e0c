// How the event thread reaches a program's main thread. A program installs a dispatcher (a Qt
// program posts to its GUI thread); SyncCall builds the blocking hand-over on top of Post.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace serial {

class TMainThreadDispatcher {
 public:
  virtual ~TMainThreadDispatcher() = default;
  // Queues fn to run on the main thread and returns at once. fn may arrive after its caller
  // gave up waiting; it then does nothing.
  virtual void Post(std::function<void()> fn) = 0;
  // The application's exception handler: where the component sends exceptions it does not
  // let through (a failed Open of Loaded, a report step under smWindowSync). Any thread.
  virtual void HandleException(std::exception_ptr e) = 0;
};

// The process-wide dispatcher; nullptr (the default) runs main-thread calls in the calling
// thread and writes unhandled exceptions to stderr and the error log.
void SetMainThreadDispatcher(TMainThreadDispatcher* dispatcher);
TMainThreadDispatcher* MainThreadDispatcher();
// Sends e to the dispatcher's handler, or to stderr and the error log without a dispatcher.
void HandleApplicationException(TMainThreadDispatcher* dispatcher, std::exception_ptr e);

// One call handed to the main thread, waited for by the caller and cancellable by a stop.
class TSyncCall {
 public:
  // Runs fn through dispatcher (in the calling thread when dispatcher is nullptr) and waits
  // until it has run or Cancel was called before it started. An exception of fn is thrown
  // again in the caller. False when cancelled.
  bool Run(TMainThreadDispatcher* dispatcher, std::function<void()> fn);
  // Makes a waiting Run return at once unless fn already runs (then Run waits for its end).
  // Also makes every later Run return false at once.
  void Cancel();

 private:
  struct State;
  std::mutex mutex_;
  std::shared_ptr<State> current_;
  bool cancelled_ = false;
};

// A plain dispatcher for programs without a GUI loop and for tests: whichever thread calls
// ProcessPending is the main thread.
class TQueueDispatcher : public TMainThreadDispatcher {
 public:
  void Post(std::function<void()> fn) override;
  void HandleException(std::exception_ptr e) override;

  // Runs the calls queued so far; their number.
  int ProcessPending();
  // Waits up to timeout for a queued call, then runs what is queued; their number.
  int ProcessFor(std::chrono::milliseconds timeout);
  // Waits up to timeout until a call is queued, without running it.
  bool WaitPending(std::chrono::milliseconds timeout);
  // Exceptions handed to HandleException, oldest first; taking them empties the list.
  std::vector<std::exception_ptr> TakeExceptions();

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> queue_;
  std::vector<std::exception_ptr> exceptions_;
};

}  // namespace serial
