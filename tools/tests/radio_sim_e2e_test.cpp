// radio-sim as a program: started through the test-support helper, talked to over a real pty
// as the server would, steered through its control channel.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/testing/temp_dir.h"
#include "tools/testing/simulator_process.h"
#include "tools/tests/bytes.h"

namespace radiosim {
namespace {

using std::chrono::milliseconds;
using testing::Hex;
using testing::ToHex;
using Clock = std::chrono::steady_clock;

// Long enough for a loaded machine; every read returns as soon as its bytes are there.
constexpr milliseconds kWait{5000};

// The server's end of the line, reduced to what these tests need.
class ServerEnd {
 public:
  explicit ServerEnd(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    termios t{};
    if (fd_ >= 0 && ::tcgetattr(fd_, &t) == 0) {
      ::cfmakeraw(&t);
      ::tcsetattr(fd_, TCSANOW, &t);
    }
  }
  ~ServerEnd() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Open() const { return fd_ >= 0; }
  int Fd() const { return fd_; }

  void Write(const std::string& bytes) { ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), ssize_t(bytes.size())); }

  // Up to n bytes, returning early once they are there.
  std::string Read(size_t n, milliseconds wait = kWait) {
    std::string got;
    const auto deadline = Clock::now() + wait;
    while (got.size() < n) {
      const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
      pollfd p{fd_, POLLIN, 0};
      if (left <= 0 || ::poll(&p, 1, int(left)) <= 0) break;
      char buf[512];
      const ssize_t r = ::read(fd_, buf, std::min(sizeof buf, n - got.size()));
      if (r <= 0) break;
      got.append(buf, size_t(r));
    }
    return got;
  }

  // STX, DLE back, the frame, DLE back.
  void Send(const std::string& tel) {
    Write("\x02");
    ASSERT_EQ(ToHex(Read(1)), "10");
    std::string frame;
    uint8_t bcc = 0;
    for (char c : tel) {
      frame += c;
      if (c == 0x10) frame += c;
    }
    frame += "\x10\x03";
    for (char c : frame) bcc = uint8_t(bcc ^ uint8_t(c));
    frame += char(bcc);
    Write(frame);
    ASSERT_EQ(ToHex(Read(1)), "10");
  }

  // Waits for the modem's STX, answers DLE, takes the frame and acknowledges it.
  std::optional<std::string> Receive() {
    if (ToHex(Read(1)) != "02") return std::nullopt;
    Write("\x10");
    std::string frame;
    for (bool dle = false;;) {
      const std::string b = Read(1);
      if (b.empty()) return std::nullopt;
      frame += b;
      if (dle && b[0] == 0x03) {
        frame += Read(1);
        break;
      }
      dle = !dle && b[0] == 0x10;
    }
    Write("\x10");
    std::string tel;
    for (size_t i = 0; i + 3 < frame.size(); ++i) {
      tel += frame[i];
      if (frame[i] == 0x10) ++i;
    }
    return tel;
  }

 private:
  int fd_;
};

class RadioSimProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.Write("Ostrel.INI",
              "[Zentralfunkmodem]\r\nTyp=Zentrale,ZT\r\nRS232=" + testing::SimulatorProcess::DefaultPortPath(dir.Path()) +
                  ",9600,Even,8,1\r\nMODUS=1\r\n\r\n[Unterstationen]\r\nTYP=Pumpe1,RM3,0,12\r\n\r\n"
                  "[ADR012]\r\nKANAL=BE,Ein,,1,0,0\r\nKANAL=AE,Druck,bar,1,0,0\r\nKANAL=BA,Aus,,1,0,0\r\n");
  }
  platform::testing::TempDir dir;
};

TEST_F(RadioSimProgram, AnswersTheServerOverThePty) {
  testing::SimulatorProcess sim(dir.Path(), {"--radio-delay", "0", "--analog-period", "0"});
  ASSERT_TRUE(sim.Start()) << sim.Error();
  EXPECT_EQ(sim.PortPath(), dir.Path() + "radio-sim.tty");
  ServerEnd server(sim.PortPath());
  ASSERT_TRUE(server.Open());

  server.Send(Hex("60 00 00 00 00 03 84 2C 03 84 00"));
  const auto central = server.Receive();
  ASSERT_TRUE(central);
  EXPECT_EQ(ToHex(central->substr(0, 10)), "E0 00 00 00 00 03 84 2C 00 01");
  EXPECT_EQ(central->size(), 8u + 2 * 44);

  // Inputs read, the output word written.
  server.Send(Hex("60 0C 00 00 00 00 01 03 01 2C 01 00 01"));
  const auto answer = server.Receive();
  ASSERT_TRUE(answer);
  EXPECT_EQ(ToHex(answer->substr(0, 8)), "E0 00 0C 00 00 00 01 03");
  EXPECT_EQ(sim.Registers("Pumpe1", 2), (std::vector<int>{1}));

  const auto stats = sim.Stats();
  EXPECT_EQ(stats.at("telegrams"), 2);
  EXPECT_EQ(stats.at("central-queries"), 1);
  EXPECT_EQ(stats.at("writes"), 1);
}

TEST_F(RadioSimProgram, PortVanishesAndReturns) {
  testing::SimulatorProcess sim(dir.Path(), {"--radio-delay", "0"});
  ASSERT_TRUE(sim.Start()) << sim.Error();
  const std::string link = sim.PortPath();
  ServerEnd before(link);
  ASSERT_TRUE(before.Open());

  EXPECT_EQ(sim.Command("close-port"), "ok");
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
  // The server's old descriptor sees the hang-up.
  pollfd p{before.Fd(), POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, int(kWait.count())), 1);
  EXPECT_NE(p.revents & (POLLHUP | POLLERR), 0);
  char c;
  EXPECT_LE(::read(before.Fd(), &c, 1), 0);

  const std::string reply = sim.Command("open-port");
  ASSERT_EQ(reply.rfind("ok /dev/pts/", 0), 0u) << reply;
  EXPECT_EQ(std::filesystem::read_symlink(link).string(), reply.substr(3));
  ServerEnd after(link);
  ASSERT_TRUE(after.Open());
  after.Send(Hex("60 0C 00 00 00 00 01 01 00 00 00"));
  const auto answer = after.Receive();
  ASSERT_TRUE(answer);
  EXPECT_EQ(ToHex(*answer), "E0 00 0C 00 00 00 01 01 00 00");
}

TEST_F(RadioSimProgram, FaultFromTheControlChannel) {
  testing::SimulatorProcess sim(dir.Path(), {"--radio-delay", "0"});
  ASSERT_TRUE(sim.Start()) << sim.Error();
  ServerEnd server(sim.PortPath());
  ASSERT_TRUE(server.Open());
  EXPECT_EQ(sim.Command("fault nak-stx"), "ok");
  server.Write("\x02");
  EXPECT_EQ(ToHex(server.Read(1)), "15");
  server.Write("\x02");
  EXPECT_EQ(ToHex(server.Read(1)), "10");
}

TEST_F(RadioSimProgram, StartOptionsAndPlanShapeTheAnswers) {
  dir.Write("plan.txt", "# after the first telegram the station fails\n1 station Pumpe1 empty\n");
  struct Row {
    const char* name;
    std::vector<std::string> args;
    const char* first;   // answer to the first request
    const char* second;  // and to the second
  } rows[] = {
      {"station answering empty from the start", {"--empty", "Pumpe1"}, "E0 00 0C 00 00", "E0 00 0C 00 00"},
      {"plan makes it fail after the first telegram", {"--plan", dir.Path() + "plan.txt"},
       "E0 00 0C 00 00 00 01 01 00 00", "E0 00 0C 00 00"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<std::string> args = {"--radio-delay", "0"};
    args.insert(args.end(), r.args.begin(), r.args.end());
    testing::SimulatorProcess sim(dir.Path(), args);
    ASSERT_TRUE(sim.Start()) << sim.Error();
    ServerEnd server(sim.PortPath());
    ASSERT_TRUE(server.Open());
    for (const char* expected : {r.first, r.second}) {
      server.Send(Hex("60 0C 00 00 00 00 01 01 00 00 00"));
      const auto answer = server.Receive();
      ASSERT_TRUE(answer);
      EXPECT_EQ(ToHex(*answer), expected);
    }
  }
}

TEST_F(RadioSimProgram, RefusesBadStartOptions) {
  for (std::vector<std::string> args : {std::vector<std::string>{"--silent", "Nobody"},
                                        std::vector<std::string>{"--radio-delay", "soon"},
                                        std::vector<std::string>{"--line", "9600,8Q1"},
                                        std::vector<std::string>{"--plan", dir.Path() + "missing.txt"}}) {
    SCOPED_TRACE(args[0] + " " + args[1]);
    testing::SimulatorProcess sim(dir.Path(), args);
    EXPECT_FALSE(sim.Start());
  }
}

TEST_F(RadioSimProgram, StopsByItsPidAndTakesItsLinkAway) {
  testing::SimulatorProcess sim(dir.Path());
  ASSERT_TRUE(sim.Start()) << sim.Error();
  ASSERT_GT(sim.Pid(), 0);
  ASSERT_TRUE(std::filesystem::exists(sim.PortPath()));
  const int status = sim.Stop();
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(sim.PortPath())));
}

TEST_F(RadioSimProgram, QuitCommandStopsIt) {
  testing::SimulatorProcess sim(dir.Path());
  ASSERT_TRUE(sim.Start()) << sim.Error();
  EXPECT_EQ(sim.Command("quit"), "ok");
  EXPECT_EQ(sim.Command("stats"), "");  // nobody answers any more
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(sim.PortPath())));
}

TEST(RadioSimProgramStart, FailsWithoutConfiguration) {
  platform::testing::TempDir empty;
  testing::SimulatorProcess sim(empty.Path());
  EXPECT_FALSE(sim.Start());
  EXPECT_FALSE(sim.Running());
  EXPECT_FALSE(sim.Error().empty());
}

}  // namespace
}  // namespace radiosim
