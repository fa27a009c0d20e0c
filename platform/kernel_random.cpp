#include "platform/kernel_random.h"

#include <sys/random.h>

#include <cerrno>
#include <system_error>

namespace platform {

void KernelRandom(std::span<uint8_t> out) { KernelRandom(out, &getrandom); }

void KernelRandom(std::span<uint8_t> out, GetRandomCall call) {
  size_t done = 0;
  while (done < out.size()) {
    // Reads of more than 256 bytes may come back short, and a signal may interrupt a read
    // that waits for the source to be seeded.
    const ssize_t n = call(out.data() + done, out.size() - done, 0);
    if (n > 0) {
      done += size_t(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      throw std::system_error(n < 0 ? errno : EIO, std::generic_category(), "getrandom");
    }
  }
}

}  // namespace platform
