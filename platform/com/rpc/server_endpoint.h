// The server side of the transport: serves one class's objects to client processes over a
// Unix-domain socket, and records the socket in the registry so that clients find it.
//
// Each client connection gets its own server object from the factory (as each client's
// CoCreateInstance does); its calls are dispatched to that object's interfaces: short ones at
// once on the transport's thread, those with many items on a bounded pool of threads (so the
// objects must never keep a call waiting for long). The callbacks the object makes to the
// sinks the client advised travel back as events on the connection's stream. When the
// connection ends, for whatever reason, the client's advises are undone and its groups removed
// (RemoveGroup with force).
//
// With remote access configured, the endpoint also listens on TCP at the configured address
// for calls from other computers, and takes them only over TLS from clients whose certificate
// the configured authority signed.
//
// Only one endpoint serves a class for one user at a time (a lock beside the socket, which the
// kernel releases when the process dies). The socket lives in a directory only the user (and,
// when asked, the group) can enter; a socket file left by a killed server is replaced.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/com/guid.h"
#include "platform/com/hresult.h"
#include "platform/com/rpc/remote_config.h"
#include "platform/com/unknown.h"
#include "platform/registry.h"

namespace platform::com::rpc {

// Where and how calls from other computers come in.
struct RemoteListen {
  std::string address;
  uint16_t port = 0;  // 0: any free port
  TlsMaterial tls;
};

struct ServeOptions {
  // Directory of the socket; empty: the user's runtime folder (UserRuntimeDir). Created with
  // mode 0700 (0750 with group_access); an existing one must be the user's own and closed to
  // others.
  std::string socket_dir;
  bool group_access = false;  // socket mode 0660 instead of 0600
  size_t worker_threads = 8;
  size_t max_queued_calls = 4096;
  // Events a client may have waiting, by count and by the memory they take here, and the
  // memory the waiting events of all clients may take together. A client that lets more pile
  // up is cut off: what waits for it is freed, its connection ended and its groups removed.
  // When all together take too much, the client with the most waiting is cut off.
  size_t max_queued_events = 100000;
  size_t max_queued_event_bytes = size_t{64} << 20;
  size_t max_queued_event_bytes_total = size_t{128} << 20;
  // Sessions (one for each server object a client made) on one client connection, and in all;
  // beyond them Connect is refused with RESOURCE_EXHAUSTED.
  size_t max_sessions_per_connection = 100;
  size_t max_sessions = 1000;
  // One line for each client cut off; stderr when not given.
  std::function<void(const std::string&)> error_log;
  bool record_in_registry = true;
  // Told (from the endpoint's own thread) when the socket takes no connections any more; the
  // registry record is gone by then, and the owner should end the server.
  std::function<void(const std::string&)> serving_lost;
  std::string registry_file = platform::Registry::DefaultFile();
  // Calls from other computers. When not given, Start takes them from the remote-access
  // configuration file below (none when the file is "" or does not exist, or names no Address).
  std::optional<RemoteListen> remote;
  std::string remote_config_file = DefaultRemoteConfigFile();
};

// Sets options->remote from the remote-access configuration when it gives an Address (and
// leaves it empty when remote access is off). False, with a text that names the file, when the
// configuration or a certificate cannot be read: the server must then not start, rather than
// serve without the protection the configuration asks for.
bool ConfigureRemoteAccess(ServeOptions* options, std::string* error,
                           const std::string& config_file = DefaultRemoteConfigFile());

class ServerEndpoint {
 public:
  using Factory = std::function<std::shared_ptr<IUnknown>()>;

  // Starts serving; on failure returns the error with a text that says what went wrong. A
  // remote-access configuration that cannot be used (a certificate missing, unreadable or not
  // fitting its key) is such a failure: the server never listens on TCP without TLS.
  static HRESULT Start(const CLSID& clsid, Factory factory, const ServeOptions& options,
                       std::unique_ptr<ServerEndpoint>* out, std::string* error_text = nullptr);
  ~ServerEndpoint();  // Stop()

  // The transport target clients connect to, "unix:<socket path>".
  const std::string& Target() const;
  const std::string& SocketPath() const;
  // The TCP port of calls from other computers; 0 without remote access.
  uint16_t RemotePort() const;
  // Client connections open now.
  size_t ClientCount() const;
  // The memory the events waiting for all clients take now.
  size_t QueuedEventBytes() const;
  // Ends every connection after the events already queued for it have gone out (bounded by
  // grace), removes the registry record and the socket. Clients see the disconnection.
  void Stop(std::chrono::milliseconds grace = std::chrono::milliseconds(2000));

  class Impl;

 private:
  explicit ServerEndpoint(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// The default socket directory (see ServeOptions::socket_dir).
std::string DefaultSocketDir();

}  // namespace platform::com::rpc
