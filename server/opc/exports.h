// The five functions the host calls, and the exports unit's state: the start-up record, the
// driver thread and the debug window. Nothing thrown inside reaches the host.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/toolkit/toolkit_host.h"
#include "server/driver/driver_thread.h"

#define OSTREL_EXPORT extern "C" __attribute__((visibility("default")))

OSTREL_EXPORT platform::toolkit::TServerInitData* SOXpSInitialize();
OSTREL_EXPORT void SOXpSBuildDANameSpace(TCreateNode createNode, TCreateTag createTag, TCreateProperty createProperty);
OSTREL_EXPORT int32_t SOXpSStart();
OSTREL_EXPORT void SOXpSHandleDARequests(int32_t operation, int32_t count, platform::toolkit::TDARequest* records);
OSTREL_EXPORT void SOXpSStop();

namespace opc {

// Unit start-up (fills the start-up record) and shutdown (stops what SOXpSStop did not).
void StartExportsUnit();
void StopExportsUnit();

platform::toolkit::TServerInitData& ServerInitData();

// Makes the driver thread for a MODUS: tMOP or TModbus, nullptr for any other mode or when
// creation failed (FatalErrorCode then says why). Tests replace it; nullptr restores it.
using DriverThreadFactory = std::unique_ptr<driver::TDriverThread> (*)(int32_t modus);
void SetDriverThreadFactory(DriverThreadFactory factory);

// The running driver thread, or nullptr (before start, in DEMO mode, after stop).
driver::TDriverThread* TreiberThread();
// The open debug window's handle (what the hook's open returned), or nullptr.
void* DebugWindow();

}  // namespace opc
