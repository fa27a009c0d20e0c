#include "platform/single_instance.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "platform/runtime_dir.h"
#include "platform/testing/scoped_env.h"
#include "platform/testing/temp_dir.h"

namespace platform {
namespace {

// Each test has a runtime folder of its own.
class SingleInstanceGuardTest : public ::testing::Test {
 protected:
  testing::TempDir run_;
  testing::ScopedEnv runtime_{"XDG_RUNTIME_DIR", run_.Path().c_str()};
  const std::string name_ = "Qar-FM_KONF";
};

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST_F(SingleInstanceGuardTest, SecondCopyIsRefusedUntilTheFirstEnds) {
  auto first = SingleInstanceGuard::Acquire(name_);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(SingleInstanceGuard::Acquire(name_), nullptr);
  EXPECT_NE(SingleInstanceGuard::Acquire(name_ + "-other"), nullptr);  // another program's guard
  first.reset();
  EXPECT_NE(SingleInstanceGuard::Acquire(name_), nullptr);
}

// A copy that dies without cleaning up (killed, crashed) leaves nothing that blocks a start.
TEST_F(SingleInstanceGuardTest, KilledHolderReleasesTheGuard) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto guard = SingleInstanceGuard::Acquire(name_);
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
  EXPECT_EQ(SingleInstanceGuard::Acquire(name_), nullptr);
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_NE(SingleInstanceGuard::Acquire(name_), nullptr);
}

// Names in the abstract socket namespace have no owner: anyone on the machine can bind the one
// a user's program would use. What they bind there must not keep the program from starting.
TEST_F(SingleInstanceGuardTest, ANameAnotherUserCouldTakeFirstDoesNotBlock) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string id = "qar-instance/" + std::to_string(getuid()) + "/" + name_;
  std::memcpy(addr.sun_path + 1, id.data(), id.size());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), socklen_t(offsetof(sockaddr_un, sun_path) + 1 + id.size())),
            0);
  EXPECT_NE(SingleInstanceGuard::Acquire(name_), nullptr);
  close(fd);
}

TEST_F(SingleInstanceGuardTest, TheLockIsAFileOnlyTheUserCanOpen) {
  const mode_t old_mask = umask(0);
  auto guard = SingleInstanceGuard::Acquire(name_);
  umask(old_mask);
  ASSERT_NE(guard, nullptr);
  EXPECT_EQ(ModeOf(UserRuntimeDir()), 0700u);
  EXPECT_EQ(ModeOf(SingleInstanceGuard::LockFile(name_)), 0600u);
  guard.reset();
  EXPECT_FALSE(std::filesystem::exists(SingleInstanceGuard::LockFile(name_)));  // nothing left behind
}

TEST_F(SingleInstanceGuardTest, NamesStayInsideTheRuntimeFolder) {
  for (const std::string name : {"../../escape", "/tmp/x", "a/b", ".hidden", ""}) {
    SCOPED_TRACE(name);
    auto guard = SingleInstanceGuard::Acquire(name);
    ASSERT_NE(guard, nullptr);
    const std::string file = SingleInstanceGuard::LockFile(name);
    EXPECT_EQ(std::filesystem::path(file).parent_path(), std::filesystem::path(UserRuntimeDir()));
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(SingleInstanceGuard::Acquire(name), nullptr);
  }
}

// A runtime folder that others may enter or that is not the user's (someone made
// /tmp/qar-<uid> first) holds no guard: the program starts, whatever lies there.
TEST_F(SingleInstanceGuardTest, AFolderOpenToOthersIsNotUsedAndBlocksNothing) {
  const std::string dir = UserRuntimeDir();
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
  auto first = SingleInstanceGuard::Acquire(name_);
  EXPECT_NE(first, nullptr);
  EXPECT_NE(SingleInstanceGuard::Acquire(name_), nullptr);
  EXPECT_FALSE(std::filesystem::exists(SingleInstanceGuard::LockFile(name_)));
}

TEST(UserRuntimeDirTest, FollowsXdgRuntimeDir) {
  testing::TempDir home;
  testing::ScopedEnv home_env("HOME", home.Path().c_str());
  const std::string below_home = (std::filesystem::path(home.Path()) / ".qar-run").string();
  struct Row {
    const char* value;
    std::string dir;
  } rows[] = {{"/run/user/1000", "/run/user/1000/qar"}, {"", below_home}, {nullptr, below_home}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.value ? r.value : "unset");
    testing::ScopedEnv env("XDG_RUNTIME_DIR", r.value);
    EXPECT_EQ(UserRuntimeDir(), r.dir);
  }
}

// Without XDG_RUNTIME_DIR the folder lies where only this user may create entries, so no other
// user can make it first (open to all, or as their own) and keep the user's programs out.
TEST(UserRuntimeDirTest, WithoutXdgRuntimeDirNoOtherUserCanCreateTheFolderFirst) {
  testing::TempDir home;
  testing::ScopedEnv home_env("HOME", home.Path().c_str());
  testing::ScopedEnv xdg("XDG_RUNTIME_DIR", nullptr);
  const std::filesystem::path parent = std::filesystem::path(UserRuntimeDir()).parent_path();
  struct stat st {};
  ASSERT_EQ(stat(parent.c_str(), &st), 0) << parent;
  EXPECT_EQ(st.st_uid, geteuid()) << parent;
  EXPECT_EQ(st.st_mode & 0022, 0u) << parent << " lets others create entries";
  std::string error;
  EXPECT_TRUE(EnsurePrivateDir(UserRuntimeDir(), false, &error)) << error;
  auto first = SingleInstanceGuard::Acquire("Qar-FM_KONF");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(SingleInstanceGuard::Acquire("Qar-FM_KONF"), nullptr);  // the guard holds there
}

// A home the folder cannot go in gives the folder below /tmp, which the guard and the host can
// still use (and refuse, should another user have made it first), not a host that cannot serve.
TEST(UserRuntimeDirTest, AHomeThatCannotTakeTheFolderGivesTheOneBelowTmp) {
  testing::TempDir dir;
  const std::filesystem::path others = std::filesystem::path(dir.Path()) / "others";
  std::filesystem::create_directory(others);
  ASSERT_EQ(chown(others.c_str(), geteuid() + 1, getegid()), 0) << std::strerror(errno);
  std::filesystem::path deep = dir.Path();
  while (deep.string().size() < 80) deep /= "folder";
  std::filesystem::create_directories(deep);
  const std::string tmp = "/tmp/qar-" + std::to_string(geteuid());
  struct Row {
    const char* label;
    std::string home;
  } rows[] = {{"missing", dir.Path() + "/missing"},
              {"relative", "."},
              {"another user's", others.string()},
              {"too long a path for a socket", deep.string()}};
  testing::ScopedEnv xdg("XDG_RUNTIME_DIR", nullptr);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.label);
    testing::ScopedEnv home("HOME", r.home.c_str());
    EXPECT_EQ(UserRuntimeDir(), tmp);
  }
}

}  // namespace
}  // namespace platform
