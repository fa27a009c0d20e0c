// A manual-reset event that a poll() can wait on beside a device: once set it stays set.
#pragma once

namespace serial {

class TStopEvent {
 public:
  TStopEvent();
  ~TStopEvent();
  TStopEvent(const TStopEvent&) = delete;
  TStopEvent& operator=(const TStopEvent&) = delete;

  void Set();
  bool IsSet() const;
  // Readable (POLLIN) once set.
  int Fd() const { return fd_; }

 private:
  int fd_;
};

}  // namespace serial
