// The simulator's end of the serial line: the master side of a pty pair it creates, or a
// serial device it is given. Operating-system detail only; the protocol lives elsewhere.
#pragma once

#include <memory>
#include <string>

namespace radiosim {

class Port {
 public:
  // A new pty pair. Besides the master we keep one descriptor of the slave open ourselves:
  // without it the master reports a hang-up (and poll() spins) whenever the server has its
  // side closed. The slave is put in raw mode, so nothing is echoed before the server has
  // set it up.
  static std::unique_ptr<Port> OpenPty(std::string& error);
  // A serial device in raw mode; with baud > 0 also at that rate and frame ("8E1").
  static std::unique_ptr<Port> OpenDevice(const std::string& path, int baud, const std::string& frame,
                                          std::string& error);
  ~Port();
  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;

  int Fd() const { return fd_; }
  // The slave's path (pty) or the device's.
  const std::string& Path() const { return path_; }
  // Appends what can be read without waiting; false when the port has failed.
  bool Read(std::string& into);
  // Writes what it can of pending and erases that; false when the port has failed.
  bool Write(std::string& pending);

 private:
  Port(int fd, int slaveFd, std::string path) : fd_(fd), slaveFd_(slaveFd), path_(std::move(path)) {}
  int fd_;
  int slaveFd_;
  std::string path_;
};

// Makes link a symbolic link to target, replacing an older link in one step.
bool PointLink(const std::string& link, const std::string& target, std::string& error);
void RemoveLink(const std::string& link);

}  // namespace radiosim
