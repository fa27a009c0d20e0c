#include "server/driver/utilities.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/no_destroy.h"
#include "platform/registry.h"
#include "server/driver/options.h"
#include "support/error_log.h"
#include "support/log_text.h"

namespace driver {

namespace {
constinit platform::NoDestroy<std::string> server_dir_storage;
constinit platform::NoDestroy<std::string> fail_item_storage;
}  // namespace
constinit std::string& ServerDir = server_dir_storage.value;
constinit std::atomic<int32_t> FatalErrorCode{0};

namespace {

constinit platform::NoDestroy<TFatalError> first_fatal_storage;
constinit std::mutex fail_item_mutex;  // also guards first_fatal
constinit std::string& fail_item_name = fail_item_storage.value;
constinit TFatalError& first_fatal = first_fatal_storage.value;
constinit std::mutex log_lock;

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

}  // namespace

std::string FailItemName() {
  std::lock_guard lock(fail_item_mutex);
  return fail_item_name;
}

void SetFailItemName(std::string_view name) {
  // The text reaches the user through C strings (an exception's message, a box), which a NUL
  // would end: it is written as the log writes it.
  std::string text;
  for (char c : name.substr(0, 255)) text += c == '\0' ? std::string("{0}") : std::string(1, c);
  std::lock_guard lock(fail_item_mutex);
  fail_item_name = std::move(text);
}

void RecordFatalError(int32_t code) {
  std::lock_guard lock(fail_item_mutex);
  FatalErrorCode = code;
  if (first_fatal.Code == 0 && code != 0) first_fatal = {code, fail_item_name};
}

TFatalError FirstFatalError() {
  std::lock_guard lock(fail_item_mutex);
  return first_fatal;
}

void ResetFatalError() {
  std::lock_guard lock(fail_item_mutex);
  FatalErrorCode = 0;
  fail_item_name.clear();
  first_fatal = {};
}

std::string GetServerPath() {
  const std::string key = std::string(platform::kClassesRoot) + "\\CLSID\\" + kServerClsid + "\\LocalServer32";
  platform::Registry registry;
  if (!registry.KeyExists(key)) return {};
  std::string value = registry.String(key).value_or("");
  WriteLog("Pfad: >" + value + "<");
  // A path with blanks is registered in double quotes, so that activation keeps it whole.
  if (!value.empty() && value.front() == '"') value = value.substr(1, value.find('"', 1) - 1);
  auto slash = value.rfind('/');
  std::string folder = slash == std::string::npos ? std::string{} : value.substr(0, slash + 1);
  WriteLog("Pfad: >" + folder + "<");
  return folder;
}

void WriteDebugLog(bool hex, std::string_view text) {
  text = text.substr(0, 255);
  const std::string path = platform::ResolveNoCase(ServerDir + "QAR_LOG.TXT");
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  std::string line = support::DateTimeText(platform::DefaultClock().Now()) + ": ";
  if (fd < 0) {
    // The trace file is only created while the debug flag word is set; a hex line is then plain.
    if (!support::Log()->Debug()) return;
    fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    line.append(text);
  } else if (hex) {
    for (unsigned char b : text) line += support::Hex2(b) + " ";
  } else {
    line.append(text);
  }
  line += "\r\n";
  (void)WriteAll(fd, line);
  ::close(fd);
}

void WriteLog(std::string_view text) {
  std::lock_guard lock(log_lock);
  support::LogMessage(text);
}

bool IsDbgFlag(int32_t mask) { return (mask & support::Log()->DbgFlag()) == mask; }

uint16_t CalcCRC16(std::string_view bytes) {
  uint16_t crc = 0xFFFF;
  for (unsigned char b : bytes) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
  }
  return crc;
}

std::string WordToStr2(uint16_t w) { return {char(w >> 8), char(w & 0xFF)}; }

int32_t BCDToInt(int32_t v) { return (v & 0x0F) + 10 * ((v >> 4) & 0x0F); }

void StartUtilities() {
  if (auto log = support::Log(); log->Debug()) log->SetMaxProblemSize(4000000);
  ServerDir = GetServerPath();
  ResetFatalError();
  ResetOptions();
  if (!ServerDir.empty() && ::chdir(ServerDir.c_str()) != 0)
    WriteLog("Pfad: chdir failed >" + ServerDir + "<");
  WriteDebugLog(false, "Start OPC-Server V070226");
}

void StopUtilities() {
  WriteDebugLog(false, "Stop  OPC-Server V070226");
  // Released, not just emptied: the library's globals go away when it is unloaded.
  std::string().swap(ServerDir);
  std::lock_guard lock(fail_item_mutex);
  std::string().swap(fail_item_name);
  std::string().swap(first_fatal.Item);
}

}  // namespace driver
