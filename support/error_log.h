// The error log every program links: time-stamped lines in Problem2.TXT, identical lines
// counted instead of repeated, rotation into Problem1.TXT and Problem0.TXT by size, all
// switched by marker files beside the program. The DEBUG marker also carries the debug flag
// word whose bits switch the other units' trace lines.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace support {

// The three programs link slightly different builds of the log; the program picks its own.
enum class LogBuild { Server, Configurator, Visualisation };

class ErrorLog {
 public:
  using FreeSpaceFn = std::function<int64_t(const std::string& dir)>;

  explicit ErrorLog(LogBuild build = LogBuild::Server);
  ErrorLog(const ErrorLog&) = delete;
  ErrorLog& operator=(const ErrorLog&) = delete;

  // Reads the marker files and the debug flag word and writes the restart line. progDir ""
  // takes the build's own folder: the program's folder for the server, else the current one.
  void Startup(std::string progDir = {});
  // Writes the end line; runtimeError forces it out even when logging is off.
  void Shutdown(int exitCode = 0, uint32_t errorAddress = 0, bool runtimeError = false);

  // One entry (LogMessage). forceFile writes it to the file even while logging is off, for the
  // few failures that must always leave a trace. A log that was never started has no folder
  // and writes no file.
  void Message(std::string_view text, bool forceFile = false);

  // Ignored while DEBUG1 exists, except during start-up (DEBUG1 locks the word at the file's value).
  void SetDbgFlag(int32_t level);
  bool TestDbgFlag(int32_t mask) const { return (mask & dbg_flag_.load()) > 0; }
  int32_t DbgFlag() const { return dbg_flag_.load(); }

  bool Demo() const { return demo_.load(); }
  bool Debug() const { return debug_.load(); }
  bool Debug1() const { return debug1_.load(); }
  bool DebugSPS() const { return debug_sps_.load(); }
  bool LogOn() const { return log_on_.load(); }
  bool DbgOutput() const { return dbg_output_.load(); }
  LogBuild Build() const { return build_; }
  std::string ProgDir() const;

  int32_t MaxProblemSize() const { return max_problem_size_.load(); }
  void SetMaxProblemSize(int32_t bytes) { max_problem_size_.store(bytes); }
  void SetProgramName(std::string_view name);  // at most 80 characters kept
  std::string ProgramName() const;
  void SetRepeatCounting(bool on);  // server build only; the others always count
  void SetLineMarker(char marker);  // server build only

  // Platform services, replaceable for tests.
  void SetClock(platform::Clock* clock) { clock_ = clock; }
  void SetFreeSpace(FreeSpaceFn fn);

 private:
  platform::Clock& Clock() const { return clock_ ? *clock_ : platform::DefaultClock(); }
  bool MarkerExists(const char* name) const;
  void ComputeSwitches(int32_t level);
  void CountOrWrite(const std::string& text);
  void WriteEntry(const std::string& text);
  std::string FormatLine(const std::string& text);
  void Rotate();

  const LogBuild build_;
  platform::Clock* clock_ = nullptr;
  FreeSpaceFn free_space_;

  mutable std::mutex mutex_;  // serialises entries and guards the fields below
  std::string prog_dir_;
  std::string program_name_;
  bool repeat_counting_ = true;
  char line_marker_ = ' ';
  std::string last_text_;
  platform::Clock::TimePoint first_time_{};
  uint16_t repeat_count_ = 0;
  bool in_transition_ = false;  // start-up or shutdown: no rotation
  int32_t base_size_ = 0;

  std::atomic<int32_t> dbg_flag_{0};
  std::atomic<int32_t> max_problem_size_;
  std::atomic<bool> demo_{false}, debug_{false}, debug1_{false}, debug_sps_{false};
  std::atomic<bool> save_err_{false}, log_on_{false}, dbg_output_{false};
  std::atomic<bool> starting_{false};
};

// The program's own log. StartErrorLog runs the start-up once however many units ask for it
// (a nesting counter); the last matching StopErrorLog runs the shutdown and lets the log go.
// Log() hands out a share of the log, so a thread still using it when another one stops it
// keeps it alive until it lets go. Outside a start and its stop, Log() gives the caller a
// silent log of its own: it writes no file, and nothing set on it outlives the caller's use.
std::shared_ptr<ErrorLog> Log();
void StartErrorLog(LogBuild build, std::string progDir = {});
void StopErrorLog(int exitCode = 0, uint32_t errorAddress = 0, bool runtimeError = false);

void LogMessage(std::string_view text);
// LogMessage with file logging forced on for this one entry.
void LogMessageForced(std::string_view text);
void SetDbgFlag(int32_t level);
bool TestDbgFlag(int32_t mask);  // any bit of mask set
// The file can be opened for reading; the last component is matched ignoring case, since
// marker files come from Windows installations.
bool ExistFile(const std::string& name);
// Kept for the callers' sake: I/O errors are not sticky here, so there is nothing to discard.
inline void ClearIOResult() {}

}  // namespace support
