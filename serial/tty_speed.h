// The line as the kernel's termios2 holds it, set and read back through TCSETS2 and TCGETS2.
// Kept apart because the kernel's termios2 header cannot be included beside the C library's
// <termios.h>. The C library's tcsetattr is not used: it reads the line back and reports an
// error or success for a device that drops a setting depending on whether anything else
// changed, so the same port would open one time and fail the next.
#pragma once

#include <cstdint>

namespace serial {

inline constexpr int kKernelControlChars = 19;

struct KernelLine {
  uint32_t iflag = 0, oflag = 0, cflag = 0, lflag = 0;
  uint8_t line = 0;
  uint8_t cc[kKernelControlChars] = {};
  uint32_t ispeed = 0, ospeed = 0;  // bits per second with BOTHER
};

// Sets fd's line; a rate without B-constant goes as BOTHER with rate bits per second (0: the
// rate is the B-constant already in cflag). 0 or an errno.
int SetKernelLine(int fd, const KernelLine& line, uint32_t otherRate);
// What fd's line is now; 0 or an errno.
int GetKernelLine(int fd, KernelLine& line);

}  // namespace serial
