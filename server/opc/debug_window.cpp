#include "server/opc/debug_window.h"

#include <dlfcn.h>

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <string>

#include "platform/files.h"
#include "platform/toolkit/toolkit_host.h"
#include "server/driver/fml.h"
#include "server/driver/utilities.h"

namespace opc {

void TDriverDebugSource::SetProtocol(const driver::TCustomFunk* protocol) {
  std::lock_guard lock(mutex_);
  protocol_ = protocol;
}

// FML is set before the window opens and freed after it has closed, so it is read here
// without RegisterLock; the request marks are atomics and names and addresses never change.
TDebugSnapshot TDriverDebugSource::Snapshot(int32_t station) const {
  std::lock_guard lock(mutex_);
  TDebugSnapshot s;
  if (protocol_) s.Funk = protocol_->View();
  driver::TFML* fml = driver::FML.get();
  s.StationCount = fml ? fml->Count() : 0;
  driver::TFuMo* st = fml ? fml->Find(station) : nullptr;
  if (!st) return s;
  TDebugStation& d = s.Station.emplace();
  d.StationName = st->StationName;
  d.Adr1 = st->Adr1;
  d.Adr2 = st->Adr2;
  d.Adr3 = st->Adr3;
  for (int32_t k = 1; k <= driver::kRequestClasses; ++k) {
    d.bDoneRd[size_t(k)] = st->bDoneRd[size_t(k)].load();
    d.iWantRd[size_t(k)] = st->iWantRd[size_t(k)].load();
    d.bWantWr[size_t(k)] = st->bWantWr[size_t(k)].load();
  }
  // The driver thread changes Timeout and RegCnt: while it may run, its published copy.
  d.Timeouts = protocol_ ? protocol_->StationView(station) : driver::TStationTimeouts{st->Timeout, st->RegCnt};
  return s;
}

namespace {

void* library = nullptr;  // the window library, while its entry points are the hook

// Folder of the file mapped at address (this library), with a trailing "/"; "" when not found.
// The mapping gives an absolute path even when the host loaded us by a relative one.
std::string FolderOf(const void* address) {
  std::ifstream maps("/proc/self/maps");
  const auto at = reinterpret_cast<uintptr_t>(address);
  for (std::string line; std::getline(maps, line);) {
    uintptr_t from = 0, to = 0;
    int path_at = 0;
    if (std::sscanf(line.c_str(), "%" SCNxPTR "-%" SCNxPTR " %*s %*s %*s %*s %n", &from, &to, &path_at) < 2) continue;
    if (at >= from && at < to && path_at > 0) return platform::DirOf(line.substr(size_t(path_at)));
  }
  return {};
}

// Installs the window library's entry points as the hook; "" when done, else why not.
std::string InstallOwnHook() {
  const std::string path = FolderOf(reinterpret_cast<const void*>(&InstallOwnHook)) + kDebugWindowLibrary;
  // Never unloaded: the window toolkit does not survive being unloaded and reloaded.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!handle) {
    const char* why = dlerror();
    return why ? why : path;
  }
  auto open = reinterpret_cast<TQarDebugWindowOpen>(dlsym(handle, kDebugWindowOpen));
  auto close = reinterpret_cast<TQarDebugWindowClose>(dlsym(handle, kDebugWindowClose));
  if (!open || !close) {
    dlclose(handle);
    return path + ": no entry points";
  }
  library = handle;
  QarSetDebugWindowHook(open, close);
  return {};
}

}  // namespace

void* OpenDebugWindow(const TDebugSource& source) {
  const bool own = !QarDebugWindowHookInstalled();
  if (own) {
    if (std::string why = InstallOwnHook(); !why.empty()) {
      driver::WriteLog("SOXpSStart: no debug window, " + why);
      return nullptr;
    }
  }
  void* window = QarOpenDebugWindow(const_cast<TDebugSource*>(&source));
  if (!window) {
    driver::WriteLog(own ? "SOXpSStart: no debug window, no display" : "SOXpSStart: no debug window from the host");
    if (own) CloseDebugWindow(nullptr);
  }
  return window;
}

void CloseDebugWindow(void* window) {
  QarCloseDebugWindow(window);
  if (library) {
    QarSetDebugWindowHook(nullptr, nullptr);
    dlclose(library);
    library = nullptr;
  }
}

}  // namespace opc
