// Guard against a second running copy of a program: one per name and user, held as long as
// the object lives and released by the kernel when the program dies, so a crashed run never
// blocks the next start.
#pragma once

#include <memory>
#include <string>

namespace platform {

class SingleInstanceGuard {
 public:
  // The guard for name, or nullptr when a running program of this user holds it. When the
  // system offers no guard at all the program is let through with an empty one.
  static std::unique_ptr<SingleInstanceGuard> Acquire(const std::string& name);
  ~SingleInstanceGuard();
  SingleInstanceGuard(const SingleInstanceGuard&) = delete;
  SingleInstanceGuard& operator=(const SingleInstanceGuard&) = delete;

 private:
  explicit SingleInstanceGuard(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace platform
