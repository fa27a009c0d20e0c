// Whether the client of the call that this thread serves is still there. The transport puts a
// probe in place for the time it runs a call into a server object; work that may take long
// asks now and then and stops once nobody waits for its answer.
#pragma once

#include <functional>

#include "platform/com/hresult.h"

namespace platform::com {

// RPC_E_CALL_CANCELED once the client of the current call has gone; S_OK while it waits, and
// on a thread that serves no call from another process.
HRESULT CoTestCancel();

// The probe of the call this thread runs, from construction to destruction; scopes nest.
class CallCancelScope {
 public:
  explicit CallCancelScope(std::function<bool()> cancelled);
  ~CallCancelScope();
  CallCancelScope(const CallCancelScope&) = delete;
  CallCancelScope& operator=(const CallCancelScope&) = delete;

 private:
  std::function<bool()> cancelled_;
  const std::function<bool()>* outer_;
};

}  // namespace platform::com
