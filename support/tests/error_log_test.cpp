#include "support/error_log.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/debug_output.h"
#include "platform/testing/temp_dir.h"

namespace support {
namespace {

using namespace std::chrono_literals;
using platform::testing::TempDir;

// 10.12.2026 10:25:00.000 UTC (the tests run with TZ=UTC).
const platform::Clock::TimePoint kStart{std::chrono::seconds{1796898300}};

class ErrorLogTest : public ::testing::Test {
 protected:
  void Start(ErrorLog& log) {
    log.SetClock(&clock);
    log.Startup(dir.Path());
  }
  std::vector<std::string> Lines(const std::string& file = "Problem2.TXT") const {
    std::vector<std::string> lines;
    std::string all = dir.Read(file);
    for (size_t p = 0, e; (e = all.find("\r\n", p)) != std::string::npos; p = e + 2)
      lines.push_back(all.substr(p, e - p));
    return lines;
  }
  // The logged texts, without stamp and separators.
  std::vector<std::string> Texts(const std::string& file = "Problem2.TXT") const {
    std::vector<std::string> texts;
    for (const auto& line : Lines(file)) {
      auto open = line.find('>');
      EXPECT_NE(open, std::string::npos) << line;
      EXPECT_EQ(line.back(), '<') << line;
      texts.push_back(line.substr(open + 1, line.size() - open - 2));
    }
    return texts;
  }
  std::vector<std::string> TextsAfterRestart() const {
    auto t = Texts();
    return t.size() >= 2 ? std::vector<std::string>(t.begin() + 2, t.end()) : t;
  }

  TempDir dir;
  platform::ManualClock clock{kStart};
};

struct MarkerRow {
  const char* name;
  std::map<std::string, std::string> files;
  bool demo, debug, log_on, dbg_output;
  int32_t dbg_flag, max_size;
};

class MarkerMatrix : public ErrorLogTest, public ::testing::WithParamInterface<MarkerRow> {};

TEST_P(MarkerMatrix, Switches) {
  const auto& row = GetParam();
  for (const auto& [name, content] : row.files) dir.Write(name, content);
  std::vector<std::string> debugger;
  platform::SetDebugOutputSink([&](std::string_view t) { debugger.emplace_back(t); });
  ErrorLog log;
  Start(log);
  log.Message("probe");
  platform::SetDebugOutputSink(nullptr);

  EXPECT_EQ(log.Demo(), row.demo);
  EXPECT_EQ(log.Debug(), row.debug);
  EXPECT_EQ(log.LogOn(), row.log_on);
  EXPECT_EQ(log.DbgOutput(), row.dbg_output);
  EXPECT_EQ(log.DbgFlag(), row.dbg_flag);
  EXPECT_EQ(log.MaxProblemSize(), row.max_size);
  if (row.log_on) {
    char flag[8];
    std::snprintf(flag, sizeof flag, "%02X", unsigned(row.dbg_flag & 0xFF));
    EXPECT_EQ(Texts(), (std::vector<std::string>{" ", "[Neustart Tarmo-32 PC-Programm , DbgFlag=$" +
                                                           std::string(flag) + "]",
                                                  "probe"}));
  } else {
    EXPECT_FALSE(dir.Exists("Problem2.TXT"));
  }
  EXPECT_EQ(!debugger.empty(), row.dbg_output);
  if (row.dbg_output) {
    EXPECT_EQ(debugger.back(), "probe");
  }
}

INSTANTIATE_TEST_SUITE_P(
    ErrorLog, MarkerMatrix,
    ::testing::Values(
        MarkerRow{"NoMarker", {}, false, false, false, false, 0, 100000},
        MarkerRow{"DemoOnly", {{"DEMO", ""}}, true, false, false, false, 0, 100000},
        MarkerRow{"DebugZero", {{"DEBUG", "0"}}, false, false, false, false, 0, 100000},
        MarkerRow{"DebugZeroSaveErr", {{"DEBUG", "0"}, {"SAVE_ERR", ""}}, false, false, true, false, 0, 100000},
        MarkerRow{"DebugOne", {{"DEBUG", "1\r\n"}}, false, true, true, false, 1, 200000},
        MarkerRow{"Debug1024", {{"DEBUG", "1024"}}, false, true, false, true, 1024, 200000},
        MarkerRow{"DebugNotANumber", {{"DEBUG", "x"}}, false, true, true, false, 1, 200000},
        MarkerRow{"DebugLowerCaseName", {{"debug", " 5 7"}}, false, true, true, false, 5, 200000},
        MarkerRow{"DebugNegative", {{"DEBUG", "-3"}}, false, true, true, false, 3, 200000},
        MarkerRow{"Debug1Only", {{"DEBUG1", ""}}, false, false, true, false, 0, 200000},
        MarkerRow{"DebugSpsOnly", {{"DebugSPS", ""}}, false, false, true, false, 0, 200000},
        MarkerRow{"SaveErrOnly", {{"save_err", ""}}, false, false, true, false, 0, 100000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ErrorLogTest, Debug1LocksTheFlagWordAfterStartUp) {
  dir.Write("DEBUG", "3");
  dir.Write("DEBUG1", "");
  ErrorLog log;
  Start(log);
  log.SetDbgFlag(0);
  EXPECT_EQ(log.DbgFlag(), 3);
  EXPECT_TRUE(log.TestDbgFlag(2));
}

TEST_F(ErrorLogTest, SetDbgFlagRecomputesSwitchesWithoutDebug1) {
  dir.Write("DEBUG", "3");
  ErrorLog log;
  Start(log);
  log.SetDbgFlag(0);
  EXPECT_FALSE(log.LogOn());
  log.SetDbgFlag(2048);
  EXPECT_TRUE(log.DbgOutput());
  EXPECT_FALSE(log.LogOn());
  log.SetDbgFlag(8);
  EXPECT_TRUE(log.LogOn());
  EXPECT_TRUE(log.TestDbgFlag(9));
  EXPECT_FALSE(log.TestDbgFlag(7));
}

TEST_F(ErrorLogTest, LineLayout) {
  dir.Write("SAVE_ERR", "");
  ErrorLog log;
  Start(log);
  struct Row {
    std::chrono::milliseconds at;
    const char* text;
    const char* line;
  } rows[] = {
      {374ms, "FML: CreateFML START", "10.12.2026 10:25:00-37  >FML: CreateFML START<"},
      {1995ms, "b", "10.12.2026 10:25:01-100  >b<"},  // rounded to the nearest hundredth
      {2004ms, "a\nb\tc\rd\x01", "10.12.2026 10:25:02-00  >a{10}b{9}c|d{1}<"},
      {3000ms, "Gr\xFC\xDF" "e", "10.12.2026 10:25:03-00  >Gr\xFC\xDF" "e<"},  // bytes pass unchanged
  };
  for (const auto& r : rows) {
    clock.Set(kStart + r.at);
    log.Message(r.text);
    EXPECT_EQ(Lines().back(), r.line);
  }
  log.SetLineMarker('*');
  log.Message("marked");
  EXPECT_NE(Lines().back().find(" *>marked<"), std::string::npos);
}

TEST_F(ErrorLogTest, RepeatsWithinTheWindowAreCounted) {
  dir.Write("SAVE_ERR", "");
  ErrorLog log;
  Start(log);
  for (int i = 0; i < 3; ++i) {
    log.Message("A");
    clock.Advance(10s);
  }
  log.Message("B");
  EXPECT_EQ(TextsAfterRestart(), (std::vector<std::string>{"A", "[2* Wiederholung]", "B"}));
}

TEST_F(ErrorLogTest, RepeatAfterTheWindowIsWrittenAgain) {
  dir.Write("SAVE_ERR", "");
  ErrorLog log;
  Start(log);
  log.Message("A");
  clock.Advance(240s);
  log.Message("A");  // still inside: 240 s count
  clock.Advance(60s);
  log.Message("A");  // 300 s after the first
  EXPECT_EQ(TextsAfterRestart(), (std::vector<std::string>{"A", "[1* Wiederholung]", "A"}));
}

TEST_F(ErrorLogTest, RepeatCountingOffWritesEveryLine) {
  dir.Write("SAVE_ERR", "");
  ErrorLog log;
  Start(log);
  log.SetRepeatCounting(false);
  log.Message("A");
  log.Message("A");
  EXPECT_EQ(TextsAfterRestart(), (std::vector<std::string>{"A", "A"}));
}

TEST_F(ErrorLogTest, RepeatCounterSummarisesInsteadOfOverflowing) {
  dir.Write("SAVE_ERR", "");
  ErrorLog log;
  Start(log);
  log.Message("A");
  for (int i = 0; i < 65535 + 2; ++i) ASSERT_NO_THROW(log.Message("A"));
  log.Message("B");
  EXPECT_EQ(TextsAfterRestart(),
            (std::vector<std::string>{"A", "[65535* Wiederholung]", "[2* Wiederholung]", "B"}));
}

TEST_F(ErrorLogTest, FullDiskStopsLogging) {
  dir.Write("SAVE_ERR", "");
  ErrorLog log;
  int64_t free = 8192;
  log.SetFreeSpace([&](const std::string&) { return free; });
  Start(log);
  struct Row {
    int64_t free;
    bool written;
  } rows[] = {{8192, false}, {200000, false}, {200001, true}, {-1, true}};
  int n = 0;
  for (const auto& r : rows) {
    free = r.free;
    std::string text = "line " + std::to_string(n++);
    log.Message(text);
    auto texts = Texts();
    EXPECT_EQ(!texts.empty() && texts.back() == text, r.written) << r.free;
  }
}

TEST_F(ErrorLogTest, UnwritableFolderLosesEntriesQuietly) {
  ErrorLog log;
  log.SetClock(&clock);
  dir.Write("SAVE_ERR", "");
  log.Startup(dir.Path());
  std::filesystem::remove_all(dir.Path());
  EXPECT_NO_THROW(log.Message("lost"));
  EXPECT_FALSE(dir.Exists("Problem2.TXT"));
}

struct RotationRow {
  const char* name;
  bool p1, p0;
  const char* want_p0;  // content of Problem0.TXT afterwards ("" = absent)
};

class Rotation : public ErrorLogTest, public ::testing::WithParamInterface<RotationRow> {};

TEST_P(Rotation, MovesByName) {
  const auto& row = GetParam();
  dir.Write("SAVE_ERR", "");
  if (row.p1) dir.Write("Problem1.TXT", "one");
  if (row.p0) dir.Write("Problem0.TXT", "zero");
  ErrorLog log;
  Start(log);
  log.SetMaxProblemSize(150);
  log.Message(std::string(200, 'x'));
  EXPECT_FALSE(dir.Exists("Problem2.TXT"));
  EXPECT_NE(dir.Read("Problem1.TXT").find(std::string(200, 'x')), std::string::npos);
  EXPECT_EQ(dir.Exists("Problem0.TXT"), *row.want_p0 != 0);
  if (*row.want_p0) {
    EXPECT_EQ(dir.Read("Problem0.TXT"), row.want_p0);
  }
  log.Message("next");
  EXPECT_EQ(Texts(), std::vector<std::string>{"next"});
}

INSTANTIATE_TEST_SUITE_P(ErrorLog, Rotation,
                         ::testing::Values(RotationRow{"BothPresent", true, true, "zero"},
                                           RotationRow{"OnlyProblem1", true, false, "one"},
                                           RotationRow{"NonePresent", false, false, ""}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ErrorLogTest, NoRotationDuringStartUp) {
  dir.Write("DEBUG", "1");
  dir.Write("Problem2.TXT", std::string(300000, 'x') + "\r\n");
  ErrorLog log;
  Start(log);
  EXPECT_FALSE(dir.Exists("Problem1.TXT"));
  log.Message("now");
  EXPECT_TRUE(dir.Exists("Problem1.TXT"));
}

TEST_F(ErrorLogTest, EndLineOnShutdown) {
  ErrorLog log;
  log.SetProgramName("Prog");
  Start(log);
  log.Shutdown();
  EXPECT_FALSE(dir.Exists("Problem2.TXT"));  // logging off: nothing
  log.Shutdown(217, 0x1234567, true);        // a run-time error forces the end line out
  EXPECT_EQ(Texts(), std::vector<std::string>{"[Ende PC-Programm Prog, RT 217 at 234567]"});
}

TEST_F(ErrorLogTest, ForcedEntryIsWrittenWhileLoggingIsOff) {
  ErrorLog log;
  Start(log);
  ASSERT_FALSE(log.LogOn());
  log.Message("quiet");
  log.Message("failure", true);
  log.Message("quiet again");
  EXPECT_EQ(Texts(), std::vector<std::string>{"failure"});
  EXPECT_FALSE(log.LogOn());  // forcing one entry switches nothing on
}

TEST_F(ErrorLogTest, ClientBuildsDiffer) {
  for (LogBuild build : {LogBuild::Configurator, LogBuild::Visualisation}) {
    TempDir folder;
    folder.Write("DEBUG", "0");  // any marker switches the clients' log on
    ErrorLog log(build);
    log.SetClock(&clock);
    log.Startup(folder.Path());
    EXPECT_TRUE(log.LogOn());
    EXPECT_EQ(log.MaxProblemSize(), 40000);
    log.SetDbgFlag(1024);
    EXPECT_FALSE(log.DbgOutput());
    log.SetLineMarker('*');
    log.SetRepeatCounting(false);
    log.Message(std::string(300, 'y'));
    log.Message(std::string(300, 'y'));  // the same 255 characters: counted
    log.Message("z");
    std::string all = folder.Read("Problem2.TXT");
    EXPECT_NE(all.find(" >" + std::string(255, 'y') + "<\r\n"), std::string::npos);
    EXPECT_EQ(all.find(std::string(256, 'y')), std::string::npos);
    EXPECT_NE(all.find(" >[1* Wiederholung]<"), std::string::npos);
    EXPECT_EQ(all.find("  >"), std::string::npos);
  }
}

// The flag word is the magnitude of the DEBUG file's number; the most negative one has none
// in 32 bits and gives the largest.
TEST_F(ErrorLogTest, MostNegativeDebugWordGivesTheLargestFlagWordInEveryBuild) {
  for (LogBuild build : {LogBuild::Server, LogBuild::Configurator, LogBuild::Visualisation}) {
    SCOPED_TRACE(int(build));
    TempDir folder;
    folder.Write("DEBUG", "-2147483648");
    ErrorLog log(build);
    log.SetClock(&clock);
    log.Startup(folder.Path());
    EXPECT_EQ(log.DbgFlag(), INT32_MAX);
  }
}

TEST_F(ErrorLogTest, ThreadsNeverInterleaveAndCountConsistently) {
  dir.Write("SAVE_ERR", "");
  ErrorLog log;
  Start(log);
  constexpr int kThreads = 8, kEach = 400;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&log, t] {
      for (int i = 0; i < kEach; ++i) log.Message(i % 4 == 0 ? "shared" : "thread " + std::to_string(t));
    });
  for (auto& th : threads) th.join();
  log.Message("end");

  int total = 0;
  for (const auto& text : TextsAfterRestart()) {
    int count = 0;
    if (std::sscanf(text.c_str(), "[%d* Wiederholung]", &count) == 1)
      total += count;
    else if (text != "end")
      ++total;
  }
  EXPECT_EQ(total, kThreads * kEach);
}

TEST_F(ErrorLogTest, ProgramLogStartsOnceForNestedStartUps) {
  dir.Write("SAVE_ERR", "");
  StartErrorLog(LogBuild::Server, dir.Path());
  StartErrorLog(LogBuild::Server, dir.Path());
  StopErrorLog();
  StopErrorLog();
  auto texts = Texts();
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[1], "[Neustart Tarmo-32 PC-Programm , DbgFlag=$00]");
  EXPECT_EQ(texts[2], "[Ende PC-Programm , RT 0 at 000000]");
}

// What a thread does with the program's log after its stop leaves no file behind and nothing
// for the next start: the next start counts no repeat of a line logged in between.
TEST_F(ErrorLogTest, ProgramLogUsedAfterItsStopKeepsNothing) {
  TempDir cwd;
  const std::filesystem::path saved = std::filesystem::current_path();
  std::filesystem::current_path(cwd.Path());
  StartErrorLog(LogBuild::Server, dir.Path());
  StopErrorLog();
  LogMessageForced("late");
  SetDbgFlag(5);
  EXPECT_FALSE(TestDbgFlag(5));
  StartErrorLog(LogBuild::Server, dir.Path());
  EXPECT_FALSE(TestDbgFlag(5));
  LogMessageForced("late");
  StopErrorLog();
  std::filesystem::current_path(saved);
  EXPECT_EQ(Texts(), std::vector<std::string>{"late"});
  EXPECT_FALSE(cwd.Exists("Problem2.TXT"));
}

}  // namespace
}  // namespace support
