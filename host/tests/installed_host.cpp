#include "host/tests/installed_host.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/com/class_registry.h"
#include "platform/registry.h"
#include "server/opc/tests/small_network.h"
#include "tools/testing/simulator_process.h"

extern char** environ;

namespace host::testing {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// A child with a clean signal state (the test program may block some) and, as a safety net,
// an alarm that ends a host that never stops by itself.
pid_t SpawnProgram(const std::string& program, const std::vector<std::string>& args, int out_fd, int err_fd) {
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (out_fd >= 0) posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
  if (err_fd >= 0) posix_spawn_file_actions_adddup2(&actions, err_fd, 2);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), &actions, &attr, cargv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  return pid;
}

int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

// Waits for our child, SIGKILL after the limit.
int Reap(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  for (;;) {
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return ExitCode(status);
    if (r < 0 && errno != EINTR) return -1;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(5ms);
  }
}

}  // namespace

bool AwaitExit(uint32_t pid, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (kill(pid_t(pid), 0) == 0 || errno != ESRCH) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

bool StopWholly(uint32_t pid, std::chrono::milliseconds limit) {
  if (kill(pid_t(pid), SIGSTOP) != 0) return false;
  auto stopped = [pid] {
    std::error_code ec;
    int threads = 0;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
      std::ifstream in(task.path() / "stat");
      std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      const size_t name_end = stat.rfind(')');
      if (name_end == std::string::npos || name_end + 2 >= stat.size() || stat[name_end + 2] != 'T') return false;
      ++threads;
    }
    return !ec && threads > 0;
  };
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!stopped()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

ScopedStop::ScopedStop(uint32_t pid, std::chrono::milliseconds limit) : pid_(pid), stopped_(StopWholly(pid, limit)) {}

ScopedStop::~ScopedStop() { kill(pid_t(pid_), SIGCONT); }

std::vector<int> IdleConnections(const std::string& path, int n) {
  std::vector<int> fds;
  for (int i = 0; i < n; ++i) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      close(fd);
      fd = -1;
    }
    fds.push_back(fd);
  }
  return fds;
}

void AwaitAnswered(const std::vector<int>& fds, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (int fd : fds) {
    if (fd < 0) continue;
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, 100) == 0 && std::chrono::steady_clock::now() < deadline) {
    }
  }
}

InstalledHost::InstalledHost(const std::string& folder, bool copy) : folder_(folder.empty() ? temp_.Path() : folder) {
  if (folder_.back() != '/') folder_ += '/';
  fs::create_directories(folder_);
  if (copy) {
    for (const char* file : {"ostrel-host", "ostrel-box", "libOstrel.so", "libqar_toolkit.so"})
      platform::testing::PlaceFile(std::string(HOST_FOLDER) + "/" + file, folder_ + file);
  }
  for (const char* name : {"XDG_RUNTIME_DIR", "DISPLAY", "WAYLAND_DISPLAY"})
    if (const char* old = getenv(name)) saved_env_[name] = old;
  setenv("XDG_RUNTIME_DIR", run_.Path().c_str(), 1);
  // A host that fails on a developer's desktop would wait for its box to be confirmed.
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
}

InstalledHost::~InstalledHost() {
  if (spawned_ > 0) {
    kill(spawned_, SIGKILL);
    waitpid(spawned_, nullptr, 0);
  } else if (auto pid = RunningPid(); pid && kill(pid_t(*pid), 0) == 0) {
    // A host that a client's activation started: not our child, ended all the same.
    kill(pid_t(*pid), SIGKILL);
    AwaitExit(*pid);
  }
  for (const char* name : {"XDG_RUNTIME_DIR", "DISPLAY", "WAYLAND_DISPLAY"}) {
    auto saved = saved_env_.find(name);
    if (saved != saved_env_.end()) {
      setenv(name, saved->second.c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
}

void InstalledHost::Write(const std::string& name, const std::string& bytes) const {
  platform::testing::WriteFile(folder_ + name, bytes);
}

std::string InstalledHost::Read(const std::string& name) const {
  std::ifstream in(folder_ + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void InstalledHost::WriteIni() const {
  const std::string port = radiosim::testing::SimulatorProcess::DefaultPortPath(folder_);
  Write("Ostrel.INI", "[Zentralfunkmodem]\r\nTyp=ZFM1,ZT\r\nRS232=" + port +
                          ",9600,Even,8,1\r\nMODUS=1\r\n\r\n[Unterstationen]\r\n" + opc::testing::kStations + "\r\n" +
                          opc::testing::kChannels);
}

Output InstalledHost::Run(const std::vector<std::string>& args) const {
  Output o;
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return o;
  pid_t pid = SpawnProgram(Program(), args, out[1], err[1]);
  close(out[1]);
  close(err[1]);
  if (pid < 0) {
    close(out[0]);
    close(err[0]);
    return o;
  }
  // Both pipes at once, so a host that writes much to one never blocks on the other.
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* into[2] = {&o.out, &o.err};
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  for (int open = 2; open > 0 && std::chrono::steady_clock::now() < deadline;) {
    if (poll(fds, 2, 100) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buf[4096];
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        into[i]->append(buf, size_t(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (auto& f : fds)
    if (f.fd >= 0) close(f.fd);
  o.exit_code = Reap(pid, 1s);
  return o;
}

bool InstalledHost::Spawn(const std::vector<std::string>& args) {
  spawned_ = SpawnProgram(Program(), args, -1, -1);
  if (spawned_ <= 0) return false;
  // Until it has recorded itself, a client's activation would start a host of its own.
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (RunningPid() != uint32_t(spawned_)) {
    if (waitpid(spawned_, nullptr, WNOHANG) == spawned_) {
      spawned_ = -1;
      return false;
    }
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

int InstalledHost::Terminate() {
  if (spawned_ > 0) {
    kill(spawned_, SIGTERM);
    int code = Reap(spawned_, 60s);  // a sanitizer build on a loaded machine takes its time
    spawned_ = -1;
    return code;
  }
  auto pid = RunningPid();
  if (!pid) return -1;
  kill(pid_t(*pid), SIGTERM);
  AwaitExit(*pid);
  return -1;
}

std::optional<uint32_t> InstalledHost::RunningPid() const {
  auto running = platform::com::FindRunningServer(kOstrelClsid);
  if (!running) return std::nullopt;
  return running->pid;
}

}  // namespace host::testing
