#include "serial/stop_event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <system_error>

namespace serial {

TStopEvent::TStopEvent() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

TStopEvent::~TStopEvent() { close(fd_); }

void TStopEvent::Set() {
  // Never read back, so the counter stays above 0 and the fd stays readable.
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(fd_, &one, sizeof one);
}

bool TStopEvent::IsSet() const {
  pollfd p{fd_, POLLIN, 0};
  return poll(&p, 1, 0) == 1;
}

}  // namespace serial
