// A program the test starts with an environment of its own (another "computer"), whose first
// line on stdout says it is ready, and which the test ends by its pid.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace host::testing {

class Program {
 public:
  // Starts path with args and with the test's environment plus env (NAME, value pairs).
  Program(const std::string& path, const std::vector<std::pair<std::string, std::string>>& env,
          std::vector<std::string> args = {});
  ~Program();  // SIGTERM, then waits for it
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  // The first line of stdout, without its line end; "" when the program ended or wait passed.
  std::string FirstLine(std::chrono::milliseconds wait = std::chrono::seconds(20));
  // The lines of stdout one after the other, from the first; "" as FirstLine.
  std::string NextLine(std::chrono::milliseconds wait = std::chrono::seconds(20));
  // Waits for the program to end; its exit code, or -1 when it did not end in time or was
  // killed by a signal. What it wrote to stderr is then in Errors().
  int ExitCode(std::chrono::milliseconds wait = std::chrono::seconds(20));
  const std::string& Errors() const { return errors_; }

 private:
  // Reads until a whole line begins at or after `from`; false when the program ended or wait passed.
  bool ReadLineFrom(size_t from, std::chrono::milliseconds wait);

  pid_t pid_ = -1;
  int out_ = -1;
  bool reaped_ = false;
  std::string output_;
  size_t taken_ = 0;  // what NextLine has handed out of output_
  std::string errors_path_;  // stderr goes to a file: a pipe nobody reads could stall the program
  std::string errors_;
};

}  // namespace host::testing
