#include "platform/com/security.h"

#include <mutex>

namespace platform::com {

namespace {

struct Recorded {
  std::mutex mutex;
  std::optional<SecuritySettings> settings;
};

Recorded& State() {
  static Recorded* state = new Recorded;  // never destroyed: asked for up to the end of the run
  return *state;
}

}  // namespace

HRESULT CoInitializeSecurity(const void* pSecDesc, LONG cAuthSvc, const void*, void*, DWORD dwAuthnLevel,
                             DWORD dwImpLevel, void*, DWORD dwCapabilities, void*) {
  Recorded& r = State();
  std::lock_guard lock(r.mutex);
  if (r.settings) return RPC_E_TOO_LATE;
  r.settings = SecuritySettings{pSecDesc != nullptr, cAuthSvc, dwAuthnLevel, dwImpLevel, dwCapabilities};
  return S_OK;
}

std::optional<SecuritySettings> RecordedSecurity() {
  Recorded& r = State();
  std::lock_guard lock(r.mutex);
  return r.settings;
}

}  // namespace platform::com
