#include "platform/com/rpc/remote_config.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/files.h"
#include "platform/profile.h"

namespace platform::com::rpc {

namespace {

constexpr char kRemote[] = "Remote";
constexpr char kComputers[] = "Computers";
constexpr size_t kLongValue = 4096;  // paths may be long; the profile reader cuts at this

std::string Value(const std::string& file, const char* section, const std::string& key) {
  return GetPrivateProfileString(section, key, "", file, kLongValue);
}

bool ParsePort(const std::string& text, bool zero_allowed, uint16_t* out) {
  if (text.empty() || text.size() > 5) return false;
  unsigned long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned long>(c - '0');
  }
  if (v > 65535 || (v == 0 && !zero_allowed)) return false;
  *out = static_cast<uint16_t>(v);
  return true;
}

bool IsAddress(int family, const std::string& host) {
  unsigned char bytes[sizeof(in6_addr)];
  return inet_pton(family, host.c_str(), bytes) == 1;
}

// Host names, IPv4 and IPv6 addresses: nothing that could make a transport target mean more.
// A colon only in an IPv6 address, so that no name carries a port or a scheme of its own.
bool ValidHost(const std::string& host) {
  if (host.empty() || host.size() > 253) return false;
  for (unsigned char c : host) {
    if (!std::isalnum(c) && c != '-' && c != '.' && c != '_' && c != ':') return false;
  }
  return host.find(':') == std::string::npos || IsAddress(AF_INET6, host);
}

std::string WithPort(const std::string& host, uint16_t port) {
  std::string h = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  return h + ":" + std::to_string(port);
}

// "host", "host:port", "[v6]", "[v6]:port", or a bare IPv6 address.
bool ParseHostPort(const std::string& text, uint16_t default_port, HostPort* out) {
  HostPort hp;
  hp.port = default_port;
  std::string rest;
  if (!text.empty() && text[0] == '[') {
    size_t close = text.find(']');
    if (close == std::string::npos) return false;
    hp.host = text.substr(1, close - 1);
    rest = text.substr(close + 1);
    if (!rest.empty() && (rest[0] != ':' || !ParsePort(rest.substr(1), false, &hp.port))) return false;
  } else {
    size_t colon = text.find(':');
    if (colon != std::string::npos && text.find(':', colon + 1) == std::string::npos) {
      hp.host = text.substr(0, colon);
      if (!ParsePort(text.substr(colon + 1), false, &hp.port)) return false;
    } else {
      hp.host = text;
    }
  }
  if (!ValidHost(hp.host)) return false;
  *out = hp;
  return true;
}

std::string Absolute(const std::string& config_file, const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  return DirOf(config_file) + path;
}

// Reads one PEM file: a private key, or else a certificate.
bool ReadPem(const RemoteConfig& config, const char* key, const std::string& path, bool private_key,
             std::string* out, std::string* error) {
  const std::string where = std::string(key) + " in [Remote] of " + config.file;
  if (path.empty()) {
    *error = "no " + where;
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read " + path + " (" + where + "): " + std::strerror(errno);
    return false;
  }
  std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (private_key) {
    if (text.find("ENCRYPTED") != std::string::npos) {
      *error = path + " (" + where + ") is an encrypted key; the key must be stored without a pass phrase";
      return false;
    }
    if (text.find("-----BEGIN ") == std::string::npos || text.find("PRIVATE KEY-----") == std::string::npos) {
      *error = path + " (" + where + ") holds no private key in PEM form";
      return false;
    }
  } else if (text.find("-----BEGIN CERTIFICATE-----") == std::string::npos) {
    *error = path + " (" + where + ") holds no certificate in PEM form";
    return false;
  }
  *out = std::move(text);
  return true;
}

}  // namespace

std::string TrimComputerName(const std::string& s) {
  size_t a = s.find_first_not_of(" \t");
  if (a == std::string::npos) return {};
  return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

std::string HostPort::Text() const { return WithPort(host, port); }

std::string HostPort::Target() const {
  if (IsAddress(AF_INET, host)) return "ipv4:" + WithPort(host, port);
  if (IsAddress(AF_INET6, host)) return "ipv6:" + WithPort(host, port);
  return "dns:///" + WithPort(host, port);
}

bool ListenTarget(const HostPort& where, std::string* target, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int rc = ValidHost(where.host) ? getaddrinfo(where.host.c_str(), nullptr, &hints, &found) : EAI_NONAME;
  char numbers[NI_MAXHOST] = {};
  if (rc == 0) {
    rc = getnameinfo(found->ai_addr, found->ai_addrlen, numbers, sizeof numbers, nullptr, 0, NI_NUMERICHOST);
    freeaddrinfo(found);
  }
  if (rc != 0) {
    *error = "cannot listen on " + where.Text() + ": " + where.host + " gives no address (" + gai_strerror(rc) + ")";
    return false;
  }
  *target = WithPort(numbers, where.port);
  return true;
}

std::string DefaultRemoteConfigFile() { return UserFile("QAR_REMOTE_CONFIG", "XDG_CONFIG_HOME", ".config", "remote.ini"); }

bool LoadRemoteConfig(const std::string& file, RemoteConfig* out, std::string* error) {
  RemoteConfig c;
  c.file = file.empty() ? file : ResolveNoCase(file);
  if (c.file.empty() || access(c.file.c_str(), F_OK) != 0) {
    *out = c;
    return true;
  }
  if (!std::ifstream(c.file)) {
    *error = "cannot read the remote-access configuration " + c.file + ": " + std::strerror(errno);
    return false;
  }
  c.exists = true;
  c.address = Value(c.file, kRemote, "Address");
  if (!c.address.empty() && !ValidHost(c.address)) {
    *error = "Address in [Remote] of " + c.file + " is no address: \"" + c.address + "\"";
    return false;
  }
  const struct {
    const char* key;
    bool zero_allowed;
    uint16_t* port;
  } ports[] = {{"ServicePort", false, &c.service_port}, {"ServerPort", true, &c.server_port}};
  for (const auto& p : ports) {
    std::string text = Value(c.file, kRemote, p.key);
    if (!text.empty() && !ParsePort(text, p.zero_allowed, p.port)) {
      *error = std::string(p.key) + " in [Remote] of " + c.file + " is no port: \"" + text + "\"";
      return false;
    }
  }
  c.tls.certificate = Absolute(c.file, Value(c.file, kRemote, "Certificate"));
  c.tls.key = Absolute(c.file, Value(c.file, kRemote, "Key"));
  c.tls.authority = Absolute(c.file, Value(c.file, kRemote, "Authority"));
  *out = c;
  return true;
}

bool ServiceAddress(const RemoteConfig& config, const std::string& computer, HostPort* out, std::string* error) {
  const std::string name = TrimComputerName(computer);
  if (!ValidHost(name)) {
    *error = "\"" + computer + "\" is no computer name";
    return false;
  }
  std::string entry = config.exists ? Value(config.file, kComputers, name) : "";
  if (entry.empty()) entry = name;
  if (!ParseHostPort(entry, config.service_port, out)) {
    *error = name + " in [Computers] of " + config.file + " is not address[:port]: \"" + entry + "\"";
    return false;
  }
  return true;
}

bool LoadTlsMaterial(const RemoteConfig& config, TlsMaterial* out, std::string* error) {
  TlsMaterial m;
  if (!ReadPem(config, "Certificate", config.tls.certificate, false, &m.certificate, error) ||
      !ReadPem(config, "Key", config.tls.key, true, &m.key, error) ||
      !ReadPem(config, "Authority", config.tls.authority, false, &m.authority, error)) {
    return false;
  }
  *out = std::move(m);
  return true;
}

}  // namespace platform::com::rpc
