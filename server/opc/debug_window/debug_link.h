// The window's way to the server. The server cuts it when it closes the window; from then on
// the window reads nothing more, even while its deletion is still on its way to its thread, so
// the server may free what the source reads as soon as the close returns.
#pragma once

#include <mutex>
#include <optional>

#include "server/opc/debug_source.h"

namespace opc {

class TDebugLink {
 public:
  explicit TDebugLink(const TDebugSource* source) : source_(source) {}

  // A snapshot of the server, none once the link is cut. Any thread.
  std::optional<TDebugSnapshot> Snapshot(int32_t station) const {
    std::lock_guard lock(mutex_);
    if (!source_) return std::nullopt;
    return source_->Snapshot(station);
  }
  bool Connected() const {
    std::lock_guard lock(mutex_);
    return source_ != nullptr;
  }
  // Waits for a snapshot being taken; afterwards the source is never called again.
  void Cut() {
    std::lock_guard lock(mutex_);
    source_ = nullptr;
  }

 private:
  mutable std::mutex mutex_;
  const TDebugSource* source_;
};

}  // namespace opc
