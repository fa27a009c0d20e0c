// A piece of network between two computers for tests: forwards TCP connections from one
// address to the same ports on another, and can fail the way a network does, dropping every
// connection the moment a client sends its next request.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace host::testing {

class TcpRelay {
 public:
  // Listens on listen_host at each port and forwards to target_host at the same port. Ok()
  // tells whether every port could be taken.
  TcpRelay(const std::string& listen_host, const std::string& target_host, const std::vector<uint16_t>& ports);
  ~TcpRelay();
  TcpRelay(const TcpRelay&) = delete;
  TcpRelay& operator=(const TcpRelay&) = delete;

  bool Ok() const { return ok_; }
  // The next bytes any client sends are not forwarded: every open connection is closed instead.
  // New connections are forwarded again afterwards.
  void CutOnNextRequest() { cut_armed_ = true; }
  // How often that happened.
  int Cuts() const { return cuts_; }

 private:
  struct Pair {
    int client;
    int server;
  };
  void Run();
  void CloseAll();

  std::string target_host_;
  std::vector<std::pair<int, uint16_t>> listeners_;  // socket, port
  std::vector<Pair> pairs_;                           // only the relay's thread touches them
  int wake_[2] = {-1, -1};
  bool ok_ = false;
  std::atomic<bool> cut_armed_{false};
  std::atomic<int> cuts_{0};
  std::thread thread_;
};

}  // namespace host::testing
