// The accept loop of a server's socket when this process has no file descriptor left: it waits,
// says so once, and takes the waiting connections as soon as descriptors are free.
#include "platform/com/rpc/unix_listener.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/testing/temp_dir.h"

namespace platform::com::rpc {
namespace {

using namespace std::chrono_literals;

template <class Pred>
bool Eventually(Pred pred) {
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

TEST(UnixListenerTest, WithoutFreeDescriptorsConnectionsWaitAndAreTakenOnceSomeAreFree) {
  platform::testing::TempDir dir;
  const std::string path = dir / "s.sock";
  std::string error;
  auto listener = UnixListener::Open(path, 0600, &error);
  ASSERT_TRUE(listener) << error;
  std::mutex mutex;
  std::vector<int> taken;
  std::vector<std::string> log, lost;
  listener->Start(
      [&](int fd) {
        std::lock_guard lock(mutex);
        taken.push_back(fd);
      },
      [&](const std::string& line) {
        std::lock_guard lock(mutex);
        log.push_back(line);
      },
      [&](const std::string& why) {
        std::lock_guard lock(mutex);
        lost.push_back(why);
      });
  constexpr int kClients = 5;
  std::vector<int> clients;
  for (int i = 0; i < kClients; ++i) clients.push_back(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));

  // Every descriptor of the process in use, under a soft limit just above what is open now.
  rlimit own{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &own), 0);
  const int probe = dup(0);
  ASSERT_GE(probe, 0);
  close(probe);
  rlimit low = own;
  low.rlim_cur = static_cast<rlim_t>(probe + 40);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  std::vector<int> fill;
  for (int fd; (fd = dup(0)) >= 0;) fill.push_back(fd);

  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  for (int c : clients) ASSERT_EQ(connect(c, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  EXPECT_TRUE(Eventually([&] {
    std::lock_guard lock(mutex);
    return !log.empty();
  }));

  for (int fd : fill) close(fd);
  EXPECT_TRUE(Eventually([&] {
    std::lock_guard lock(mutex);
    return taken.size() == kClients;
  }));
  listener->Stop();
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &own), 0);
  std::lock_guard lock(mutex);
  ASSERT_EQ(log.size(), 1u);  // not a line per attempt
  EXPECT_NE(log[0].find("no file descriptor is free"), std::string::npos) << log[0];
  EXPECT_TRUE(lost.empty());
  for (int fd : taken) close(fd);
  for (int c : clients) close(c);
}

}  // namespace
}  // namespace platform::com::rpc
