// The remote-access configuration of this computer: whether its OPC service and servers take
// calls from other computers, the certificates that guard those calls, and where the other
// computers are. One profile file per user (comments only on lines of their own):
//
//   [Remote]
//   ; where the OPC service and the servers listen; none: no TCP at all
//   Address=192.168.10.5
//   ; the OPC service's port, here and on the other computers
//   ServicePort=4855
//   ; the servers' port; 0: any free port
//   ServerPort=0
//   ; this computer's certificate (PEM); relative names: beside this file
//   Certificate=plant1.crt
//   ; its private key (PEM, unencrypted)
//   Key=plant1.key
//   ; the authority that signs the certificates of all computers (PEM)
//   Authority=ca.crt
//
//   [Computers]
//   ; a computer's address[:service port]; a name not listed is looked up by DNS and reached
//   ; at ServicePort
//   plant2=192.168.10.6
//
// A computer's certificate names the computer as users type it (a DNS entry of its subject's
// alternative names): a client checks that name, and a server accepts only clients whose
// certificate the authority signed. Without the file, or without Address, remote access is off.
#pragma once

#include <cstdint>
#include <string>

namespace platform::com::rpc {

inline constexpr uint16_t kDefaultServicePort = 4855;

// Paths of the three PEM files.
struct TlsFiles {
  std::string certificate;
  std::string key;
  std::string authority;
};

// Their contents.
struct TlsMaterial {
  std::string certificate;
  std::string key;
  std::string authority;
};

struct RemoteConfig {
  std::string file;
  bool exists = false;
  std::string address;  // listening address; empty: this computer takes no calls from others
  uint16_t service_port = kDefaultServicePort;
  uint16_t server_port = 0;
  TlsFiles tls;  // absolute paths; empty when not given
  bool Listens() const { return !address.empty(); }
};

struct HostPort {
  std::string host;
  uint16_t port = 0;
  // "host:port", an IPv6 address in brackets: for texts.
  std::string Text() const;
  // The transport's target to connect to: "ipv4:" or "ipv6:" before an address, "dns:///"
  // before a name, so that no computer name (such as "unix") is taken for another kind of target.
  std::string Target() const;
};

// Where to listen for where: "address:port" with the address in numbers, a name replaced by the
// first address it resolves to, since the listening side of the transport would take a name
// such as "unix" for a socket file. False, with a text, when the name gives no address.
bool ListenTarget(const HostPort& where, std::string* target, std::string* error);

// A computer name as typed, without the blanks around it.
std::string TrimComputerName(const std::string& typed);

// $QAR_REMOTE_CONFIG, else $XDG_CONFIG_HOME/qar/remote.ini, else ~/.config/qar/remote.ini.
std::string DefaultRemoteConfigFile();

// Reads the file. A missing file is no error: remote access is off (exists false). False, with a
// text naming the file and the key, when the file cannot be read or a port is no port.
bool LoadRemoteConfig(const std::string& file, RemoteConfig* out, std::string* error);

// Where a computer's OPC service listens: its [Computers] entry (the name matched ignoring
// case), else the name itself at the service port. False for a name that cannot be an address
// and for an entry that is not address[:port].
bool ServiceAddress(const RemoteConfig& config, const std::string& computer, HostPort* out, std::string* error);

// Reads the three PEM files. False, with a text naming the file and the key that names it,
// when a file is not configured, missing, unreadable, or not PEM of the right kind.
bool LoadTlsMaterial(const RemoteConfig& config, TlsMaterial* out, std::string* error);

}  // namespace platform::com::rpc
