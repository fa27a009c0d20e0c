#include <gtest/gtest.h>

#include <system_error>

#include "server/driver/error_codes.h"
#include "server/driver/fml.h"
#include "server/driver/options.h"
#include "server/driver/utilities.h"
#include "server/opc/debug_source.h"
#include "server/opc/exports.h"
#include "server/opc/tests/exports_fixture.h"

namespace opc::testing {
namespace {

class LifecycleTest : public ExportsTest {};

struct InitRow {
  const char* name;
  const char* argument;
  bool ini;
  int32_t fatal;
  const char* end_line;
  bool loaded;
};

class Initialise : public LifecycleTest, public ::testing::WithParamInterface<InitRow> {};

TEST_P(Initialise, LoadsTheConfigurationUnlessRegistering) {
  const InitRow& row = GetParam();
  if (row.ini) WriteIni(kStations, kChannels);
  QarSetHostFirstArgument(row.argument);
  StartLog();
  EXPECT_EQ(host.Initialize(), &ServerInitData());
  EXPECT_EQ(driver::FatalErrorCode, row.fatal);
  EXPECT_EQ(driver::FML != nullptr, row.loaded);
  auto log = LogFrom("SOXpSInitialize");
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log.front(), "SOXpSInitialize: Start; Version=070226");
  EXPECT_EQ(log.back(), row.end_line);
}

INSTANTIATE_TEST_SUITE_P(
    Lifecycle, Initialise,
    ::testing::Values(InitRow{"Configured", "", true, 0, "SOXpSInitialize: iFatalError=-$00)", true},
                      InitRow{"NoConfiguration", "", false, -13, "SOXpSInitialize: iFatalError=-$0D)", false},
                      InitRow{"Register", "-REGSERVER", false, 0, "SOXpSInitialize: iFatalError=-$00)", false},
                      InitRow{"RegisterLowerCase", "-regserver", false, 0, "SOXpSInitialize: iFatalError=-$00)", false},
                      InitRow{"Unregister", "-UnRegServer", false, 0, "SOXpSInitialize: iFatalError=-$00)", false},
                      InitRow{"OtherSwitch", "-embedding", false, -13, "SOXpSInitialize: iFatalError=-$0D)", false}),
    [](const auto& info) { return std::string(info.param.name); });

class TraceLevels : public LifecycleTest, public ::testing::WithParamInterface<std::pair<const char*, int32_t>> {};

TEST_P(TraceLevels, FollowDebugBit16) {
  StartLog({{"DEBUG", GetParam().first}});
  platform::toolkit::TServerInitData* d = host.Initialize();
  EXPECT_EQ(int32_t{d->TraceLevel1}, GetParam().second);  // unaligned fields: copied out
  EXPECT_EQ(int32_t{d->TraceLevel2}, GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Lifecycle, TraceLevels,
                         ::testing::Values(std::pair{"1", 0}, std::pair{"16", 0x10000003},
                                           std::pair{"17", 0x10000003}));

// A thread that cannot be started.
class UnstartableThread : public driver::TDriverThread {
 public:
  ~UnstartableThread() override { TerminateAndWait(); }
  void Resume() override { throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again)); }

 protected:
  void Execute() override {}
};

std::unique_ptr<driver::TDriverThread> Unstartable(int32_t) { return std::make_unique<UnstartableThread>(); }

std::unique_ptr<driver::TDriverThread> PortFails(int32_t) {
  driver::FatalErrorCode = driver::kErrRs232Open;
  return nullptr;
}

enum class Thread { None, Mop, Modbus, Other };

struct StartRow {
  const char* name;
  int modus;               // in Ostrel.INI; -1: no Ostrel.INI
  int32_t modus_after;     // MODUS changed after SOXpSInitialize; -1: kept
  bool demo;
  DriverThreadFactory factory;
  bool started;
  Thread thread;
  std::vector<std::string> lines;  // from the first "SOXpSStart" line on
  const char* box;
};

class Start : public LifecycleTest, public ::testing::WithParamInterface<StartRow> {};

TEST_P(Start, ModeDecidesTheThread) {
  const StartRow& row = GetParam();
  if (row.modus >= 0) WriteIni(kStations, kChannels, row.modus);
  std::vector<std::pair<std::string, std::string>> markers{{"SAVE_ERR", ""}};
  if (row.demo) markers.push_back({"DEMO", ""});
  StartLog(markers);
  SetDriverThreadFactory(row.factory);
  Load();
  if (row.modus_after >= 0) driver::Options.MODUS = row.modus_after;

  EXPECT_EQ(host.Start(), row.started);
  driver::TDriverThread* t = TreiberThread();
  switch (row.thread) {
    case Thread::None: EXPECT_EQ(t, nullptr); break;
    case Thread::Mop: EXPECT_NE(dynamic_cast<driver::tMOP*>(t), nullptr); break;
    case Thread::Modbus: EXPECT_NE(dynamic_cast<driver::TModbus*>(t), nullptr); break;
    case Thread::Other: EXPECT_NE(t, nullptr); break;
  }
  EXPECT_EQ(LogFrom("SOXpSStart"), row.lines);
  if (row.box) {
    EXPECT_EQ(boxes, std::vector<std::string>{row.box});
  } else {
    EXPECT_TRUE(boxes.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lifecycle, Start,
    ::testing::Values(
        StartRow{"Modus0", 0, -1, false, nullptr, true, Thread::Modbus,
                 {"SOXpSStart: Modus=0", "SOXpSStart: OPC-Server erfolgreich gestartet!"}, nullptr},
        StartRow{"Modus1", 1, -1, false, nullptr, true, Thread::Mop,
                 {"SOXpSStart: Modus=1", "SOXpSStart: OPC-Server erfolgreich gestartet!"}, nullptr},
        StartRow{"Modus2", 2, -1, false, nullptr, true, Thread::Mop,
                 {"SOXpSStart: Modus=2", "SOXpSStart: OPC-Server erfolgreich gestartet!"}, nullptr},
        StartRow{"DemoMakesNoThread", 1, -1, true, nullptr, true, Thread::None,
                 {"SOXpSStart: OPC-Server erfolgreich gestartet!"}, nullptr},
        StartRow{"Modus3", 1, 3, false, nullptr, false, Thread::None,
                 {"SOXpSStart: Modus=3", "SOXpSStart: FALSE; FatalError=-$00"},
                 "OPC-Server could not be started!\rErr= -$00\rMsg= Unknown Error\r(code=0)"},
        // The refused namespace build has replaced the configuration's -13 by its -27 in the
        // log; the box names the configuration's error.
        StartRow{"ConfigurationMissing", -1, -1, false, nullptr, false, Thread::None,
                 {"SOXpSStart: FatalError=-$1B", "SOXpSStart: FALSE; FatalError=-$1B"},
                 "OPC-Server could not be started!\rErr= -$0D\rMsg= FML: configfile not found!\r(code=-13)"},
        StartRow{"PortFails", 1, -1, false, PortFails, false, Thread::None,
                 {"SOXpSStart: Modus=1", "SOXpSStart: FALSE; FatalError=-$21"},
                 "OPC-Server could not be started!\rErr= -$21\rMsg= Open of RS232 port failed!\r(code=-33)"},
        StartRow{"ResumeFails", 1, -1, false, Unstartable, false, Thread::Other,
                 {"SOXpSStart: Modus=1", "SOXpSStart: FALSE; FatalError=-$00"},
                 "OPC-Server could not be started!\rErr= -$00\rMsg= Unknown Error\r(code=0)"}),
    [](const auto& info) { return std::string(info.param.name); });

struct ConfigErrorRow {
  const char* name;
  std::string stations, more;
  int modus;
  const char* box;
};

class ConfigurationError : public LifecycleTest, public ::testing::WithParamInterface<ConfigErrorRow> {};

// The namespace build that follows a configuration error is refused with -27, and the log says
// so; the user is told what is wrong with the configuration.
TEST_P(ConfigurationError, TheBoxNamesTheFirstErrorAndTheLogKeepsItsLines) {
  const ConfigErrorRow& row = GetParam();
  WriteIni(row.stations, row.more, row.modus);
  StartLog();
  Load();
  EXPECT_FALSE(host.Start());
  EXPECT_EQ(LogFrom("SOXpSStart"),
            (std::vector<std::string>{"SOXpSStart: FatalError=-$1B", "SOXpSStart: FALSE; FatalError=-$1B"}));
  EXPECT_EQ(LogFrom("NS: Create").front(), "NS: Create, Exception=-$1B, Error before creating names, Abbort!|(code=-27)");
  EXPECT_EQ(boxes, std::vector<std::string>{std::string("OPC-Server could not be started!\r") + row.box});
}

INSTANTIATE_TEST_SUITE_P(
    Lifecycle, ConfigurationError,
    ::testing::Values(
        ConfigErrorRow{"ModusOutOfRange", kStations, kChannels, 7,
                       "Err= -$03\rMsg= INI_file: missiong or incorrect text in section Zentralfunkmodem at key MODUS "
                       "!\r(code=-3)"},
        ConfigErrorRow{"UnknownChannelKind", kStations, "[ADR012]\r\nKANAL=XX,Druck,bar,1,0,0\r\n\r\n", 1,
                       "Err= -$10\rMsg= Unknown channeltyp in configfile!\r(code=-16)"},
        ConfigErrorRow{"HexNumberOverflows", "TYP=Pumpe,RM3,1,$FFFFFFFFF,0,0\r\n", "", 1,
                       "Err= -$0A\rMsg= FML: general error creating FML,RS232!\r(code=-10)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LifecycleTest, WithoutDisplayTheBoxReturnsAtOnceAndItsTextIsLogged) {
  QarSetMessageBoxHandler(nullptr);
  StartLog();
  host.Initialize();
  EXPECT_FALSE(host.Start());
  EXPECT_EQ(LogFrom("SOXpSStart"),
            (std::vector<std::string>{
                "SOXpSStart: FatalError=-$0D",
                "OPC-Server could not be started!|Err= -$0D|Msg= FML: configfile not found!|(code=-13)",
                "SOXpSStart: FALSE; FatalError=-$0D"}));
}

struct StopRow {
  const char* name;
  int modus;  // -1: no Ostrel.INI
  DriverThreadFactory factory;
  std::vector<std::string> lines;
};

class Stop : public LifecycleTest, public ::testing::WithParamInterface<StopRow> {};

TEST_P(Stop, FreesThreadThenStationList) {
  const StopRow& row = GetParam();
  if (row.modus >= 0) WriteIni(kStations, kChannels, row.modus);
  StartLog();
  SetDriverThreadFactory(row.factory);
  Load();
  host.Start();
  host.Stop();
  EXPECT_EQ(LogFrom("SOXpSStop"), row.lines);
  EXPECT_EQ(TreiberThread(), nullptr);
  EXPECT_EQ(driver::FML, nullptr);
  const size_t lines = LogTexts().size();
  host.Stop();  // nothing left to free
  EXPECT_EQ(LogTexts().size(), lines);
}

INSTANTIATE_TEST_SUITE_P(
    Lifecycle, Stop,
    ::testing::Values(StopRow{"Running", 1, nullptr,
                              {"SOXpSStop: Terminate TreiberThread OK", "SOXpSStop: Free TreiberThread OK",
                               "SOXpSStop: Free FML (inkl. aller FuMo) OK"}},
                      StopRow{"ThreadNeverRan", 1, Unstartable,
                              {"SOXpSStop: Terminate TreiberThread OK", "SOXpSStop: Free TreiberThread OK",
                               "SOXpSStop: Free FML (inkl. aller FuMo) OK"}},
                      StopRow{"AfterFailedStart", 1, PortFails, {"SOXpSStop: Free FML (inkl. aller FuMo) OK"}},
                      StopRow{"NothingLoaded", -1, nullptr, {}}),
    [](const auto& info) { return std::string(info.param.name); });

// The debug-window hook: what was opened, whether its source showed a protocol object, and what
// was closed.
struct WindowLog {
  static inline int opened = 0, closed = 0;
  static inline bool protocol = false;
  static void* Open(void* source) {
    ++opened;
    protocol = static_cast<const TDebugSource*>(source)->Snapshot(0).Funk.has_value();
    return &opened;
  }
  static void Close(void* window) {
    if (window == &opened) ++closed;
  }
};

struct WindowRow {
  const char* name;
  const char* debug;
  bool demo;
  int modus;  // -1: no Ostrel.INI
  bool opened;
};

class DebugWindow : public LifecycleTest, public ::testing::WithParamInterface<WindowRow> {};

TEST_P(DebugWindow, OpensOnlyForAStartedServerWithBit128) {
  const WindowRow& row = GetParam();
  WindowLog::opened = WindowLog::closed = 0;
  QarSetDebugWindowHook(&WindowLog::Open, &WindowLog::Close);
  if (row.modus >= 0) WriteIni(kStations, kChannels, row.modus);
  std::vector<std::pair<std::string, std::string>> markers{{"DEBUG", row.debug}};
  if (row.demo) markers.push_back({"DEMO", ""});
  StartLog(markers);
  Load();
  host.Start();
  EXPECT_EQ(WindowLog::opened, row.opened ? 1 : 0);
  if (row.opened) {
    EXPECT_EQ(WindowLog::protocol, !row.demo);  // in DEMO no thread, no protocol object
  }
  host.Stop();
  EXPECT_EQ(WindowLog::closed, WindowLog::opened);
}

INSTANTIATE_TEST_SUITE_P(Lifecycle, DebugWindow,
                         ::testing::Values(WindowRow{"Running", "128", false, 1, true},
                                           WindowRow{"Demo", "129", true, 1, true},
                                           WindowRow{"WithoutBit128", "127", false, 1, false},
                                           WindowRow{"StartFailed", "128", false, -1, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LifecycleTest, UnloadWithoutStopEndsTheDriverThread) {
  WriteIni(kStations, kChannels);
  StartLog();
  Load();
  ASSERT_TRUE(host.Start());
  StopExportsUnit();
  EXPECT_EQ(TreiberThread(), nullptr);
  EXPECT_EQ(driver::FML, nullptr);
  EXPECT_TRUE(LogFrom("SOXpSStop").empty());
}

}  // namespace
}  // namespace opc::testing
