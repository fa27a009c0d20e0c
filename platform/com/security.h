// Process-wide call security. Calls between computers are guarded by the transport's mutual TLS
// (rpc/remote_config.h), so CoInitializeSecurity only records what a program asked for, once per
// process as on the platform, and changes nothing.
#pragma once

#include <optional>

#include "platform/com/hresult.h"
#include "platform/com/opc_types.h"

namespace platform::com {

inline constexpr DWORD RPC_C_AUTHN_LEVEL_DEFAULT = 0;
inline constexpr DWORD RPC_C_AUTHN_LEVEL_NONE = 1;
inline constexpr DWORD RPC_C_IMP_LEVEL_IDENTIFY = 2;
inline constexpr DWORD RPC_C_IMP_LEVEL_IMPERSONATE = 3;
inline constexpr DWORD EOAC_NONE = 0;

struct SecuritySettings {
  bool security_descriptor = false;  // one was passed
  LONG auth_services = 0;            // -1: the platform's choice
  DWORD authn_level = 0;
  DWORD imp_level = 0;
  DWORD capabilities = 0;
};

// S_OK the first time; RPC_E_TOO_LATE afterwards, the first settings staying in force.
HRESULT CoInitializeSecurity(const void* pSecDesc, LONG cAuthSvc, const void* asAuthSvc, void* pReserved1,
                             DWORD dwAuthnLevel, DWORD dwImpLevel, void* pAuthList, DWORD dwCapabilities,
                             void* pReserved3);
// What the first call asked for; nullopt before it.
std::optional<SecuritySettings> RecordedSecurity();

}  // namespace platform::com
