// main() of every test program: local time is UTC so stamped lines are predictable, and the
// registry is a file of this run's own, so no test touches a user's registry; nor reads the
// user's remote-access configuration (a test that wants one names its own).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
  setenv("TZ", "UTC", 1);
  tzset();
  std::string registry =
      (std::filesystem::temp_directory_path() / ("qar-test-registry-" + std::to_string(getpid()))).string();
  setenv("QAR_REGISTRY", registry.c_str(), 1);
  setenv("QAR_REMOTE_CONFIG", (registry + "-remote.ini").c_str(), 1);
  ::testing::InitGoogleTest(&argc, argv);
  int rc = RUN_ALL_TESTS();
  std::error_code ec;
  std::filesystem::remove(registry, ec);
  std::filesystem::remove(registry + ".lock", ec);
  return rc;
}
