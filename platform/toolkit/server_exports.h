// The five exports of a server library, as a host finds them by name in the loaded library.
#pragma once

#include <dlfcn.h>

#include <string>

#include "platform/toolkit/toolkit_host.h"

namespace platform::toolkit {

struct ServerExports {
  TSOXpSInitialize initialize = nullptr;
  TSOXpSBuildDANameSpace build_name_space = nullptr;
  TSOXpSStart start = nullptr;
  TSOXpSHandleDARequests handle_requests = nullptr;
  TSOXpSStop stop = nullptr;
};

namespace detail {
template <class F>
bool ResolveExport(void* library, const char* name, F& fn, std::string* missing) {
  fn = reinterpret_cast<F>(dlsym(library, name));
  if (!fn && missing) *missing = name;
  return fn != nullptr;
}
}  // namespace detail

// Every export of the library behind library (a dlopen handle); false with the name of the
// first one it lacks in *missing.
inline bool ResolveServerExports(void* library, ServerExports* exports, std::string* missing) {
  return detail::ResolveExport(library, "SOXpSInitialize", exports->initialize, missing) &&
         detail::ResolveExport(library, "SOXpSBuildDANameSpace", exports->build_name_space, missing) &&
         detail::ResolveExport(library, "SOXpSStart", exports->start, missing) &&
         detail::ResolveExport(library, "SOXpSHandleDARequests", exports->handle_requests, missing) &&
         detail::ResolveExport(library, "SOXpSStop", exports->stop, missing);
}

}  // namespace platform::toolkit
