// The window library's own GUI thread, for a host without a QApplication: started with the
// first window, it runs a QApplication and its event loop, and ends with the last window. Work
// reaches it through a locked queue of our own and an eventfd that wakes its loop, never through
// Qt's event queue, so every hand-over between threads is one ThreadSanitizer can see.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace opc {

// The name the thread shows in the process's thread list.
inline constexpr const char* kGuiThreadName = "ostrel-debugwin";

// The platforms a new QApplication may use: QT_QPA_PLATFORM when set, else Wayland and X11 when
// their display variables are set; none when there is no display. Names without plugin options.
std::vector<std::string> WantedPlatforms();

class TGuiThread {
 public:
  static TGuiThread& Instance();

  bool Running() const;
  // Starts the thread unless it runs, counts one user and runs work on it. false (no user, no
  // thread, work not run) when there is no display or none of the wanted platforms opens.
  bool Acquire(const std::function<void()>& work);
  // Runs work on the thread and counts one user fewer; after the last, ends the thread and
  // waits for it.
  void Release(const std::function<void()>& work);
  // Runs work on the thread and waits until it has run; nothing when the thread does not run.
  // Never from the thread itself.
  void Call(const std::function<void()>& work);

 private:
  enum class State { Stopped, Starting, Running, Stopping, Failed };
  struct Job {
    const std::function<void()>* work;
    bool done = false;
  };

  TGuiThread() = default;
  void Main(std::string platforms, std::vector<std::string> wanted);
  void RunPending();

  std::mutex life_;  // one start or stop at a time
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  State state_ = State::Stopped;
  int users_ = 0;
  std::thread thread_;
  int wake_fd_ = -1;  // kept open for the life of the process
  std::deque<Job*> queue_;
};

}  // namespace opc
