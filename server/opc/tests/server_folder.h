// A server folder for end-to-end tests: a host program placed in a temporary folder, as an
// installation would have it, registered for the server's class id in a registry file of its
// own, and run there as a child process.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/testing/temp_dir.h"

namespace opc::testing {

struct ServerFolder {
  platform::testing::TempDir dir;      // the host program's folder
  platform::testing::TempDir workdir;  // the current directory the host is started in
  std::string host = dir / "host";
  std::string registry = dir / "registry";

  explicit ServerFolder(const std::string& program) { platform::testing::PlaceFile(program, host); }

  void Register() const {
    const std::string key =
        std::string(platform::kClassesRoot) + "\\CLSID\\{5D2C8E71-0B4F-4A96-9E3D-71C4A2B8F605}\\LocalServer32";
    ASSERT_TRUE(platform::Registry(registry).SetValue(key, "", host));
  }

  // Runs the host with the arguments and extra environment; its exit code, -1 when it died.
  // out and err (when given) receive its standard output and standard error.
  int Run(const std::vector<std::string>& args, const std::vector<std::pair<std::string, std::string>>& env = {},
          std::string* out = nullptr, std::string* err = nullptr) const {
    int pipes[2][2];
    if (pipe(pipes[0]) != 0 || pipe(pipes[1]) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
      dup2(pipes[0][1], 1);
      dup2(pipes[1][1], 2);
      close(pipes[0][0]);
      close(pipes[1][0]);
      setenv("QAR_REGISTRY", registry.c_str(), 1);
      for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
      if (chdir(workdir.Path().c_str()) != 0) _exit(125);
      std::vector<char*> argv{const_cast<char*>(host.c_str())};
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(host.c_str(), argv.data());
      _exit(126);
    }
    close(pipes[0][1]);
    close(pipes[1][1]);
    // Standard error is read after standard output ends; the tests' hosts write little to it.
    for (int i = 0; i < 2; ++i) {
      std::string* into = i == 0 ? out : err;
      char buf[4096];
      for (ssize_t n; (n = read(pipes[i][0], buf, sizeof buf)) > 0;)
        if (into) into->append(buf, size_t(n));
      close(pipes[i][0]);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

}  // namespace opc::testing
