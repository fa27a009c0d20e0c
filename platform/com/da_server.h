// A reusable OPC DA server over an address space and a data-access backend: the objects a
// host hands to each client (server object, groups with their items, sinks), and the polling
// that turns the backend's values into data changes.
//
// The backend is the server library behind the host: it reads and writes items by their
// library handles, a batch at a time. Reading is not free (it marks the items wanted for the
// radio network), so the model reads only active items of active groups, once per group at
// its update rate, and never for an item nobody watches.
//
// Poll() does the periodic work on the caller's thread and says how long until the next
// group is due, so a host runs it in a loop on its clock and a test calls it by hand.
// Callbacks to client sinks are made from Poll() (and from Cancel2), outside any lock.
//
// Every call may come from any thread. A group's device read or write runs outside every lock
// of the model, so a poll that waits for the device keeps no other call waiting: clients
// connect, make groups, ask and go while it runs. The backend must take reads and writes from
// several threads at once.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/com/address_space.h"
#include "platform/com/opc_common.h"
#include "platform/com/opc_da.h"

namespace platform::com {

class DaBackend {
 public:
  struct Reading {
    Variant value;
    WORD quality = OPC_QUALITY_BAD;
    FILETIME stamp;
  };
  virtual ~DaBackend() = default;
  // One reading per handle, in order.
  virtual void Read(const std::vector<uint32_t>& handles, std::vector<Reading>* readings) = 0;
  // Values are in the items' canonical types; one result per write, in order.
  virtual void Write(const std::vector<uint32_t>& handles, const std::vector<Variant>& values,
                     std::vector<HRESULT>* results) = 0;
};

// An item property beyond the standard ones 1 to 6, with its value.
struct DaProperty {
  DWORD id = 0;
  std::string description;
  VARTYPE type = VT_EMPTY;
  Variant value;
};

struct DaServerOptions {
  DWORD fastest_rate_ms = 100;  // update rates are revised up to this and to its multiples
  std::string vendor_info;
  WORD major_version = 0;
  WORD minor_version = 0;
  WORD build_number = 0;
  bool connection_points = true;  // false: an OPC DA 1.0 server (data objects only)
};

class DaServerModel : public std::enable_shared_from_this<DaServerModel> {
 public:
  // The address space, the backend and the clock must outlive every object of the model:
  // `keep`, when given, is held until the last of them goes (their owner, for a caller that
  // cannot otherwise make sure of it).
  static std::shared_ptr<DaServerModel> Create(const AddressSpace& space, DaBackend& backend, platform::Clock& clock,
                                               DaServerOptions options, std::shared_ptr<const void> keep = nullptr);

  // A server object for one client (the factory of a server endpoint).
  std::shared_ptr<IUnknown> NewServer();
  // Properties an item has besides 1 to 6 (the library's own, from its copy of their values).
  void SetProperties(const std::string& item_id, std::vector<DaProperty> properties);

  // Reads the groups whose time has come, reports the items whose value or quality changed
  // and completes the asynchronous calls made since the last poll. Returns the milliseconds
  // until the next group is due (fastest_rate_ms when none is active).
  uint32_t Poll();
  // Ends polling for good: a poll under way returns after the completion or read it is in,
  // and later polls perform only the writes already taken; asynchronous calls are refused
  // from then on. The host stops with it, whatever its clients have queued.
  void StopPolling();

  // Refresh2 calls that may wait on one group; beyond, Refresh2 answers OPC_E_REFRESHINPROGRESS.
  static constexpr size_t kMaxPendingRefreshes = 64;
  // The shutdown request to every client that advised IOPCShutdown.
  void Shutdown(const std::string& reason);

  size_t GroupCount();
  // Server objects in use, and the names their clients gave (SetClientName), in that order.
  size_t ClientCount();
  std::vector<std::string> ClientNames();

  struct State;

 private:
  DaServerModel(const AddressSpace& space, DaBackend& backend, platform::Clock& clock, DaServerOptions options,
                std::shared_ptr<const void> keep);
  std::shared_ptr<State> state_;
};

}  // namespace platform::com
