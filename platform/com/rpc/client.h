// The client side of the transport: creating a server object in another process, by CLSID
// or ProgID as COM activation does, and the proxies that implement the OPC interfaces over
// the connection.
//
// Activation looks the class up in the registry. A running server has recorded its endpoint
// there; when none is running (or the record is stale), the class's LocalServer32 program is
// started with "-Embedding" and waited for, up to start_timeout_ms on the given clock.
//
// On another computer, that computer's OPC service does the same with its own registry and
// names the port where the server takes calls from other computers; the client then connects
// there. Both connections use the TLS of the remote-access configuration (remote_config.h).
// A ProgID is resolved on this computer: another computer's server is named by its CLSID.
//
// Callbacks to the sinks a client advises reach it on its apartment, in the order the server
// sent them, and never inside a call. While the apartment's loop is held up, ordinary data
// changes for one sink that wait there merge into one (item by item, the latest value and
// quality winning); every other callback waits as it came. When the server goes away, or a
// call runs out of its time (the server hangs), every later call on its proxies returns
// RPC_E_DISCONNECTED at once and no further callback arrives. When the client lets go of all
// its proxies the connection closes, and the server removes the client's groups.
//
// The connection holds an advised sink until Unadvise (or until it closes); a sink that holds
// the server's proxies strongly keeps the connection open.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/com/apartment.h"
#include "platform/com/guid.h"
#include "platform/com/hresult.h"
#include "platform/com/rpc/remote_config.h"
#include "platform/com/unknown.h"
#include "platform/registry.h"

namespace platform::com::rpc {

struct ActivationOptions {
  Apartment* apartment = nullptr;  // MainApartment() when null
  platform::Clock* clock = nullptr;  // DefaultClock() when null: measures the start-up wait
  uint32_t start_timeout_ms = 10000;
  // The time one call may take; a call that runs out of it ends the connection.
  uint32_t call_timeout_ms = 30000;
  // Blank or this computer's own name (any case): this computer. Any other name: that
  // computer, through its OPC service.
  std::string computer_name;
  std::string registry_file = platform::Registry::DefaultFile();
  std::string remote_config_file = DefaultRemoteConfigFile();
};

// Creates a server object of the class; *out answers the interfaces the server offers.
// Failures: REGDB_E_CLASSNOTREG (class not registered), CO_E_APPNOTFOUND (its program cannot
// be started), CO_E_SERVER_EXEC_FAILURE (the program did not come up in time or ended),
// RPC_E_DISCONNECTED (the server refused or went away); for another computer also
// RPC_S_SERVER_UNAVAILABLE (not reachable, or remote access not configured here) and
// E_ACCESSDENIED (a certificate missing here or not accepted). error_text says which and why.
HRESULT CreateServer(const CLSID& clsid, const ActivationOptions& options, std::shared_ptr<IUnknown>* out,
                     std::string* error_text = nullptr);
// The same by name: a ProgID, or a CLSID text in braces (CO_E_CLASSSTRING when it is neither).
HRESULT CreateServerByName(const std::string& name, const ActivationOptions& options,
                           std::shared_ptr<IUnknown>* out, std::string* error_text = nullptr);
// Connects to a server at a known endpoint ("unix:<path>"), without the registry.
HRESULT ConnectServer(const std::string& target, const CLSID& clsid, const ActivationOptions& options,
                      std::shared_ptr<IUnknown>* out, std::string* error_text = nullptr);

// Runs on_lost on the proxy's apartment once, when the connection of the object (a server or
// group proxy) ends without the client letting go of it: after the callbacks that came before
// the end. False for an object that is no proxy of the transport (nothing to watch).
bool WatchConnection(const std::shared_ptr<IUnknown>& object, std::function<void()> on_lost);

// True for a blank name and for this computer's own name, compared ignoring case.
bool IsLocalComputer(const std::string& computer_name);
// The same against a given host name: blank, equal ignoring case, or a short name ("plant1") and
// a full name that begins with it ("plant1.example.com"), either way round.
bool NamesThisComputer(const std::string& computer_name, const std::string& host_name);

}  // namespace platform::com::rpc
