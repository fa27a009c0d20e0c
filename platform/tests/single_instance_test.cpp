#include "platform/single_instance.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform {
namespace {

std::string UniqueName(const char* what) { return std::string("test-") + what + "-" + std::to_string(getpid()); }

TEST(SingleInstanceGuard, SecondCopyIsRefusedUntilTheFirstEnds) {
  std::string name = UniqueName("second");
  auto first = SingleInstanceGuard::Acquire(name);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(SingleInstanceGuard::Acquire(name), nullptr);
  EXPECT_NE(SingleInstanceGuard::Acquire(name + "-other"), nullptr);  // another program's guard
  first.reset();
  EXPECT_NE(SingleInstanceGuard::Acquire(name), nullptr);
}

// A copy that dies without cleaning up (killed, crashed) leaves nothing that blocks a start.
TEST(SingleInstanceGuard, KilledHolderReleasesTheGuard) {
  std::string name = UniqueName("killed");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto guard = SingleInstanceGuard::Acquire(name);
    char c = guard ? '1' : '0';
    (void)!write(ready[1], &c, 1);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  close(ready[0]);
  EXPECT_EQ(c, '1');
  EXPECT_EQ(SingleInstanceGuard::Acquire(name), nullptr);
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_NE(SingleInstanceGuard::Acquire(name), nullptr);
}

}  // namespace
}  // namespace platform
