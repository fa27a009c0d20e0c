// Channels and credentials of the transport: plain on this computer's Unix-domain sockets,
// mutual TLS over TCP to other computers (each side shows a certificate the configured
// authority signed; a client also checks that the server's certificate names the computer it
// asked for). Internal to the transport, its service and its servers.
#pragma once

#include <grpcpp/grpcpp.h>

#include <chrono>
#include <memory>
#include <string>

#include "platform/com/hresult.h"
#include "platform/com/rpc/remote_config.h"

namespace platform::com::rpc {

// How a client reaches another computer: its credentials and the name its certificate must
// carry.
struct RemoteSecurity {
  std::shared_ptr<grpc::ChannelCredentials> credentials;
  std::string computer_name;
};

std::shared_ptr<grpc::ServerCredentials> ServerTlsCredentials(const TlsMaterial& tls);
std::shared_ptr<grpc::ChannelCredentials> ClientTlsCredentials(const TlsMaterial& tls);

// How a client finds out, without a call of its own, that its server no longer answers (stopped,
// hung, its computer gone): a ping on the connection every kKeepaliveTimeMs, and the connection
// ends when one goes unanswered for kKeepaliveTimeoutMs. The ends of its calls and of its event
// stream then tell the client as when the server goes away.
inline constexpr int kKeepaliveTimeMs = 1000;
inline constexpr int kKeepaliveTimeoutMs = 5000;

// A channel to target; plain without security. It pings its server as above.
std::shared_ptr<grpc::Channel> MakeChannel(const std::string& target, const RemoteSecurity* security = nullptr);

// Lets a server take the clients' pings: by default gRPC takes pings more often than every few
// minutes, on a connection that carries nothing else, for misbehaviour and closes it.
void PermitClientPings(grpc::ServerBuilder& builder);

// Waits (real time, bounded) for the channel to connect; gives up at once when the endpoint
// refuses, so a dead server's left-over record costs no waiting.
bool ChannelReady(grpc::Channel* channel, std::chrono::milliseconds wait);

// The code for a failed first call to another computer: E_ACCESSDENIED when the other side
// would not take our certificate or we would not take its, RPC_E_TIMEOUT when it did not answer
// in time, RPC_S_SERVER_UNAVAILABLE otherwise. *error gets a text that names the computer.
HRESULT RemoteFailure(const grpc::Status& status, const std::string& computer, const std::string& target,
                      std::string* error);

// What a client needs to call another computer, from the remote-access configuration: the
// service's address and the security. Fails (RPC_S_SERVER_UNAVAILABLE or E_ACCESSDENIED, with a
// text) when the configuration or this computer's certificate cannot be read: never plain TCP.
HRESULT PrepareRemote(const std::string& config_file, const std::string& computer, HostPort* service,
                      RemoteSecurity* security, std::string* error);

}  // namespace platform::com::rpc
