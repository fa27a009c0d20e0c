// One host per server folder: an exclusive lock on a file in the folder, taken before the
// server library is loaded (its start-up already writes the folder's files) and held while the
// object lives; the kernel releases it when the process dies. It is one file whoever runs the
// host, so two users cannot serve one folder either.
#pragma once

#include <memory>
#include <string>

namespace host {

class FolderLock {
 public:
  static constexpr const char* kFileName = "ostrel-host.lock";

  // The lock of folder (with a trailing "/"); nullptr with the reason in *error when another
  // host holds it or the lock file cannot be opened.
  static std::unique_ptr<FolderLock> Take(const std::string& folder, std::string* error);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  explicit FolderLock(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace host
