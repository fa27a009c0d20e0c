#include "host/server_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <utility>

namespace host {

std::unique_ptr<ServerLibrary> ServerLibrary::Load(const std::string& path, std::string* error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    if (error) *error = std::string("cannot load the server library: ") + dlerror();
    return nullptr;
  }
  Exports e;
  std::string missing;
  if (!platform::toolkit::ResolveServerExports(handle, &e, &missing)) {
    if (error) *error = "the server library lacks the export " + missing;
    dlclose(handle);
    return nullptr;
  }
  auto library = std::make_unique<ServerLibrary>(e);
  library->handle_ = handle;
  return library;
}

void ServerLibrary::Unload() {
  exports_ = {};
  if (handle_) dlclose(std::exchange(handle_, nullptr));
}

std::string ProgramPath() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, size_t(n)) : std::string();
}

std::string ProgramFolder() {
  std::string path = ProgramPath();
  return path.substr(0, path.rfind('/') + 1);
}

}  // namespace host
