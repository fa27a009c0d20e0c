// The listening Unix-domain socket of a server and its accept loop, which hands each client
// connection to the transport. It outlasts running out of file descriptors: while none is free
// it waits and tries again (said once in the error log, not at every try), and it takes a
// connection only while enough descriptors stay free for the server's own files, closing the
// others at once. Internal to the transport.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace platform::com::rpc {

class UnixListener {
 public:
  using Log = std::function<void(const std::string&)>;
  // Descriptors a connection leaves free (of the soft limit): the server's files, its log, its
  // registry record.
  static constexpr size_t kReservedDescriptors = 64;

  // Binds path (mode set before anyone can connect) and listens; nullptr with a text on failure.
  static std::unique_ptr<UnixListener> Open(const std::string& path, mode_t mode, std::string* error);
  ~UnixListener();  // Stop()
  UnixListener(const UnixListener&) = delete;
  UnixListener& operator=(const UnixListener&) = delete;

  // Accepts on a thread of its own; take gets each connection's descriptor (non-blocking, owned
  // by take from then on). When the socket cannot take connections any more, lost is told why,
  // once, and the loop ends.
  void Start(std::function<void(int fd)> take, Log log, Log lost);
  // Ends the loop and closes the socket (the file stays; its owner removes it).
  void Stop();

 private:
  UnixListener(int fd, int wake_read, int wake_write, std::string path);
  void Loop();
  // Waits up to ms for Stop; true when stopping.
  bool Pause(int ms);

  const int fd_, wake_read_, wake_write_;
  const std::string path_;
  std::function<void(int)> take_;
  Log log_, lost_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace platform::com::rpc
