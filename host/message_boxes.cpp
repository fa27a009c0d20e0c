#include "host/message_boxes.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/no_destroy.h"
#include "platform/toolkit/toolkit_host.h"

extern char** environ;

namespace host {

namespace {

constinit platform::NoDestroy<std::string> box_program;

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  return set;
}

// The box program starts with every signal unblocked and at its default: the host's blocked
// stop signals and ignored SIGPIPE are the host's own.
pid_t Spawn(const std::string& program, const char* caption, const char* text) {
  std::string args[3] = {program, caption ? caption : "", text ? text : ""};
  char* argv[] = {args[0].data(), args[1].data(), args[2].data(), nullptr};
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, reset = StopSignals();
  sigemptyset(&none);
  sigaddset(&reset, SIGPIPE);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &reset);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), nullptr, &attr, argv, environ) != 0) pid = -1;
  posix_spawnattr_destroy(&attr);
  return pid;
}

int Reap(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

// Waits until the child ends or a stop signal comes (when the caller blocks them); the
// signal's number, or 0 once the child has ended.
int AwaitChildOrStop(pid_t pid) {
  // The system call itself: the C library's declaration of it is not usable from C++ here.
  const int child = int(syscall(SYS_pidfd_open, pid, 0));
  const sigset_t stop = StopSignals();
  const int signals = signalfd(-1, &stop, SFD_CLOEXEC);
  int signo = 0;
  if (child >= 0) {
    pollfd fds[2] = {{child, POLLIN, 0}, {signals, POLLIN, 0}};
    for (;;) {
      const int n = poll(fds, signals >= 0 ? 2 : 1, -1);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 || (fds[0].revents & (POLLIN | POLLERR | POLLHUP))) break;
      signalfd_siginfo info;
      if ((fds[1].revents & POLLIN) && read(signals, &info, sizeof info) == ssize_t(sizeof info)) {
        signo = int(info.ssi_signo);
        break;
      }
    }
    close(child);
  }
  if (signals >= 0) close(signals);
  return signo;
}

}  // namespace

bool DisplayThere() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

bool InstallMessageBoxes(const std::string& program) {
  if (!DisplayThere()) return false;
  box_program.value = program;
  QarSetMessageBoxHandler(
      [](const char* caption, const char* text) { return ShowBoxBy(box_program.value, caption, text); });
  return true;
}

int32_t ShowBoxBy(const std::string& program, const char* caption, const char* text) {
  const pid_t pid = Spawn(program, caption, text);
  if (pid < 0) return 0;
  if (const int signo = AwaitChildOrStop(pid)) {
    kill(pid, SIGTERM);
    Reap(pid);
    kill(getpid(), signo);  // pending again: the host's own wait takes it up
    return 0;
  }
  const int status = Reap(pid);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 1 : 0;
}

}  // namespace host
