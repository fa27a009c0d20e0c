#include "support/ini_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "platform/cp1252.h"
#include "platform/files.h"
#include "platform/no_destroy.h"
#include "platform/text_lines.h"
#include "support/error_log.h"
#include "support/log_text.h"

namespace support {

namespace {

constexpr size_t kShortString = 255;
constexpr size_t kNameLength = 80;
constexpr int32_t kTraceReads = 256;
constexpr int32_t kTraceFields = 512;

bool StartsWith(const std::string& s, char c) { return !s.empty() && s[0] == c; }

void CutAtComment(std::string& line) {
  auto p = line.find(';');
  if (p != std::string::npos) line.erase(p);
}

// The next field up to the first "," (the line keeps what follows), without its blanks.
std::string CutField(std::string& line) {
  std::string field;
  auto p = line.find(',');
  if (p == std::string::npos) {
    field = line.substr(0, 254);
    line.clear();
  } else {
    field = line.substr(0, p);
    line.erase(0, p + 1);
  }
  Trim_Blanks(field, int(kShortString));
  return field;
}

// A whole decimal integer with an optional sign, in 32-bit range.
bool ParseInt(const std::string& text, int32_t& value) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return false;
  int64_t v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
    if (v > int64_t(INT32_MAX) + 1) return false;
  }
  v = negative ? -v : v;
  if (v > INT32_MAX || v < INT32_MIN) return false;
  value = int32_t(v);
  return true;
}

// Sign, digits with at most one ".", an optional exponent; nothing else.
bool ParseReal(const std::string& text, double& value) {
  size_t i = 0, digits = 0;
  auto skip_digits = [&] {
    size_t n = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++n;
    return n;
  };
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  digits += skip_digits();
  if (i < text.size() && text[i] == '.') {
    ++i;
    digits += skip_digits();
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (skip_digits() == 0) return false;
  }
  if (i != text.size()) return false;
  errno = 0;
  value = std::strtod(text.c_str(), nullptr);  // the C locale: "." is the separator
  // ERANGE also marks an underflow, whose tiny (or zero) result is the value written.
  return errno != ERANGE || (std::isfinite(value) && std::fabs(value) < 1.0);
}

}  // namespace

IniReader::IniReader(IniBuild build, ErrorLog* log) : build_(build), log_(log) {}

IniReader::~IniReader() = default;

// A log of the caller's own is not shared: the reader only borrows it.
std::shared_ptr<ErrorLog> IniReader::Log() const {
  return log_ ? std::shared_ptr<ErrorLog>(std::shared_ptr<ErrorLog>(), log_) : support::Log();
}

void IniReader::Trace(int32_t bit, const std::string& text) const {
  const std::shared_ptr<ErrorLog> log = Log();
  if (log->TestDbgFlag(bit)) log->Message(text);
}

// Paths are not cut to the platform's old 80 characters: installation folders here are longer.
void IniReader::Set_INI_File(const std::string& name) { file_ = name; }

void IniReader::Set_INI_Section(const std::string& name) {
  header_ = ("[" + platform::UpperCase1252(name) + "]").substr(0, kNameLength);
}

IniReader::Source::~Source() {
  if (fd >= 0) ::close(fd);
}

std::unique_ptr<IniReader::Source> IniReader::OpenFile() {
  line_counter_ = 0;
  const std::string path = platform::ResolveNoCase(file_);
  std::string refused;
  const int fd = platform::OpenRegularFile(path, O_RDONLY, &refused);
  if (fd < 0) {
    if (!refused.empty() && refused_.insert(path).second)
      Log()->Message("INI: " + path + " is " + refused + ", not read");
    return nullptr;
  }
  auto f = std::make_unique<Source>();
  f->fd = fd;
  return f;
}

bool IniReader::ReadLine(Source& f, std::string& line) {
  // Reads on until the text holds a whole line: its end, and after a CR the byte that may be
  // the LF of a CR LF.
  for (;;) {
    const size_t at = platform::FindLineEnd(f.text, f.pos);
    if (f.end || (at != std::string::npos && (f.text[at] == '\n' || at + 1 < f.text.size()))) break;
    f.text.erase(0, f.pos);
    f.pos = 0;
    char chunk[16384];
    const ssize_t n = ::read(f.fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      f.end = true;  // a read error ends the text where it stands
    else
      f.text.append(chunk, size_t(n));
  }
  std::string_view text;
  if (!platform::NextLine(f.text, f.pos, text)) {
    line.clear();
    return false;
  }
  ++line_counter_;
  // A line's text ends at a NUL, as C strings end: every program that reads the line, and every
  // interface a name goes through, sees the same text.
  if (const size_t nul = text.find('\0'); nul != std::string_view::npos) {
    if (nul_lines_.emplace(file_, line_counter_).second)
      Log()->Message("INI: " + file_ + " line " + IntStr(line_counter_) +
                    " holds a NUL, the rest of the line is ignored: " + std::string(text));
    text = text.substr(0, nul);
  }
  if (build_ == IniBuild::Server && text.size() > kShortString) text = text.substr(0, kShortString);
  line.assign(text);
  return true;
}

bool IniReader::FindSection(Source& f) {
  std::string line;
  while (ReadLine(f, line)) {
    if (line.find('[') == std::string::npos) continue;
    CutAtComment(line);
    // A containment test: "x[ADR012]y" holds the header [ADR012].
    if (platform::UpperCase1252(line).find(header_) != std::string::npos) return true;
  }
  return false;
}

std::string IniReader::FindKey(Source& f, const std::string& rawKey) {
  const std::string key = platform::UpperCase1252(rawKey.substr(0, kNameLength));
  std::string line;
  while (ReadLine(f, line)) {
    Trim_Blanks(line, int(line.size()));
    if (line.empty() || StartsWith(line, ';')) continue;
    if (StartsWith(line, '[')) return {};
    CutAtComment(line);
    if (key.empty()) {
      Trim_Blanks(line, int(line.size()));
      if (!line.empty()) return line;
      continue;
    }
    auto eq = line.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    std::string name = platform::UpperCase1252(line.substr(0, eq + 1));
    if (name.size() <= key.size() || name.compare(0, key.size(), key) != 0) continue;
    char after = name[key.size()];
    if (after != ' ' && after != '=') continue;
    std::string value = line.substr(eq + 1);
    Trim_Blanks(value, int(value.size()));
    if (value.size() > kShortString) value.resize(kShortString);
    return value;
  }
  return {};
}

std::string IniReader::Read_Parameter(const std::string& key) {
  CLOSE_INI_BLOCK();
  std::string value;
  if (auto f = OpenFile())
    if (FindSection(*f)) value = FindKey(*f, key);
  Trace(kTraceReads, file_ + ": " + header_ + "/" + key + ":" + value);
  return value;
}

int32_t IniReader::Read_IntParameter(const std::string& key, int32_t min, int32_t max, int32_t def) {
  Trace(kTraceFields, "Read_IntParameter " + key);
  std::string value = Read_Parameter(key);
  return Get_IntParameter(value, int(kShortString), min, max, def);
}

void IniReader::OPEN_INI_BLOCK() {
  CLOSE_INI_BLOCK();
  auto f = OpenFile();
  const bool found = f && FindSection(*f);
  if (found) block_ = std::move(f);
  Trace(kTraceReads, file_ + ": " + header_ + " OPEN_INI_BLOCK: " + BoolToText(found));
}

void IniReader::INI_ZEILE(std::string& line) {
  line.clear();
  if (!block_) return;
  line = FindKey(*block_, "");
  if (line.empty()) {
    block_.reset();
    return;
  }
  Trace(kTraceReads, "INI_ZEILE: " + line);
}

void IniReader::CLOSE_INI_BLOCK() {
  if (!block_) return;
  Trace(kTraceReads, " CLOSE_INI_BLOCK");
  block_.reset();
}

int32_t Get_IntParameter(std::string& line, int /*maxLength*/, int32_t min, int32_t max, int32_t def) {
  std::string field = CutField(line);
  int32_t value = def;
  if (StartsWith(field, '$')) {
    value = HexToInt(field.substr(1, 8));
  } else if (!field.empty() && !ParseInt(field, value)) {
    value = def;
  }
  if (!field.empty() && (value < min || value > max)) value = def;
  if (TestDbgFlag(kTraceFields))
    LogMessage("Get_IntParameter=" + IntStr(value) + " (" + IntStr(min) + ".." + IntStr(max) + ")");
  return value;
}

double Get_RealParameter(std::string& line, int /*maxLength*/, double min, double max, double def) {
  std::string field = CutField(line);
  double value = def;
  if (!ParseReal(field, value) || value < min || value > max) value = def;
  if (TestDbgFlag(kTraceFields))
    LogMessage("Get_RealParameter=" + RealStr(3, value) + " (" + RealStr(3, min) + ".." + RealStr(3, max) + ")");
  return value;
}

void Get_StrParameter(std::string& line, int maxLength, std::string& field) {
  field = CutField(line);
  if (maxLength >= 0 && field.size() > size_t(maxLength)) field.resize(size_t(maxLength));
  if (TestDbgFlag(kTraceFields)) LogMessage("Get_StrParameter=" + field);
}

void Trim_Blanks(std::string& text, int maxLength) {
  auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) {
    text.clear();
    return;
  }
  text = text.substr(first, text.find_last_not_of(' ') - first + 1);
  if (maxLength >= 0 && text.size() > size_t(maxLength)) text.resize(size_t(maxLength));
}

// The program's reader.

namespace {
constinit std::mutex reader_mutex;
constinit platform::NoDestroy<std::unique_ptr<IniReader>> reader_storage;
constinit std::unique_ptr<IniReader>& reader = reader_storage.value;
}  // namespace

IniReader& Ini() {
  std::lock_guard lock(reader_mutex);
  if (!reader) reader = std::make_unique<IniReader>();
  return *reader;
}

void StartIniReader(IniBuild build) {
  std::lock_guard lock(reader_mutex);
  reader = std::make_unique<IniReader>(build);
}

void StopIniReader() {
  std::lock_guard lock(reader_mutex);
  reader.reset();
}

void Set_INI_File(const std::string& name) { Ini().Set_INI_File(name); }
void Set_INI_Section(const std::string& name) { Ini().Set_INI_Section(name); }
std::string Read_Parameter(const std::string& key) { return Ini().Read_Parameter(key); }
int32_t Read_IntParameter(const std::string& key, int32_t min, int32_t max, int32_t def) {
  return Ini().Read_IntParameter(key, min, max, def);
}
void OPEN_INI_BLOCK() { Ini().OPEN_INI_BLOCK(); }
void INI_ZEILE(std::string& line) { Ini().INI_ZEILE(line); }
void CLOSE_INI_BLOCK() { Ini().CLOSE_INI_BLOCK(); }

}  // namespace support
