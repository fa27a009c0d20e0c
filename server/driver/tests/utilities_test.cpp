#include "server/driver/utilities.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/registry.h"
#include "platform/testing/temp_dir.h"
#include "support/error_log.h"

namespace driver {
namespace {

using platform::testing::TempDir;

TEST(Utilities, CalcCRC16CheckValues) {
  struct Row {
    std::string bytes;
    uint16_t crc;
  } rows[] = {{"", 0xFFFF}, {"123456789", 0x4B37}, {"abc", 0x5749}, {std::string("\x01\x03\x00\x00\x00\x01", 6), 0x0A84}};
  for (const auto& r : rows) EXPECT_EQ(CalcCRC16(r.bytes), r.crc) << r.bytes;
}

TEST(Utilities, WordAndBcdConversions) {
  EXPECT_EQ(WordToStr2(0x0102), std::string("\x01\x02", 2));
  EXPECT_EQ(WordToStr2(0xFF00), std::string("\xFF\x00", 2));
  struct Row {
    int32_t in, out;
  } rows[] = {{0x59, 59}, {0x159, 59}, {0x1A, 20}, {0, 0}, {0xFF, 165}};
  for (const auto& r : rows) EXPECT_EQ(BCDToInt(r.in), r.out) << r.in;
  EXPECT_EQ(Max(-1, -5), -1);
}

TEST(Utilities, IsDbgFlagNeedsEveryBit) {
  TempDir dir;
  dir.Write("DEBUG", "9");
  support::StartErrorLog(support::LogBuild::Server, dir.Path());
  struct Row {
    int32_t flag, mask;
    bool all, any;
  } rows[] = {{9, 9, true, true}, {11, 9, true, true}, {8, 9, false, true}, {2, 9, false, false}};
  for (const auto& r : rows) {
    support::SetDbgFlag(r.flag);
    EXPECT_EQ(IsDbgFlag(r.mask), r.all) << r.flag;
    EXPECT_EQ(support::TestDbgFlag(r.mask), r.any) << r.flag;
  }
  support::StopErrorLog();
}

// The driver thread asks for its trace flags while the server's units start and stop the log:
// a log freed under the reader shows under the sanitizers.
TEST(Utilities, IsDbgFlagWhileTheLogStartsAndStops) {
  TempDir dir;
  dir.Write("DEBUG", "9");
  std::atomic<bool> done{false};
  std::thread reader([&] {
    while (!done) (void)IsDbgFlag(9);
  });
  for (int i = 0; i < 500; ++i) {
    support::StartErrorLog(support::LogBuild::Server, dir.Path());
    support::StopErrorLog();
  }
  done = true;
  reader.join();
}

class ServerPathTest : public ::testing::Test {
 protected:
  const std::string key = std::string(platform::kClassesRoot) + "\\CLSID\\" + kServerClsid + "\\LocalServer32";
  TempDir dir;
  std::string saved = getenv("QAR_REGISTRY") ? getenv("QAR_REGISTRY") : "";
  void SetUp() override { setenv("QAR_REGISTRY", (dir / "registry").c_str(), 1); }
  void TearDown() override { setenv("QAR_REGISTRY", saved.c_str(), 1); }
};

TEST_F(ServerPathTest, FolderOfTheRegisteredHost) {
  platform::Registry reg(dir / "registry");
  struct Row {
    const char* value;
    const char* folder;
  } rows[] = {{"/opt/prog/host", "/opt/prog/"}, {"host", ""}, {"/host", "/"}, {"/opt/prog/", "/opt/prog/"},
              {"\"/opt/my prog/host\"", "/opt/my prog/"}, {"\"/opt/my prog/host", "/opt/my prog/"}};
  for (const auto& r : rows) {
    ASSERT_TRUE(reg.SetValue(key, "", std::string(r.value)));
    EXPECT_EQ(GetServerPath(), r.folder) << r.value;
  }
}

TEST_F(ServerPathTest, MissingKeyGivesEmptyFolder) { EXPECT_EQ(GetServerPath(), ""); }

TEST(Utilities, TraceFileOnlyCreatedWhileDebugging) {
  TempDir dir;
  ServerDir = dir.Path();
  support::StartErrorLog(support::LogBuild::Server, dir.Path());  // no DEBUG marker
  WriteDebugLog(false, "not created");
  EXPECT_FALSE(dir.Exists("QAR_LOG.TXT"));
  support::StopErrorLog();

  dir.Write("DEBUG", "1");
  support::StartErrorLog(support::LogBuild::Server, dir.Path());
  WriteDebugLog(true, "AB\r");  // a hex request creating the file is written plain
  WriteDebugLog(true, "AB\r");
  WriteDebugLog(false, "plain");
  support::StopErrorLog();
  ServerDir.clear();

  std::string trace = dir.Read("QAR_LOG.TXT");
  std::vector<std::string> tails;
  for (size_t p = 0, e; (e = trace.find("\r\n", p)) != std::string::npos; p = e + 2) {
    std::string line = trace.substr(p, e - p);
    ASSERT_EQ(line.size() > 21 && line.substr(19, 2) == ": ", true) << line;
    tails.push_back(line.substr(21));
  }
  EXPECT_EQ(tails, (std::vector<std::string>{"AB\r", "41 42 0D ", "plain"}));
}

}  // namespace
}  // namespace driver
