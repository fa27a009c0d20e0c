// The registry file is Windows-1252 text, one key per section, written with CR LF (LF is
// accepted too):
//
//   ; qar registry
//   [HKEY_CLASSES_ROOT\CLSID\{5D2C8E71-0B4F-4A96-9E3D-71C4A2B8F605}\LocalServer32]
//   @="/usr/bin/ostrel-host"
//   "ThreadingModel"="Both"
//   "Count"=dword:0000002a
//
// A section header is "[" + the key path in its stored case + "]"; the path is taken raw
// between the first "[" and the last "]". "@" names the default value, any other name is
// quoted. A string value is quoted; inside quotes "\\", "\"", "\r", "\n", "\t" and "\xHH" (two
// hex digits) stand for themselves, and every other byte, 0x80..0xFF included, is stored raw.
// A DWORD is "dword:" and up to 8 hex digits. Blank lines and lines starting with ";" are
// ignored. A line that fits none of these (or a value line without a valid section before
// it) is skipped, so one damaged line costs only itself; the next change rewrites the file
// from what could be read and says on the debug output how many lines it dropped.
//
// Writers take an exclusive flock on file + ".lock", re-read the file, apply their change,
// write file + ".tmp", fsync it and rename it over the file; both files are mode 0600. Readers
// read the file fresh on every call without a lock: the rename shows them either the old or
// the new file.
#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>

#include "platform/debug_output.h"
#include "platform/files.h"

namespace platform {

namespace {

// ---- key paths ----------------------------------------------------------------------------

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

// The separator becomes 0x01, below every byte a valid path may hold, so that the map keeps a
// key's subtree right after the key itself, children before any sibling.
constexpr char kFoldedSeparator = '\x01';

// Splits a key path into its parts; nullopt when it is not a valid path.
std::optional<std::vector<std::string_view>> SplitKey(std::string_view key) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (size_t i = 0; i <= key.size(); ++i) {
    if (i == key.size() || key[i] == '\\') {
      if (i == start) return std::nullopt;
      parts.push_back(key.substr(start, i - start));
      start = i + 1;
    } else if (IsControl(static_cast<unsigned char>(key[i]))) {
      return std::nullopt;
    }
  }
  return parts;
}

std::string FoldKey(std::string_view key) {
  std::string out(key);
  for (char& c : out) c = c == '\\' ? kFoldedSeparator : FoldAscii(c);
  return out;
}

bool IsPredefinedRoot(std::string_view key) {
  return EqualNoCase(key, kClassesRoot) || EqualNoCase(key, kLocalMachine) ||
         EqualNoCase(key, kCurrentUser);
}

// ---- the tree in memory -------------------------------------------------------------------

struct Key {
  std::string path;  // stored case
  std::vector<std::pair<std::string, RegValue>> values;  // stored names, default value first

  RegValue* Find(std::string_view name) {
    for (auto& [n, v] : values) {
      if (EqualNoCase(n, name)) return &v;
    }
    return nullptr;
  }
  void Set(const std::string& name, const RegValue& value) {
    if (RegValue* v = Find(name)) {
      *v = value;
    } else if (name.empty()) {
      values.insert(values.begin(), {name, value});
    } else {
      values.emplace_back(name, value);
    }
  }
};

struct Tree {
  std::map<std::string, Key> keys;  // by FoldKey(path)
  int dropped_lines = 0;            // lines of the file that could not be read

  Key* Find(std::string_view path) {
    auto it = keys.find(FoldKey(path));
    return it == keys.end() ? nullptr : &it->second;
  }

  // The key with its parents; parts that already exist keep their stored case.
  Key& Ensure(const std::vector<std::string_view>& parts) {
    std::string path;
    Key* key = nullptr;
    for (std::string_view part : parts) {
      std::string stored = key ? key->path + '\\' + std::string(part) : std::string(part);
      if (!path.empty()) path += '\\';
      path += part;
      auto [it, added] = keys.try_emplace(FoldKey(path));
      if (added) it->second.path = std::move(stored);
      key = &it->second;
    }
    return *key;
  }

  // The range of the map that holds the key and all its subkeys.
  std::pair<std::map<std::string, Key>::iterator, std::map<std::string, Key>::iterator>
  Subtree(std::string_view path) {
    std::string folded = FoldKey(path);
    auto first = keys.find(folded);
    if (first == keys.end()) return {first, first};
    auto last = keys.lower_bound(folded + char(kFoldedSeparator + 1));
    return {first, last};
  }
};

// ---- reading the text ---------------------------------------------------------------------

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted, escaped string at text[pos] and moves pos past its closing quote.
std::optional<std::string> ParseQuoted(std::string_view text, size_t& pos) {
  if (pos >= text.size() || text[pos] != '"') return std::nullopt;
  std::string out;
  for (size_t i = pos + 1; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') {
      pos = i + 1;
      return out;
    }
    if (c != '\\') {
      out += c;
      continue;
    }
    if (++i >= text.size()) return std::nullopt;
    switch (text[i]) {
      case '\\': out += '\\'; break;
      case '"': out += '"'; break;
      case 'r': out += '\r'; break;
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'x': {
        if (i + 2 >= text.size()) return std::nullopt;
        int hi = HexDigit(text[i + 1]), lo = HexDigit(text[i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += char(hi * 16 + lo);
        i += 2;
        break;
      }
      default: return std::nullopt;
    }
  }
  return std::nullopt;  // no closing quote
}

std::optional<uint32_t> ParseDword(std::string_view text) {
  constexpr std::string_view kPrefix = "dword:";
  if (text.size() <= kPrefix.size() || text.size() > kPrefix.size() + 8 ||
      !EqualNoCase(text.substr(0, kPrefix.size()), kPrefix)) {
    return std::nullopt;
  }
  uint32_t v = 0;
  for (char c : text.substr(kPrefix.size())) {
    int d = HexDigit(c);
    if (d < 0) return std::nullopt;
    v = v * 16 + uint32_t(d);
  }
  return v;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// One value line: name and value, or nullopt when the line is damaged.
std::optional<std::pair<std::string, RegValue>> ParseValueLine(std::string_view line) {
  std::string name;
  size_t pos = 0;
  if (line[0] == '@') {
    pos = 1;
  } else {
    auto quoted = ParseQuoted(line, pos);
    if (!quoted) return std::nullopt;
    name = std::move(*quoted);
  }
  std::string_view rest = TrimBlanks(line.substr(pos));
  if (rest.empty() || rest[0] != '=') return std::nullopt;
  rest = TrimBlanks(rest.substr(1));
  if (!rest.empty() && rest[0] == '"') {
    size_t p = 0;
    auto text = ParseQuoted(rest, p);
    if (!text || p != rest.size()) return std::nullopt;
    return std::pair<std::string, RegValue>{std::move(name), std::move(*text)};
  }
  auto dword = ParseDword(rest);
  if (!dword) return std::nullopt;
  return std::pair<std::string, RegValue>{std::move(name), *dword};
}

Tree Parse(std::string_view text) {
  Tree tree;
  Key* section = nullptr;  // nullptr after a damaged header too: its values have no key
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = TrimBlanks(text.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      section = nullptr;
      size_t close = line.rfind(']');
      auto parts = close == std::string_view::npos || close != line.size() - 1
                       ? std::nullopt
                       : SplitKey(line.substr(1, close - 1));
      if (!parts) {
        ++tree.dropped_lines;
        continue;
      }
      section = &tree.Ensure(*parts);
      continue;
    }
    auto value = section ? ParseValueLine(line) : std::nullopt;
    if (!value) {
      ++tree.dropped_lines;
      continue;
    }
    section->Set(value->first, value->second);
  }
  return tree;
}

// ---- writing the text ---------------------------------------------------------------------

void AppendQuoted(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default:
        if (IsControl(static_cast<unsigned char>(c))) {
          out += "\\x";
          out += kHex[static_cast<unsigned char>(c) >> 4];
          out += kHex[static_cast<unsigned char>(c) & 0xF];
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

std::string Serialize(const Tree& tree) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "; qar registry\r\n";
  for (const auto& [folded, key] : tree.keys) {
    out += "\r\n[" + key.path + "]\r\n";
    for (const auto& [name, value] : key.values) {
      if (name.empty()) {
        out += '@';
      } else {
        AppendQuoted(out, name);
      }
      out += '=';
      if (const auto* text = std::get_if<std::string>(&value)) {
        AppendQuoted(out, *text);
      } else {
        uint32_t v = std::get<uint32_t>(value);
        out += "dword:";
        for (int shift = 28; shift >= 0; shift -= 4) out += kHex[(v >> shift) & 0xF];
      }
      out += "\r\n";
    }
  }
  return out;
}

// ---- the file -----------------------------------------------------------------------------

constexpr mode_t kPrivateFile = 0600;

enum class ReadResult { kOk, kMissing, kFailed };

ReadResult ReadWholeFile(const std::string& file, std::string& out) {
  out.clear();
  int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? ReadResult::kMissing : ReadResult::kFailed;
  char buf[8192];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      return ReadResult::kFailed;
    }
    if (n == 0) break;
    out.append(buf, size_t(n));
  }
  close(fd);
  return ReadResult::kOk;
}

// What readers see: a missing or unreadable file is an empty registry.
Tree Load(const std::string& file) {
  std::string text;
  if (ReadWholeFile(file, text) != ReadResult::kOk) return {};
  return Parse(text);
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(size_t(n));
  }
  return true;
}

// Writes the text beside the file and renames it over the file. Called under the lock.
bool ReplaceFile(const std::string& file, std::string_view text) {
  std::string temp = file + ".tmp";
  unlink(temp.c_str());  // a crashed writer's leftover; the lock makes the name ours
  // The user's alone, whatever mode an older file had: it names the programs that clients start.
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFile);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, text) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (!ok || rename(temp.c_str(), file.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  // The rename itself becomes durable with its folder.
  std::string dir = DirOf(file);
  int dfd = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
  return true;
}

// An exclusive flock on the lock file beside the registry. Each holder opens the file itself,
// so threads of one program exclude each other as well as programs do. The kernel drops the
// lock when its holder dies.
class WriterLock {
 public:
  explicit WriterLock(const std::string& file) {
    std::string dir = DirOf(file);
    if (!dir.empty()) {
      std::error_code ec;
      std::filesystem::create_directories(dir, ec);
    }
    fd_ = open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kPrivateFile);
    if (fd_ < 0) return;
    // A lock that others may open lets them stop every change; an older one is closed to them.
    struct stat st {};
    if (fstat(fd_, &st) == 0 && st.st_uid == geteuid() && (st.st_mode & 07777) != kPrivateFile)
      (void)fchmod(fd_, kPrivateFile);
    // A change holds the lock for milliseconds; waiting much longer means a stopped holder,
    // and a change that fails is better than a program that hangs.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds{10};
    auto pause = std::chrono::microseconds{200};
    for (;;) {
      if (flock(fd_, LOCK_EX | LOCK_NB) == 0) {
        locked_ = true;
        return;
      }
      if (errno != EWOULDBLOCK && errno != EINTR) return;
      if (std::chrono::steady_clock::now() >= deadline) return;
      std::this_thread::sleep_for(pause);
      pause = std::min(pause * 2, std::chrono::microseconds{20'000});
    }
  }
  ~WriterLock() {
    if (fd_ >= 0) close(fd_);  // releases the lock
  }
  WriterLock(const WriterLock&) = delete;
  WriterLock& operator=(const WriterLock&) = delete;

  bool Locked() const { return locked_; }

 private:
  int fd_ = -1;
  bool locked_ = false;
};

// Applies one change to the current file. change returns whether it altered the tree; an
// unaltered tree leaves the file as it is.
bool Modify(const std::string& file, const std::function<bool(Tree&)>& change) {
  if (file.empty()) return false;
  WriterLock lock(file);
  if (!lock.Locked()) return false;
  std::string text;
  ReadResult read = ReadWholeFile(file, text);
  if (read == ReadResult::kFailed) return false;  // rewriting it would lose what it holds
  Tree tree = read == ReadResult::kOk ? Parse(text) : Tree{};
  if (!change(tree)) return true;
  if (tree.dropped_lines > 0) {
    OutputDebugString("registry " + file + ": " + std::to_string(tree.dropped_lines) +
                      " unreadable line(s) dropped");
  }
  return ReplaceFile(file, Serialize(tree));
}

}  // namespace

std::string Registry::DefaultFile() { return UserFile("QAR_REGISTRY", "XDG_DATA_HOME", ".local/share", "registry"); }

Registry::Registry(std::string file) : file_(std::move(file)) {}

bool Registry::KeyExists(const std::string& key) const {
  if (!SplitKey(key)) return false;
  if (IsPredefinedRoot(key)) return true;
  return Load(file_).Find(key) != nullptr;
}

std::optional<RegValue> Registry::Value(const std::string& key, const std::string& name) const {
  if (!SplitKey(key)) return std::nullopt;
  Tree tree = Load(file_);
  Key* k = tree.Find(key);
  if (!k) return std::nullopt;
  if (RegValue* v = k->Find(name)) return *v;
  return std::nullopt;
}

std::optional<std::string> Registry::String(const std::string& key, const std::string& name) const {
  auto v = Value(key, name);
  if (!v) return std::nullopt;
  if (auto* text = std::get_if<std::string>(&*v)) return std::move(*text);
  return std::nullopt;
}

std::vector<std::string> Registry::SubKeys(const std::string& key) const {
  std::vector<std::string> out;
  auto parts = SplitKey(key);
  if (!parts) return out;
  Tree tree = Load(file_);
  auto [first, last] = tree.Subtree(key);
  if (first == last) return out;
  size_t depth = parts->size();
  for (auto it = std::next(first); it != last; ++it) {
    auto child = SplitKey(it->second.path);
    if (child && child->size() == depth + 1) out.emplace_back(child->back());
  }
  return out;
}

std::vector<std::string> Registry::ValueNames(const std::string& key) const {
  std::vector<std::string> out;
  if (!SplitKey(key)) return out;
  Tree tree = Load(file_);
  if (Key* k = tree.Find(key)) {
    for (const auto& [name, value] : k->values) out.push_back(name);
  }
  return out;
}

bool Registry::CreateKey(const std::string& key) {
  auto parts = SplitKey(key);
  if (!parts) return false;
  return Modify(file_, [&](Tree& tree) {
    if (IsPredefinedRoot(key) || tree.Find(key)) return false;  // the roots always exist
    tree.Ensure(*parts);
    return true;
  });
}

bool Registry::SetValue(const std::string& key, const std::string& name, const RegValue& value) {
  auto parts = SplitKey(key);
  if (!parts) return false;
  return Modify(file_, [&](Tree& tree) {
    Key& k = tree.Ensure(*parts);
    if (RegValue* old = k.Find(name); old && *old == value) return false;
    k.Set(name, value);
    return true;
  });
}

bool Registry::DeleteValue(const std::string& key, const std::string& name) {
  if (!SplitKey(key)) return false;
  return Modify(file_, [&](Tree& tree) {
    Key* k = tree.Find(key);
    if (!k) return false;
    auto& values = k->values;
    for (auto it = values.begin(); it != values.end(); ++it) {
      if (EqualNoCase(it->first, name)) {
        values.erase(it);
        return true;
      }
    }
    return false;
  });
}

bool Registry::DeleteKey(const std::string& key) {
  if (!SplitKey(key) || IsPredefinedRoot(key)) return false;
  return Modify(file_, [&](Tree& tree) {
    auto [first, last] = tree.Subtree(key);
    if (first == last) return false;
    tree.keys.erase(first, last);
    return true;
  });
}

}  // namespace platform
