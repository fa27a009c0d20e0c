// Activation on this computer: the running server of a class, found through its record in the
// registry, or its LocalServer32 program started with "-Embedding" and waited for. Shared by
// the client's own activation and by the OPC service, which activates for other computers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/clock.h"
#include "platform/com/class_registry.h"
#include "platform/registry.h"

namespace platform::com::rpc {

// Tries the server behind a record. S_OK: it answered and the caller has what it needs.
// RPC_E_DISCONNECTED: nothing answers there (a stale record, or not serving yet). Any other
// failure ends the activation with that code and *error.
using TryServer = std::function<HRESULT(const RunningServer& running, std::string* error)>;

// Tries the recorded server; when it does not answer, starts the class's program and tries
// each new record until one answers, the program ends, or timeout_ms have passed on the clock.
// Failures: REGDB_E_CLASSNOTREG (no LocalServer32), CO_E_APPNOTFOUND (the program cannot be
// started), CO_E_SERVER_EXEC_FAILURE (it ended or did not serve in time), RPC_E_DISCONNECTED
// (a recorded server that does not answer and no program to start), or what `attempt` gave.
HRESULT FindOrStartServer(const CLSID& clsid, const platform::Registry& reg, platform::Clock& clock,
                          uint32_t timeout_ms, const TryServer& attempt, std::string* error);

}  // namespace platform::com::rpc
