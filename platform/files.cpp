#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "platform/cp1252.h"

namespace platform {

std::string ProgramPath() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, size_t(n));
}

std::string ProgramDir() { return DirOf(ProgramPath()); }

std::string HomeDir() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return {};
}

std::string UserFile(const char* override_var, const char* xdg_var, const char* home_folder, const std::string& name) {
  if (const char* file = std::getenv(override_var); file && *file) return file;
  if (const char* folder = std::getenv(xdg_var); folder && folder[0] == '/') {
    return WithTrailingSlash(folder) + "qar/" + name;
  }
  std::string home = HomeDir();
  if (home.empty()) return {};
  return WithTrailingSlash(home) + home_folder + "/qar/" + name;
}

std::string CurrentDir() {
  char buf[PATH_MAX];
  if (!getcwd(buf, sizeof buf)) return {};
  return WithTrailingSlash(buf);
}

std::string FileNameText(const std::string& name) { return IsUtf8(name) ? Utf8ToCp1252(name) : name; }

std::string TextFileName(const std::string& text) { return Cp1252ToUtf8(text); }

std::string DirOf(const std::string& path) {
  auto p = path.rfind('/');
  return p == std::string::npos ? std::string{} : path.substr(0, p + 1);
}

std::string WithTrailingSlash(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

int64_t FreeDiskBytes(const std::string& path) {
  struct statvfs st {};
  std::string probe = path.empty() ? "." : path;
  if (statvfs(probe.c_str(), &st) != 0) return -1;
  unsigned long long bytes = (unsigned long long)st.f_bavail * st.f_frsize;
  return bytes > (unsigned long long)INT64_MAX ? INT64_MAX : int64_t(bytes);
}

namespace {
// strcasecmp would follow the locale (a program that calls setlocale could fold Latin-1
// letters, or Turkish I); file names are matched ignoring ASCII case only.
bool EqualAsciiNoCase(std::string_view a, std::string_view b) {
  auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}
}  // namespace

std::string FindFileNoCase(const std::string& path) {
  if (path.empty()) return {};
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) return path;
  std::string dir = DirOf(path);
  std::string name = path.substr(dir.size());
  if (name.empty()) return {};
  std::unique_ptr<DIR, int (*)(DIR*)> d(opendir(dir.empty() ? "." : dir.c_str()), closedir);
  if (!d) return {};
  while (dirent* e = readdir(d.get())) {
    if (EqualAsciiNoCase(e->d_name, name)) return dir + e->d_name;
  }
  return {};
}

std::string ResolveNoCase(const std::string& path) {
  std::string found = FindFileNoCase(path);
  return found.empty() ? path : found;
}

namespace {

const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISLNK(mode)) return "a link";
  return "no regular file";
}

int Refuse(const char* kind, std::string* refused) {
  if (refused) *refused = kind;
  errno = EINVAL;
  return -1;
}

}  // namespace

int OpenRegularFile(const std::string& path, int flags, std::string* refused, unsigned mode) {
  if (refused) refused->clear();
  const bool follow = (flags & O_NOFOLLOW) == 0;
  struct stat st {};
  // Looked at before the open: opening some devices already acts on them.
  if ((follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) == 0 && !S_ISREG(st.st_mode))
    return Refuse(KindOf(st.st_mode), refused);
  int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, mode_t(mode));
  if (fd < 0) return !follow && errno == ELOOP ? Refuse("a link", refused) : -1;  // ELOOP: a link since
  // And after it: the path may name something else by now.
  if (::fstat(fd, &st) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return Refuse(KindOf(st.st_mode), refused);
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

bool ReadRegularFile(const std::string& path, std::string& text, std::string* refused) {
  text.clear();
  const int fd = OpenRegularFile(path, O_RDONLY, refused);
  if (fd < 0) return false;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buf, size_t(n));
  }
  ::close(fd);
  return true;
}

}  // namespace platform
