#include "tools/radiosim/control.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tools/tests/bytes.h"

namespace radiosim {
namespace {

using std::chrono::milliseconds;
using testing::Hex;
using testing::ToHex;

Network SmallNetwork() {
  Network net;
  net.central.params = 44;
  net.stations.push_back({.name = "Pumpe1", .index = 1, .adr1 = 12, .path = {12, 0, 0, 0}, .binaryInputs = 16,
                          .analogInputs = 2, .binaryOutputs = 8, .analogOutputs = 1, .params = 36});
  return net;
}

class FakePort final : public PortControl {
 public:
  std::string ClosePort() override {
    if (!open) return "the port is closed";
    open = false;
    return {};
  }
  std::string OpenPort(std::string& path) override {
    if (open) return "the port is open";
    open = true;
    path = "/dev/pts/77";
    return {};
  }
  bool open = true;
};

class ControlTest : public ::testing::Test {
 protected:
  ControlTest() {
    ModemOptions o;
    o.model.analogPeriod = milliseconds(0);
    modem = std::make_unique<Modem>(SmallNetwork(), o, wall, milliseconds(0));
  }
  std::string Run(const std::string& line) { return RunCommand(line, *modem, &port, milliseconds(0)).reply; }

  platform::ManualClock wall;
  FakePort port;
  std::unique_ptr<Modem> modem;
};

TEST_F(ControlTest, RepliesToEachCommand) {
  struct Row {
    const char* command;
    const char* reply;
  } rows[] = {
      {"set Pumpe1 1 -1 7", "ok"},
      {"regs Pumpe1 1", "ok 7 43471 3032 3429"},
      {"set 1 2 0 3", "ok"},
      {"regs 1 2", "ok 3 0"},
      {"set 1 1 1 4000", "ok"},
      {"jump 1 1", "ok 11621"},
      {"jump 1 0 9000", "ok 9000"},
      {"regs 1 1", "ok 7 43471 9000 11621"},
      {"station pumpe1 empty", "ok"},
      {"fault nak-frame 2", "ok"},
      {"close-port", "ok"},
      {"close-port", "error the port is closed"},
      {"open-port", "ok /dev/pts/77"},
      {"regs 1 4", "error bad class: 4"},
      {"regs 2 1", "error no station 2"},
      {"set 1 2 2 1", "error no register 2 in class 2"},
      {"set 1 2 0 65536", "error bad value: 65536"},
      {"set 1 2 x 1", "error bad register: x"},
      {"jump 1 2", "error no analog input 2"},
      {"station 1 broken", "error usage: station STATION ok|silent|empty"},
      {"fault lost-everything", "error unknown fault: lost-everything"},
      {"fault nak-stx 0", "error bad count: 0"},
      {"launch", "error unknown command: launch"},
      {"   ", "error empty command"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.command);
    EXPECT_EQ(Run(r.command), r.reply);
  }
}

TEST_F(ControlTest, CentralModemRegistersAsTheQueryWouldCarryThem) {
  auto words = [&] {
    std::istringstream in(Run("regs 0 3"));
    std::string ok;
    in >> ok;
    std::vector<int> v;
    for (int x; in >> x;) v.push_back(x);
    return v;
  };
  std::vector<int> before = words();
  ASSERT_EQ(before.size(), 44u);
  EXPECT_EQ(before[0], 1);  // radio layer up
  EXPECT_EQ(before[6], Modem::kId);
  EXPECT_EQ(before[7], Modem::kVersion);
  EXPECT_EQ(Run("set 0 3 16 5"), "ok");
  before[16] = 5;
  EXPECT_EQ(words(), before);
}

TEST_F(ControlTest, FaultsReachTheLine) {
  struct Row {
    const char* command;
    const char* in;
    const char* out;
  } rows[] = {
      {"fault lost-dle-stx", "02", ""},
      {"fault nak-stx", "02", "15"},
      {"fault foreign-stx", "02", "55"},
      {"fault collision", "02", "02"},
      {"fault noise", "", "55"},
      {"fault nak-frame", "02 10 03 13", "10 15"},
      {"fault foreign-frame", "02 10 03 13", "10 55"},
      {"fault lost-dle-frame", "02 10 03 13", "10"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.command);
    modem = std::make_unique<Modem>(SmallNetwork(), ModemOptions{}, wall, milliseconds(0));
    ASSERT_EQ(Run(r.command), "ok");
    modem->Receive(Hex(r.in), milliseconds(1));
    EXPECT_EQ(ToHex(modem->TakeOutput()), r.out);
  }
}

TEST_F(ControlTest, SilentAndBack) {
  EXPECT_EQ(Run("silent"), "ok");
  modem->Receive("\x02", milliseconds(1));
  EXPECT_EQ(modem->TakeOutput(), "");
  EXPECT_NE(Run("stats").find(" silent=1 "), std::string::npos);
  EXPECT_EQ(Run("back"), "ok");
  modem->Receive("\x02", milliseconds(2));
  EXPECT_EQ(ToHex(modem->TakeOutput()), "10");
}

TEST_F(ControlTest, StatsNameEveryCounter) {
  const std::string reply = Run("stats");
  for (const char* name : {"telegrams", "requests", "crc-requests", "central-queries", "answers", "empty-answers",
                           "mode-messages", "slots", "writes", "bad-telegrams", "crc-errors", "unknown-stations",
                           "out-of-range", "frames-received", "bad-frames", "char-timeouts", "frames-sent",
                           "refusals", "dropped", "conflicts", "stray", "outside-slot", "silent", "time-slots",
                           "slot-open", "server-in-slot"}) {
    SCOPED_TRACE(name);
    EXPECT_NE(reply.find(std::string(" ") + name + "="), std::string::npos);
  }
}

TEST_F(ControlTest, QuitEndsTheProgram) {
  EXPECT_TRUE(RunCommand("quit", *modem, &port, milliseconds(0)).quit);
  EXPECT_FALSE(RunCommand("stats", *modem, &port, milliseconds(0)).quit);
}

TEST(Plan, ParsesLinesInTelegramOrder) {
  std::vector<PlanEntry> plan;
  std::string error;
  ASSERT_TRUE(ParsePlan("# faults\r\n10 fault nak-frame\n\n  3\tsilent\n10 back\n", plan, error)) << error;
  ASSERT_EQ(plan.size(), 3u);
  EXPECT_EQ(TakeDue(plan, 2), std::vector<std::string>{});
  EXPECT_EQ(TakeDue(plan, 3), std::vector<std::string>{"silent"});
  EXPECT_EQ(TakeDue(plan, 12), (std::vector<std::string>{"fault nak-frame", "back"}));
  EXPECT_TRUE(plan.empty());
}

TEST(Plan, RefusesLinesWithoutNumberOrCommand) {
  for (const char* text : {"silent\n", "10\n", "-1 silent\n", "x3 silent\n"}) {
    SCOPED_TRACE(text);
    std::vector<PlanEntry> plan;
    std::string error;
    EXPECT_FALSE(ParsePlan(text, plan, error));
    EXPECT_EQ(error.rfind("plan line 1: ", 0), 0u) << error;
  }
}

}  // namespace
}  // namespace radiosim
