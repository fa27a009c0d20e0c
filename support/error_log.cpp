#include "support/error_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <fstream>
#include <memory>

#include "platform/debug_output.h"
#include "platform/files.h"
#include "platform/no_destroy.h"
#include "support/log_text.h"

namespace support {

namespace {

constexpr auto kRepeatWindow = std::chrono::seconds{240};
constexpr size_t kShortString = 255;  // the client programs' texts

// First integer of the DEBUG file; a read error gives 1, an empty file 0.
int32_t ReadDebugWord(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return 1;
  std::string word;
  in >> word;
  if (word.empty()) return 0;
  const char* p = word.c_str();
  int base = 10;
  bool neg = false;
  if (*p == '+' || *p == '-') neg = *p++ == '-';
  if (*p == '$') {
    base = 16;
    ++p;
  }
  if (!*p) return 1;
  long long v = 0;
  for (; *p; ++p) {
    int d = std::isdigit((unsigned char)*p) ? *p - '0'
            : (base == 16 && std::isxdigit((unsigned char)*p)) ? std::toupper((unsigned char)*p) - 'A' + 10
                                                                : -1;
    if (d < 0) return 1;
    v = v * base + d;
    if (v > (long long)INT32_MAX + 1) return 1;
  }
  v = neg ? -v : v;
  if (v > INT32_MAX || v < INT32_MIN) return 1;
  return int32_t(v);
}

// The flag word of a level: its magnitude, the largest word for the one without one in 32 bits.
int32_t FlagWord(int32_t level) { return level == INT32_MIN ? INT32_MAX : (level < 0 ? -level : level); }

std::string EscapeControls(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (c == '\r')
      out += '|';
    else if (c < 32)
      out += "{" + std::to_string(c) + "}";
    else
      out += char(c);
  }
  return out;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

}  // namespace

ErrorLog::ErrorLog(LogBuild build)
    : build_(build), max_problem_size_(build == LogBuild::Server ? 100000 : 20000) {}

std::string ErrorLog::ProgDir() const {
  std::lock_guard lock(mutex_);
  return prog_dir_;
}

void ErrorLog::SetProgramName(std::string_view name) {
  std::lock_guard lock(mutex_);
  program_name_ = std::string(name.substr(0, 80));
}

std::string ErrorLog::ProgramName() const {
  std::lock_guard lock(mutex_);
  return program_name_;
}

void ErrorLog::SetRepeatCounting(bool on) {
  if (build_ != LogBuild::Server) return;
  std::lock_guard lock(mutex_);
  repeat_counting_ = on;
}

void ErrorLog::SetLineMarker(char marker) {
  if (build_ != LogBuild::Server) return;
  std::lock_guard lock(mutex_);
  line_marker_ = marker;
}

void ErrorLog::SetFreeSpace(FreeSpaceFn fn) {
  std::lock_guard lock(mutex_);
  free_space_ = std::move(fn);
}

bool ErrorLog::MarkerExists(const char* name) const { return ExistFile(prog_dir_ + name); }

void ErrorLog::Startup(std::string progDir) {
  starting_ = true;
  {
    std::lock_guard lock(mutex_);
    in_transition_ = true;
    if (progDir.empty())
      progDir = build_ == LogBuild::Server ? platform::ProgramDir() : platform::CurrentDir();
    prog_dir_ = platform::WithTrailingSlash(progDir);
  }
  demo_ = MarkerExists("DEMO");
  bool debug_file = MarkerExists("DEBUG");
  debug_ = debug_file;
  debug1_ = MarkerExists("DEBUG1");
  debug_sps_ = MarkerExists("DEBUGSPS");
  int32_t word = debug_file ? ReadDebugWord(platform::ResolveNoCase(prog_dir_ + "DEBUG")) : 0;
  if (build_ == LogBuild::Server) {
    SetDbgFlag(word);
  } else {
    // The client programs have no flag-word switching: any marker file turns the log on.
    save_err_ = MarkerExists("SAVE_ERR");
    dbg_flag_ = FlagWord(word);
    log_on_ = save_err_ || debug_file || debug1_ || debug_sps_;
  }
  {
    std::lock_guard lock(mutex_);
    if (base_size_ == 0) base_size_ = max_problem_size_;
    if ((debug_ || debug1_ || debug_sps_) && max_problem_size_ < 2 * base_size_)
      max_problem_size_ = 2 * base_size_;
  }
  if (log_on_) {
    Message(" ");
    Message("[Neustart Tarmo-32 PC-Programm " + ProgramName() + ", DbgFlag=$" + Hex2(uint32_t(DbgFlag())) +
            "]");
  }
  {
    std::lock_guard lock(mutex_);
    in_transition_ = false;
  }
  starting_ = false;
}

void ErrorLog::Shutdown(int exitCode, uint32_t errorAddress, bool runtimeError) {
  {
    std::lock_guard lock(mutex_);
    in_transition_ = true;
  }
  if (runtimeError) log_on_ = true;
  Message("[Ende PC-Programm " + ProgramName() + ", RT " + IntStr(exitCode) + " at " + Hex6(errorAddress) + "]");
  std::lock_guard lock(mutex_);
  in_transition_ = false;
  last_text_.clear();
  repeat_count_ = 0;
}

void ErrorLog::SetDbgFlag(int32_t level) {
  if (build_ != LogBuild::Server) return;
  if (debug1_ && !starting_) return;
  ComputeSwitches(level);
}

void ErrorLog::ComputeSwitches(int32_t level) {
  dbg_output_ = level >= 1024;
  dbg_flag_ = FlagWord(level);
  debug_ = level != 0;
  save_err_ = MarkerExists("SAVE_ERR");
  log_on_ = (save_err_ || debug_ || debug1_ || debug_sps_) && !dbg_output_;
}

void ErrorLog::Message(std::string_view view, bool forceFile) {
  std::string text(build_ == LogBuild::Server ? view : view.substr(0, kShortString));
  if (dbg_output_) platform::OutputDebugString(text);
  if (!log_on_ && !forceFile) return;
  std::lock_guard lock(mutex_);
  CountOrWrite(text);
}

void ErrorLog::CountOrWrite(const std::string& text) {
  auto now = Clock().Now();
  if (!repeat_counting_) last_text_.clear();
  if (!last_text_.empty() && text == last_text_) {
    if (now - first_time_ <= kRepeatWindow) {
      if (repeat_count_ == UINT16_MAX) {
        // The counter is 16 bits: summarise and count on rather than fail inside the caller's
        // own error handling.
        WriteEntry("[" + IntStr(repeat_count_) + "* Wiederholung]");
        repeat_count_ = 0;
      }
      ++repeat_count_;
      return;
    }
    last_text_.clear();
  }
  if (repeat_count_ > 0) WriteEntry("[" + IntStr(repeat_count_) + "* Wiederholung]");
  repeat_count_ = 0;
  first_time_ = now;
  last_text_ = text;
  WriteEntry(text);
}

std::string ErrorLog::FormatLine(const std::string& text) {
  auto now = Clock().Now();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  if (ms < 0) ms += 1000;
  // Hundredths are rounded, so "100" can follow the seconds.
  std::string stamp = DateTimeText(now) + "-" + IntStr2(int32_t((ms + 5) / 10));
  std::string separator = build_ == LogBuild::Server ? std::string(" ") + line_marker_ + ">" : " >";
  return stamp + separator + EscapeControls(text) + "<\r\n";
}

void ErrorLog::WriteEntry(const std::string& text) {
  if (text.empty() || prog_dir_.empty()) return;
  int64_t free = free_space_ ? free_space_(prog_dir_) : platform::FreeDiskBytes(prog_dir_);
  if (free < 0) free = INT32_MAX;
  if (!(2 * int64_t(max_problem_size_) < free && free > 8192)) return;

  const std::string path = prog_dir_ + "Problem2.TXT";
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  struct stat st {};
  off_t before = fstat(fd, &st) == 0 ? st.st_size : -1;
  const std::string line = FormatLine(text);
  size_t done = 0;
  while (done < line.size()) {
    ssize_t n = ::write(fd, line.data() + done, line.size() - done);
    if (n <= 0) break;
    done += size_t(n);
  }
  // A line cut short by a full disk would run into the next entry: take it back.
  if (done < line.size() && before >= 0) (void)!ftruncate(fd, before);
  ::close(fd);
  if (!in_transition_) Rotate();
}

void ErrorLog::Rotate() {
  const std::string p2 = prog_dir_ + "Problem2.TXT", p1 = prog_dir_ + "Problem1.TXT",
                    p0 = prog_dir_ + "Problem0.TXT";
  struct stat st {};
  if (stat(p2.c_str(), &st) != 0 || st.st_size <= max_problem_size_) return;
  if (FileExists(p1)) {
    if (FileExists(p0))
      std::remove(p1.c_str());
    else
      std::rename(p1.c_str(), p0.c_str());
  }
  std::rename(p2.c_str(), p1.c_str());
}

// The program's log and its start-up nesting.

namespace {
constinit std::mutex global_mutex;
// Holds the log from its start to its stop only; users hold their own shares.
constinit platform::NoDestroy<std::shared_ptr<ErrorLog>> global_log_storage;
constinit std::shared_ptr<ErrorLog>& global_log = global_log_storage.value;
constinit int nesting = 0;
}  // namespace

std::shared_ptr<ErrorLog> Log() {
  {
    std::lock_guard lock(global_mutex);
    if (global_log) return global_log;
  }
  // Kept by nobody: kept here, it would never be stopped and would carry what was set on it
  // into the next start.
  return std::make_shared<ErrorLog>();
}

void StartErrorLog(LogBuild build, std::string progDir) {
  std::shared_ptr<ErrorLog> log;
  {
    std::lock_guard lock(global_mutex);
    if (nesting++ > 0) return;
    global_log = std::make_shared<ErrorLog>(build);
    log = global_log;
  }
  log->Startup(std::move(progDir));
}

void StopErrorLog(int exitCode, uint32_t errorAddress, bool runtimeError) {
  std::shared_ptr<ErrorLog> log;
  {
    std::lock_guard lock(global_mutex);
    if (nesting == 0 || --nesting > 0) return;
    // Let go at once, so a start that follows makes a log of its own rather than restarting
    // this one while it shuts down.
    log = std::move(global_log);
  }
  // Freed once the last user lets go, not kept: the server library may be unloaded and its
  // globals with it.
  if (log) log->Shutdown(exitCode, errorAddress, runtimeError);
}

void LogMessage(std::string_view text) { Log()->Message(text); }
void LogMessageForced(std::string_view text) { Log()->Message(text, true); }
void SetDbgFlag(int32_t level) { Log()->SetDbgFlag(level); }
bool TestDbgFlag(int32_t mask) { return Log()->TestDbgFlag(mask); }

bool ExistFile(const std::string& name) {
  std::string found = platform::FindFileNoCase(name);
  struct stat st {};
  if (found.empty() || stat(found.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  std::FILE* f = std::fopen(found.c_str(), "r");
  if (!f) return false;
  std::fclose(f);
  return true;
}

}  // namespace support
