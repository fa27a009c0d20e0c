#include "platform/kernel_random.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <system_error>
#include <vector>

namespace platform {
namespace {

// A scripted getrandom: each step either fills up to `bytes` (with a running counter) or fails
// with `error`; after the script every call fills all it is asked for.
struct Step {
  ssize_t bytes;
  int error;
};
std::vector<Step> script;
size_t next_step = 0;
uint8_t counter = 0;

ssize_t Scripted(void* buffer, size_t length, unsigned int) {
  size_t n = length;
  if (next_step < script.size()) {
    const Step s = script[next_step++];
    if (s.bytes < 0) {
      errno = s.error;
      return -1;
    }
    n = std::min(length, size_t(s.bytes));
  }
  for (size_t i = 0; i < n; ++i) static_cast<uint8_t*>(buffer)[i] = ++counter;
  return ssize_t(n);
}

TEST(KernelRandomTest, InterruptedAndShortReadsStillFillEveryByte) {
  struct Row {
    const char* name;
    std::vector<Step> steps;
  } rows[] = {
      {"one read", {}},
      {"interrupted first", {{-1, EINTR}}},
      {"short reads", {{3, 0}, {1, 0}, {5, 0}}},
      {"short, interrupted, short", {{7, 0}, {-1, EINTR}, {-1, EINTR}, {2, 0}}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    script = r.steps;
    next_step = 0;
    counter = 0;
    std::vector<uint8_t> out(16, 0);
    KernelRandom(out, &Scripted);
    for (size_t i = 0; i < out.size(); ++i) EXPECT_EQ(out[i], i + 1) << "byte " << i;
  }
}

TEST(KernelRandomTest, AKernelThatGivesNothingIsAnErrorNotAWeakerSource) {
  struct Row {
    const char* name;
    Step step;
    int code;
  } rows[] = {
      {"no such system call", {-1, ENOSYS}, ENOSYS},
      {"refused by a filter", {-1, EPERM}, EPERM},
      {"nothing read", {0, 0}, EIO},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    script = {{4, 0}, r.step};
    next_step = 0;
    std::vector<uint8_t> out(16, 0);
    try {
      KernelRandom(out, &Scripted);
      ADD_FAILURE() << "no error";
    } catch (const std::system_error& e) {
      EXPECT_EQ(e.code().value(), r.code);
    }
  }
}

}  // namespace
}  // namespace platform
