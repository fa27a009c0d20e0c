#include "tools/testing/simulator_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>

extern char** environ;

namespace radiosim::testing {

namespace {

using Clock = std::chrono::steady_clock;

bool HasOption(const std::vector<std::string>& args, const std::string& name) {
  return std::find(args.begin(), args.end(), name) != args.end();
}

std::string ValueOf(const std::vector<std::string>& args, const std::string& name) {
  auto it = std::find(args.begin(), args.end(), name);
  return it != args.end() && it + 1 != args.end() ? *(it + 1) : std::string();
}

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return int(std::max<long long>(0, left));
}

}  // namespace

SimulatorProcess::SimulatorProcess(std::string iniDir, std::vector<std::string> args)
    : dir_(std::move(iniDir)), args_(std::move(args)) {
  if (!dir_.empty() && dir_.back() != '/') dir_ += '/';
  if (!HasOption(args_, "--link") && !HasOption(args_, "--device")) {
    args_.insert(args_.begin(), {"--link", DefaultPortPath(dir_)});
  }
  port_ = HasOption(args_, "--device") ? ValueOf(args_, "--device") : ValueOf(args_, "--link");
}

SimulatorProcess::~SimulatorProcess() { Stop(); }

std::string SimulatorProcess::ProgramPath() { return QAR_RADIO_SIM; }

std::string SimulatorProcess::DefaultPortPath(const std::string& iniDir) {
  std::string d = iniDir;
  if (!d.empty() && d.back() != '/') d += '/';
  return d + "radio-sim.tty";
}

bool SimulatorProcess::Start(std::chrono::milliseconds wait) {
  if (pid_ > 0) return true;
  // One socket pair serves as the child's stdin and stdout; a socket (unlike a pipe) lets us
  // write without SIGPIPE when the child has died.
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) {
    error_ = std::string("socketpair: ") + std::strerror(errno);
    return false;
  }
  std::vector<std::string> argv = {ProgramPath(), "--ini", dir_};
  argv.insert(argv.end(), args_.begin(), args_.end());
  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, sv[1], 0);
  posix_spawn_file_actions_adddup2(&actions, sv[1], 1);
  // The child must not inherit signals that a test program blocks.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
  const int rc = posix_spawn(&pid_, cargv[0], &actions, &attr, cargv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  ::close(sv[1]);
  channel_ = sv[0];
  if (rc != 0) {
    pid_ = -1;
    error_ = "cannot start " + ProgramPath() + ": " + std::strerror(rc);
    Stop();
    return false;
  }
  std::string line;
  if (!ReadLine(line, wait) || line.rfind("ready ", 0) != 0) {
    error_ = line.empty() ? "no ready line from radio-sim" : "radio-sim said: " + line;
    Stop();
    return false;
  }
  if (port_.empty()) port_ = line.substr(6);
  return true;
}

bool SimulatorProcess::ReadLine(std::string& line, std::chrono::milliseconds wait) {
  const auto deadline = Clock::now() + wait;
  for (;;) {
    const size_t eol = buffer_.find('\n');
    if (eol != std::string::npos) {
      line = buffer_.substr(0, eol);
      buffer_.erase(0, eol + 1);
      return true;
    }
    if (channel_ < 0) return false;
    pollfd p{channel_, POLLIN, 0};
    const int n = ::poll(&p, 1, RemainingMs(deadline));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    char buf[4096];
    const ssize_t got = ::read(channel_, buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    buffer_.append(buf, size_t(got));
  }
}

std::string SimulatorProcess::Command(const std::string& line, std::chrono::milliseconds wait) {
  if (channel_ < 0) return {};
  const std::string text = line + "\n";
  if (::send(channel_, text.data(), text.size(), MSG_NOSIGNAL) != ssize_t(text.size())) return {};
  std::string reply;
  return ReadLine(reply, wait) ? reply : std::string();
}

std::vector<int> SimulatorProcess::Registers(const std::string& station, int cls) {
  const std::string reply = Command("regs " + station + " " + std::to_string(cls));
  std::vector<int> v;
  if (reply.rfind("ok", 0) != 0) return v;
  std::istringstream in(reply.substr(2));
  for (int x; in >> x;) v.push_back(x);
  return v;
}

std::map<std::string, long long> SimulatorProcess::Stats() {
  const std::string reply = Command("stats");
  std::map<std::string, long long> m;
  if (reply.rfind("ok", 0) != 0) return m;
  std::istringstream in(reply.substr(2));
  for (std::string kv; in >> kv;) {
    const size_t eq = kv.find('=');
    if (eq != std::string::npos) m[kv.substr(0, eq)] = std::stoll(kv.substr(eq + 1));
  }
  return m;
}

int SimulatorProcess::Stop(std::chrono::milliseconds wait) {
  int status = -1;
  if (pid_ > 0) {
    // A pidfd becomes readable when the child exits, so the wait needs no polling loop.
    const int pidfd = int(::syscall(SYS_pidfd_open, pid_, 0));
    ::kill(pid_, SIGTERM);
    if (pidfd >= 0) {
      pollfd p{pidfd, POLLIN, 0};
      while (::poll(&p, 1, int(wait.count())) < 0 && errno == EINTR) {
      }
      ::close(pidfd);
    }
    if (::waitpid(pid_, &status, WNOHANG) != pid_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
  }
  if (channel_ >= 0) ::close(channel_);
  channel_ = -1;
  return status;
}

}  // namespace radiosim::testing
