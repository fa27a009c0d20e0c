// How many threads of this process carry a name, waiting until at most `most` do or 5 s have
// passed: the kernel lists a thread a little longer than pthread_join waits for it.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace platform::testing {

inline int ThreadsNamed(const std::string& name, int most) {
  auto named = [&name] {
    int n = 0;
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
      std::ifstream comm(task.path() / "comm");
      std::string line;
      if (std::getline(comm, line) && line == name) ++n;
    }
    return n;
  };
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  int n;
  while ((n = named()) > most && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return n;
}

}  // namespace platform::testing
