// The one-host-per-folder lock. Two opens of the lock file conflict as two processes would,
// so a second host is played by a second Take in this process.
#include "host/folder_lock.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "platform/testing/temp_dir.h"

namespace host {
namespace {

TEST(FolderLockTest, OneHolderPerFolder) {
  struct Row {
    const char* name;
    // Prepares the folder; what it returns is held while the second Take runs.
    std::function<std::unique_ptr<FolderLock>(const platform::testing::TempDir&)> before;
    const char* folder;  // below the temporary folder
    bool taken;
    const char* says;
  } rows[] = {
      {"free folder", [](const auto&) { return nullptr; }, "", true, ""},
      {"held by another host",
       [](const auto& dir) {
         std::string error;
         auto held = FolderLock::Take(dir.Path(), &error);
         EXPECT_TRUE(held) << error;
         return held;
       },
       "", false, "another host already serves the server folder "},
      {"released by a host that ended",
       [](const auto& dir) {
         std::string error;
         EXPECT_TRUE(FolderLock::Take(dir.Path(), &error)) << error;  // gone at once
         return nullptr;
       },
       "", true, ""},
      {"a link in place of the lock file",
       [](const auto& dir) {
         std::filesystem::create_symlink(dir / "elsewhere", dir / FolderLock::kFileName);
         return nullptr;
       },
       "", false, "cannot open the lock file "},
      {"no such folder", [](const auto&) { return nullptr; }, "missing/", false, "cannot open the lock file "},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    platform::testing::TempDir dir;
    auto held = r.before(dir);
    std::string error;
    auto lock = FolderLock::Take(dir / r.folder, &error);
    EXPECT_EQ(lock != nullptr, r.taken);
    EXPECT_EQ(error.rfind(r.says, 0), 0u) << error;
    if (!r.taken) {
      EXPECT_NE(error.find(dir / r.folder), std::string::npos) << error;
    }
    EXPECT_FALSE(dir.Exists("elsewhere"));
  }
}

}  // namespace
}  // namespace host
