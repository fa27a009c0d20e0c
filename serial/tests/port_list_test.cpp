#include "serial/port_list.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/testing/temp_dir.h"

namespace serial {
namespace {

namespace fs = std::filesystem;

TEST(PortList, DevicesWithADriverSortedIgnoringCase) {
  platform::testing::TempDir dir;
  const fs::path root = dir / "tty";
  const fs::path driver = dir / "platform-device";
  fs::create_directories(driver);
  struct Entry {
    const char* name;
    bool device;
    const char* type;  // nullptr: no type file
  } entries[] = {
      {"ttyS0", true, "4\n"},   {"ttyS1", true, "0\n"},   {"ttyS2", false, "4\n"},   {"ttyS3", true, nullptr},
      {"ttyUSB10", true, nullptr}, {"ttyUSB2", true, nullptr}, {"ttyAMB0", true, nullptr}, {"ttyama0", true, nullptr},
      {"tty0", false, nullptr}, {"console", false, nullptr}, {"ptmx", false, nullptr},
  };
  for (const auto& e : entries) {
    fs::create_directories(root / e.name);
    if (e.device) fs::create_directory_symlink(driver, root / e.name / "device");
    if (e.type) dir.Write(std::string("tty/") + e.name + "/type", e.type);
  }
  std::vector<std::string> list = {"stale"};
  ListSerialPorts(list, root.string());
  EXPECT_EQ(list, (std::vector<std::string>{"ttyama0", "ttyAMB0", "ttyS0", "ttyUSB10", "ttyUSB2"}));
}

TEST(PortList, NoRootNoPorts) {
  std::vector<std::string> list = {"stale"};
  ListSerialPorts(list, "/nonexistent/qar/tty");
  EXPECT_TRUE(list.empty());
}

}  // namespace
}  // namespace serial
