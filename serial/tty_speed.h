// Rates without a B-constant. Kept apart because the kernel's termios2 header cannot be
// included beside the C library's <termios.h>.
#pragma once

#include <cstdint>

namespace serial {

// Sets fd's input and output rate to rate bits per second (termios2 with BOTHER); 0 or an errno.
int SetCustomSpeed(int fd, uint32_t rate);

}  // namespace serial
