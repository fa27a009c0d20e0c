// The debug window as the server library sees it: what the window may read of the driver, and
// opening and closing it through the host's hook, or through the window library beside this
// library when the host installed no hook. This library itself never links the window toolkit.
#pragma once

#include <cstdint>
#include <mutex>

#include "server/opc/debug_source.h"

namespace opc {

// The station list and, while one is set, the protocol object of the driver thread.
class TDriverDebugSource final : public TDebugSource {
 public:
  // The protocol object to show; nullptr forgets it, which must happen before it is freed.
  // Without one the station's time-outs are read from the station itself, so the driver
  // thread must have ended by then.
  void SetProtocol(const driver::TCustomFunk* protocol);
  TDebugSnapshot Snapshot(int32_t station) const override;

 private:
  mutable std::mutex mutex_;
  const driver::TCustomFunk* protocol_ = nullptr;
};

// Opens the window for the source: through the host's hook, else through the window library
// in the folder of this library. nullptr when none opened; that is logged in one line and
// never blocks the caller.
void* OpenDebugWindow(const TDebugSource& source);
// Closes what OpenDebugWindow opened (nullptr: nothing) and drops the hook it installed.
void CloseDebugWindow(void* window);

}  // namespace opc
