#include "host/service/tests/tcp_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace host::testing {

namespace {

sockaddr_in Address(const std::string& host, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  inet_pton(AF_INET, host.c_str(), &a.sin_addr);
  return a;
}

bool SendAll(int fd, const char* data, ssize_t n) {
  while (n > 0) {
    ssize_t sent = send(fd, data, static_cast<size_t>(n), MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    n -= sent;
  }
  return true;
}

}  // namespace

TcpRelay::TcpRelay(const std::string& listen_host, const std::string& target_host, const std::vector<uint16_t>& ports)
    : target_host_(target_host) {
  if (pipe(wake_) != 0) return;
  for (uint16_t port : ports) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a = Address(listen_host, port);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 16) != 0) {
      if (fd >= 0) close(fd);
      return;
    }
    listeners_.push_back({fd, port});
  }
  ok_ = true;
  thread_ = std::thread([this] { Run(); });
}

TcpRelay::~TcpRelay() {
  if (thread_.joinable()) {
    char c = 0;
    (void)!write(wake_[1], &c, 1);
    thread_.join();
  }
  CloseAll();
  for (auto& [fd, port] : listeners_) close(fd);
  for (int fd : wake_) {
    if (fd >= 0) close(fd);
  }
}

void TcpRelay::CloseAll() {
  for (const Pair& p : pairs_) {
    close(p.client);
    close(p.server);
  }
  pairs_.clear();
}

void TcpRelay::Run() {
  char buf[65536];
  for (;;) {
    std::vector<pollfd> fds{{wake_[0], POLLIN, 0}};
    for (auto& [fd, port] : listeners_) fds.push_back({fd, POLLIN, 0});
    for (const Pair& p : pairs_) {
      fds.push_back({p.client, POLLIN, 0});
      fds.push_back({p.server, POLLIN, 0});
    }
    const size_t watched = pairs_.size();  // pairs accepted below wait for the next round
    if (poll(fds.data(), fds.size(), -1) < 0) continue;
    if (fds[0].revents) return;
    size_t i = 1;
    for (auto& [fd, port] : listeners_) {
      if (fds[i++].revents & POLLIN) {
        int client = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = Address(target_host_, port);
        if (server < 0 || connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
          close(client);
          if (server >= 0) close(server);
          continue;
        }
        pairs_.push_back({client, server});
      }
    }
    std::vector<Pair> done;
    bool cut = false;
    for (size_t k = 0; k < watched; ++k, i += 2) {
      const Pair p = pairs_[k];
      bool closed = false;
      if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
        ssize_t n = recv(p.client, buf, sizeof buf, 0);
        if (n > 0 && cut_armed_.exchange(false)) {
          cut = true;
          break;
        }
        closed = n <= 0 || !SendAll(p.server, buf, n);
      }
      if (!closed && (fds[i + 1].revents & (POLLIN | POLLHUP | POLLERR))) {
        ssize_t n = recv(p.server, buf, sizeof buf, 0);
        closed = n <= 0 || !SendAll(p.client, buf, n);
      }
      if (closed) done.push_back(p);
    }
    if (cut) {
      ++cuts_;  // before the clients can see it
      CloseAll();
      continue;
    }
    for (const Pair& p : done) {
      close(p.client);
      close(p.server);
      std::erase_if(pairs_, [&](const Pair& q) { return q.client == p.client; });
    }
  }
}

}  // namespace host::testing
