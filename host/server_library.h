// The server library as the host holds it: loaded from the server folder (or linked into a
// test), its five exports resolved by name.
#pragma once

#include <memory>
#include <string>

#include "platform/toolkit/server_exports.h"

namespace host {

using Exports = platform::toolkit::ServerExports;

class ServerLibrary {
 public:
  static constexpr const char* kFileName = "libOstrel.so";

  // dlopen of path with every export resolved; nullptr with the reason in *error. Loading runs
  // the library's start-up (it finds its folder and starts its log).
  static std::unique_ptr<ServerLibrary> Load(const std::string& path, std::string* error);
  // Exports linked into the program (tests, benchmarks); nothing to unload.
  explicit ServerLibrary(const Exports& exports) : exports_(exports) {}
  ~ServerLibrary() { Unload(); }
  ServerLibrary(const ServerLibrary&) = delete;
  ServerLibrary& operator=(const ServerLibrary&) = delete;

  const Exports& exports() const { return exports_; }
  // dlclose: the library's shutdown runs now. The exports must not be called afterwards.
  void Unload();

 private:
  Exports exports_;
  void* handle_ = nullptr;
};

// The running program's own path and its folder (with a trailing "/").
std::string ProgramPath();
std::string ProgramFolder();

}  // namespace host
