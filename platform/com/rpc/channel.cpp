#include "platform/com/rpc/channel.h"

#include <algorithm>
#include <cctype>

namespace platform::com::rpc {

namespace {

bool Mentions(std::string text, std::initializer_list<const char*> words) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return std::any_of(words.begin(), words.end(), [&](const char* w) { return text.find(w) != std::string::npos; });
}

}  // namespace

std::shared_ptr<grpc::ServerCredentials> ServerTlsCredentials(const TlsMaterial& tls) {
  grpc::SslServerCredentialsOptions options(GRPC_SSL_REQUEST_AND_REQUIRE_CLIENT_CERTIFICATE_AND_VERIFY);
  options.pem_root_certs = tls.authority;
  options.pem_key_cert_pairs.push_back({tls.key, tls.certificate});
  return grpc::SslServerCredentials(options);
}

std::shared_ptr<grpc::ChannelCredentials> ClientTlsCredentials(const TlsMaterial& tls) {
  grpc::SslCredentialsOptions options;
  options.pem_root_certs = tls.authority;
  options.pem_private_key = tls.key;
  options.pem_cert_chain = tls.certificate;
  return grpc::SslCredentials(options);
}

std::shared_ptr<grpc::Channel> MakeChannel(const std::string& target, const RemoteSecurity* security) {
  grpc::ChannelArguments args;
  // A restarted server is found within a few tens of milliseconds, not after the default
  // back-off of seconds. (The "minimum" back-off is left alone: gRPC takes it as the time one
  // connection attempt may last, and a loaded machine needs more than a few milliseconds.)
  args.SetInt(GRPC_ARG_INITIAL_RECONNECT_BACKOFF_MS, 20);
  args.SetInt(GRPC_ARG_MAX_RECONNECT_BACKOFF_MS, 100);
  args.SetMaxReceiveMessageSize(64 << 20);
  args.SetMaxSendMessageSize(64 << 20);
  args.SetInt(GRPC_ARG_KEEPALIVE_TIME_MS, kKeepaliveTimeMs);
  args.SetInt(GRPC_ARG_KEEPALIVE_TIMEOUT_MS, kKeepaliveTimeoutMs);
  args.SetInt(GRPC_ARG_KEEPALIVE_PERMIT_WITHOUT_CALLS, 1);
  // The event stream sends nothing from this side: without this, pinging would stop after two.
  args.SetInt(GRPC_ARG_HTTP2_MAX_PINGS_WITHOUT_DATA, 0);
  if (!security) return grpc::CreateCustomChannel(target, grpc::InsecureChannelCredentials(), args);
  // The certificate must name the computer the user asked for, whatever address it maps to.
  args.SetSslTargetNameOverride(security->computer_name);
  return grpc::CreateCustomChannel(target, security->credentials, args);
}

void PermitClientPings(grpc::ServerBuilder& builder) {
  builder.AddChannelArgument(GRPC_ARG_KEEPALIVE_PERMIT_WITHOUT_CALLS, 1);
  builder.AddChannelArgument(GRPC_ARG_HTTP2_MIN_RECV_PING_INTERVAL_WITHOUT_DATA_MS, kKeepaliveTimeMs / 2);
  builder.AddChannelArgument(GRPC_ARG_HTTP2_MAX_PING_STRIKES, 0);
}

bool ChannelReady(grpc::Channel* channel, std::chrono::milliseconds wait) {
  auto deadline = std::chrono::system_clock::now() + wait;
  grpc_connectivity_state state = channel->GetState(true);
  while (state != GRPC_CHANNEL_READY) {
    if (state == GRPC_CHANNEL_TRANSIENT_FAILURE || state == GRPC_CHANNEL_SHUTDOWN) return false;
    if (!channel->WaitForStateChange(state, deadline)) return false;
    state = channel->GetState(true);
  }
  return true;
}

HRESULT RemoteFailure(const grpc::Status& status, const std::string& computer, const std::string& target,
                      std::string* error) {
  const std::string message = status.error_message();
  const std::string where = "computer " + computer + " (" + target + ")";
  const grpc::StatusCode code = status.error_code();
  if (code == grpc::StatusCode::DEADLINE_EXCEEDED) {
    *error = where + " did not answer in time";
    return RPC_E_TIMEOUT;
  }
  // A failed connection reports a refused handshake only in its text. Only phrases with a blank
  // count: the text also names the computer, and no computer name has one.
  const bool unavailable = code == grpc::StatusCode::UNAVAILABLE;
  if (code == grpc::StatusCode::UNAUTHENTICATED ||
      (unavailable && Mentions(message, {"handshake failed", "handshake read failed", "handshake write failed",
                                         "not in peer certificate", "certificate verify failed", " alert "}))) {
    *error = where + " and this computer do not accept each other's certificates: " + message;
    return E_ACCESSDENIED;
  }
  // When the other side refuses our certificate, TLS 1.3 lets it only close the connection right
  // after it was made.
  if (unavailable && Mentions(message, {"socket closed"})) {
    *error = where + " closed the connection at once: it does not accept this computer's certificate (" + message + ")";
    return E_ACCESSDENIED;
  }
  *error = "cannot reach " + where + ": " + message;
  return RPC_S_SERVER_UNAVAILABLE;
}

HRESULT PrepareRemote(const std::string& config_file, const std::string& computer, HostPort* service,
                      RemoteSecurity* security, std::string* error) {
  RemoteConfig config;
  if (!LoadRemoteConfig(config_file, &config, error)) return RPC_S_SERVER_UNAVAILABLE;
  if (!config.exists) {
    *error = "cannot reach computer " + computer + ": remote access is not configured (" +
             (config.file.empty() ? std::string("no configuration file") : config.file + " does not exist") + ")";
    return RPC_S_SERVER_UNAVAILABLE;
  }
  TlsMaterial tls;
  if (!LoadTlsMaterial(config, &tls, error)) {
    *error = "cannot reach computer " + computer + " without this computer's certificate: " + *error;
    return E_ACCESSDENIED;
  }
  if (!ServiceAddress(config, computer, service, error)) return RPC_S_SERVER_UNAVAILABLE;
  security->credentials = ClientTlsCredentials(tls);
  security->computer_name = TrimComputerName(computer);
  return S_OK;
}

}  // namespace platform::com::rpc
