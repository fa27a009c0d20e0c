// The server list of a computer (IOPCServerList): this computer's read from its registry,
// another computer's asked of its OPC service over the remote-access TLS.
#pragma once

#include <memory>
#include <string>

#include "platform/com/opc_common.h"
#include "platform/com/rpc/client.h"

namespace platform::com::rpc {

// The list of options.computer_name (blank or this computer's name: this computer's registry).
// For another computer the service is asked at once, so a computer that cannot be reached or
// does not accept this one fails here: RPC_S_SERVER_UNAVAILABLE, E_ACCESSDENIED, RPC_E_TIMEOUT,
// with error_text saying why. Later calls that lose the computer give RPC_E_DISCONNECTED.
HRESULT CreateServerList(const ActivationOptions& options, std::shared_ptr<IOPCServerList>* out,
                         std::string* error_text = nullptr);

}  // namespace platform::com::rpc
