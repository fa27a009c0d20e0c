#include "server/opc/debug_window/gui_thread.h"

#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QThreadPool>
#include <algorithm>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <sstream>

namespace opc {

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

}  // namespace

std::vector<std::string> WantedPlatforms() {
  std::vector<std::string> names;
  const std::string asked = Env("QT_QPA_PLATFORM");
  if (!asked.empty()) {
    std::istringstream list(asked);
    for (std::string item; std::getline(list, item, ';');)
      if (!item.empty()) names.push_back(item.substr(0, item.find(':')));
  } else {
    if (!Env("WAYLAND_DISPLAY").empty()) names.push_back("wayland");
    if (!Env("DISPLAY").empty()) names.push_back("xcb");
  }
  return names;
}

TGuiThread& TGuiThread::Instance() {
  static TGuiThread* instance = new TGuiThread;  // never destroyed: a host may exit with a window open
  return *instance;
}

bool TGuiThread::Running() const {
  std::lock_guard lock(mutex_);
  return state_ == State::Running;
}

bool TGuiThread::Acquire(const std::function<void()>& work) {
  std::lock_guard life(life_);
  std::unique_lock lock(mutex_);
  if (state_ != State::Running) {
    const std::vector<std::string> wanted = WantedPlatforms();
    if (wanted.empty()) return false;
    if (wake_fd_ < 0) wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_fd_ < 0) return false;
    // Qt ends the process when no platform opens at all; the offscreen one always does, and is
    // then taken as "no display" unless it was asked for.
    std::string platforms = Env("QT_QPA_PLATFORM");
    if (platforms.empty())
      for (const std::string& name : wanted) platforms += name + ";";
    if (std::find(wanted.begin(), wanted.end(), "offscreen") == wanted.end()) platforms += ";offscreen";
    state_ = State::Starting;
    thread_ = std::thread(&TGuiThread::Main, this, platforms, wanted);
    changed_.wait(lock, [this] { return state_ != State::Starting; });
    if (state_ != State::Running) {
      lock.unlock();
      thread_.join();
      lock.lock();
      state_ = State::Stopped;
      return false;
    }
  }
  ++users_;
  lock.unlock();
  Call(work);
  return true;
}

void TGuiThread::Release(const std::function<void()>& work) {
  std::lock_guard life(life_);
  Call(work);
  {
    std::lock_guard lock(mutex_);
    if (state_ != State::Running || --users_ > 0) return;
  }
  Call([] { QCoreApplication::quit(); });
  thread_.join();
  std::lock_guard lock(mutex_);
  state_ = State::Stopped;
}

void TGuiThread::Call(const std::function<void()>& work) {
  Job job{&work};
  std::unique_lock lock(mutex_);
  if (state_ != State::Running) return;
  queue_.push_back(&job);
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t written = write(wake_fd_, &one, sizeof one);
  changed_.wait(lock, [&job] { return job.done; });
}

void TGuiThread::RunPending() {
  std::unique_lock lock(mutex_);
  while (!queue_.empty()) {
    Job* job = queue_.front();
    queue_.pop_front();
    lock.unlock();
    (*job->work)();
    lock.lock();
    job->done = true;
    changed_.notify_all();
  }
}

void TGuiThread::Main(std::string platforms, std::vector<std::string> wanted) {
  pthread_setname_np(pthread_self(), kGuiThreadName);
  // QApplication sets the process's locale from the environment; the server formats its numbers
  // and texts in the locale it had.
  const std::string locale = std::setlocale(LC_ALL, nullptr);
  std::string name = "Ostrel", option = "-platform";
  int argc = 3;
  char* argv[] = {name.data(), option.data(), platforms.data(), nullptr};
  QApplication app(argc, argv);
  std::setlocale(LC_ALL, locale.c_str());
  const std::string opened = QGuiApplication::platformName().toStdString();
  if (std::find(wanted.begin(), wanted.end(), opened) == wanted.end()) {
    std::lock_guard lock(mutex_);
    state_ = State::Failed;
    changed_.notify_all();
    return;
  }
  QApplication::setQuitOnLastWindowClosed(false);
  QSocketNotifier notifier(wake_fd_, QSocketNotifier::Read);
  QObject::connect(&notifier, &QSocketNotifier::activated, [this] {
    uint64_t count;
    while (read(wake_fd_, &count, sizeof count) == sizeof count) {
    }
    RunPending();
  });
  {
    std::lock_guard lock(mutex_);
    state_ = State::Running;
    changed_.notify_all();
  }
  QApplication::exec();
  {
    std::lock_guard lock(mutex_);
    state_ = State::Stopping;
  }
  RunPending();  // nobody waits for ever on work queued while the loop ended
  // Painting hands image conversions to Qt's worker threads, which would idle on for half a
  // minute after the window has gone.
  QThreadPool::globalInstance()->waitForDone();
}

}  // namespace opc
