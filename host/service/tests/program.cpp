#include "host/service/tests/program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

extern char** environ;

namespace host::testing {

namespace {

std::string TempName() {
  std::string name = (std::filesystem::temp_directory_path() / "qar-program-stderr-XXXXXX").string();
  int fd = mkstemp(name.data());
  if (fd < 0) return {};
  close(fd);
  return name;
}

}  // namespace

Program::Program(const std::string& path, const std::vector<std::pair<std::string, std::string>>& env,
                 std::vector<std::string> args) {
  std::vector<std::string> entries;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    bool replaced = false;
    for (const auto& [name, value] : env) replaced = replaced || entry.rfind(name + "=", 0) == 0;
    if (!replaced) entries.push_back(entry);
  }
  for (const auto& [name, value] : env) entries.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& e : entries) envp.push_back(e.data());
  envp.push_back(nullptr);

  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return;
  errors_path_ = TempName();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, errors_path_.c_str(), O_WRONLY | O_TRUNC, 0600);
  args.insert(args.begin(), path);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  out_ = out[0];
}

Program::~Program() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) close(out_);
  if (!errors_path_.empty()) std::filesystem::remove(errors_path_);
}

std::string Program::FirstLine(std::chrono::milliseconds wait) {
  if (!ReadLineFrom(0, wait)) return "";
  return output_.substr(0, output_.find('\n'));
}

std::string Program::NextLine(std::chrono::milliseconds wait) {
  if (!ReadLineFrom(taken_, wait)) return "";
  const size_t end = output_.find('\n', taken_);
  std::string line = output_.substr(taken_, end - taken_);
  taken_ = end + 1;
  return line;
}

bool Program::ReadLineFrom(size_t from, std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  char buf[256];
  while (output_.find('\n', from) == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    ssize_t n = read(out_, buf, sizeof buf);
    if (n <= 0) return false;
    output_.append(buf, static_cast<size_t>(n));
  }
  return true;
}

int Program::ExitCode(std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  int status = 0;
  while (!reaped_) {
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      reaped_ = true;
      break;
    }
    if (r < 0 || std::chrono::steady_clock::now() > deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::ifstream in(errors_path_, std::ios::binary);
  errors_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace host::testing
