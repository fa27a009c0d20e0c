// The server list of this computer (IOPCServerList): the classes under CLSID in the registry,
// by the component categories their "Implemented Categories" name, with their ProgIDs and
// readable names.
#pragma once

#include <memory>

#include "platform/com/opc_common.h"
#include "platform/registry.h"

namespace platform::com {

std::shared_ptr<IOPCServerList> NewRegistryServerList(const platform::Registry& reg = platform::Registry());

}  // namespace platform::com
