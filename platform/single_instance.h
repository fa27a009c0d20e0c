// Guard against a second running copy of a program: one per name and user, held as long as
// the object lives and released by the kernel when the program dies, so a crashed run never
// blocks the next start. It is a lock on a file in the user's private runtime folder, so no
// other user can take it first.
#pragma once

#include <memory>
#include <string>

namespace platform {

class SingleInstanceGuard {
 public:
  // The guard for name, or nullptr when a running program of this user holds it. When the
  // system offers no guard at all (no private runtime folder) the program is let through
  // with an empty one.
  static std::unique_ptr<SingleInstanceGuard> Acquire(const std::string& name);
  ~SingleInstanceGuard();
  SingleInstanceGuard(const SingleInstanceGuard&) = delete;
  SingleInstanceGuard& operator=(const SingleInstanceGuard&) = delete;

  // The lock file of name in the user's runtime folder.
  static std::string LockFile(const std::string& name);

 private:
  SingleInstanceGuard(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  int fd_;
  std::string path_;
};

}  // namespace platform
