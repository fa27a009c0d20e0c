#include "platform/com/call_cancel.h"

#include <utility>

namespace platform::com {

namespace {
thread_local const std::function<bool()>* current = nullptr;
}  // namespace

CallCancelScope::CallCancelScope(std::function<bool()> cancelled) : cancelled_(std::move(cancelled)), outer_(current) {
  current = &cancelled_;
}

CallCancelScope::~CallCancelScope() { current = outer_; }

HRESULT CoTestCancel() { return current && *current && (*current)() ? RPC_E_CALL_CANCELED : S_OK; }

}  // namespace platform::com
