// The 3964R procedure over the serial port component on the in-process fake device: the
// partner's replies are scripted per write of ours, time is virtual.
#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "serial/com_port.h"
#include "serial/fake_backend.h"
#include "server/driver/error_codes.h"
#include "server/driver/frame3964.h"
#include "server/driver/options.h"
#include "server/driver/tests/protocol_fixture.h"

namespace driver {
namespace {

using testing::Bytes;
using testing::Hex;

// One reply of the partner to one write of ours.
struct Reply {
  const char* bytes;  // "" stays silent
  uint32_t afterMs = 0;
  uint32_t lineError = 0;  // kCe* flag that comes with the (single) byte
};

class LineTest : public testing::ProtocolTest {
 public:
  void SetUp() override {
    ProtocolTest::SetUp();
    Connect("COM2,19200,Even,8,1");
  }

  // A fresh protocol object on a fresh fake device, initialised from the RS232 key.
  int32_t Connect(const std::string& rs232, int openError = 0) {
    funk.reset();
    fake = std::make_shared<serial::FakeComBackend>(&clock);
    if (openError) fake->FailWith(serial::FakeOp::Open, openError);
    dir.Write("Ostrel.INI", "[Zentralfunkmodem]\r\nTyp=ZFM1,ZT\r\nRS232=" + rs232 + "\r\n");
    funk = std::make_unique<TCustomFunk>([this] { return std::make_unique<serial::TComPort>(fake); }, clock);
    const int32_t result = funk->Init(true);
    replies.clear();
    fake->SetWriteHandler([this](serial::FakeComBackend& device, std::string_view) {
      if (replies.empty()) return;
      Reply r = replies.front();
      replies.pop_front();
      if (r.lineError)
        device.ReceiveWithError(uint8_t(Bytes(r.bytes)[0]), r.lineError, r.afterMs);
      else if (*r.bytes)
        device.Receive(Bytes(r.bytes), r.afterMs);
    });
    fake->TakeWritten();
    return result;
  }
  void Script(std::vector<Reply> rs) { replies.assign(rs.begin(), rs.end()); }
  uint32_t Tick() { return clock.TickMs(); }

  std::shared_ptr<serial::FakeComBackend> fake;
  std::deque<Reply> replies;
};

TEST_F(LineTest, SendeTelegrammResults) {
  StartLog(-1);
  TraceOn();
  const char* station = "60 05 00 00 00 00 01 06 01 2C 00";
  struct Row {
    const char* name;
    bool crc;
    const char* tel;
    std::vector<Reply> replies;
    const char* written;  // after our STX
    int32_t result;
    uint32_t elapsed;
    const char* telAfter;  // nullptr: unchanged
  } rows[] = {
      {"acknowledged", false, "41 10 42", {{"10"}, {"10"}}, "41 10 10 42 10 03 10", 0, 0, nullptr},
      {"no reply to STX", false, "41", {}, "", -1, 150, nullptr},
      {"NAK to STX", false, "41", {{"15"}}, "", 2, 0, nullptr},
      {"STX to STX: we give way with NAK", false, "41", {{"02"}}, "15", 1, 0, nullptr},
      {"other byte to STX: pause", false, "41", {{"41"}}, "", 3, 1100, nullptr},
      {"DLE with a framing error: pause", false, "41", {{"10", 0, serial::kCeFrame}}, "", 3, 1100, nullptr},
      {"DLE late but within the wait", false, "41", {{"10", 140}, {"10"}}, "41 10 03 52", 0, 140, nullptr},
      {"DLE after the wait", false, "41", {{"10", 160}}, "", -1, 150, nullptr},
      {"no reply to the frame", false, "41", {{"10"}, {""}}, "41 10 03 52", -2, 150, nullptr},
      {"NAK to the frame", false, "41", {{"10"}, {"15"}}, "41 10 03 52", 4, 0, nullptr},
      {"other byte to the frame: pause", false, "41", {{"10"}, {"02"}}, "41 10 03 52", 5, 1100, nullptr},
      {"CRC variant", true, station, {{"10"}, {"10"}}, "61 05 00 00 00 00 01 06 01 2C 00 9C 41 10 03 80", 0, 0,
       "61 05 00 00 00 00 01 06 01 2C 00 9C 41"},
      {"CRC variant not made before the DLE", true, station, {{"15"}}, "", 2, 0, nullptr},
      {"CRC variant off", false, station, {{"10"}, {"10"}}, "60 05 00 00 00 00 01 06 01 2C 00 10 03 5C", 0, 0,
       nullptr},
      {"mode message never has a CRC", true, "2A 57 31", {{"10"}, {"10"}}, "2A 57 31 10 03 5F", 0, 0, nullptr},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    Connect("COM2,19200,Even,8,1");
    Options.MOP2CRC = r.crc;
    funk->Anfrage.Tel = Bytes(r.tel);
    Script(r.replies);
    const uint32_t start = Tick();
    EXPECT_EQ(funk->SendeTelegramm(), r.result);
    EXPECT_EQ(Hex(fake->TakeWritten()), Hex("\x02" + Bytes(r.written)));
    EXPECT_EQ(Tick() - start, r.elapsed);
    EXPECT_EQ(Hex(funk->Anfrage.Tel), Hex(Bytes(r.telAfter ? r.telAfter : r.tel)));
    EXPECT_EQ(funk->Anfrage.SendeErg, r.result);
    EXPECT_EQ(funk->Anfrage.SendeTick, r.result == 0 ? start : 0u);
  }
  EXPECT_NE(Trace().find("RS-Err: 8= FRAME\r\n"), std::string::npos);
  // Failures are logged, successes only with trace flag 64.
  EXPECT_NE(LogText().find(">SendeTelegramm: erg=-2: 41 <"), std::string::npos);
  EXPECT_EQ(LogText().find("SendeTelegramm: erg=0"), std::string::npos);
}

TEST_F(LineTest, RepeatedResultsAreCountedAndPausesCostNoRealTime) {
  funk->Anfrage.Tel = "A";
  struct Step {
    const char* reply;
    int32_t result, count;
  } steps[] = {
      {"15", 2, 0}, {"15", 2, 1}, {"15", 2, 2}, {"15", 2, 3}, {"15", 2, 4}, {"15", 2, 5},
      {"02", 1, 0}, {"02", 1, 1}, {"41", 3, 0}, {"41", 3, 1}, {"41", 3, 2}, {"41", 3, 3},
      {"41", 3, 4}, {"", -1, 0},  {"", -1, 1},
  };
  const uint32_t start = Tick();
  for (const auto& s : steps) {
    Script({{s.reply}});
    EXPECT_EQ(funk->SendeTelegramm(), s.result);
    EXPECT_EQ(funk->LastSendErg, s.result);
    EXPECT_EQ(funk->SendErgCount, s.count);
  }
  // Five pauses after a stray byte, two waits for a reply that never came.
  EXPECT_EQ(Tick() - start, 5 * 1100u + 2 * 150u);
}

TEST_F(LineTest, ModeMessageNeedsNoAnswer) {
  for (bool acknowledged : {true, false}) {
    SCOPED_TRACE(acknowledged ? "acknowledged" : "refused");
    funk->Anfrage.AF = kAfModeMessage;
    funk->ErzeugeTel();
    Script({{"10"}, {acknowledged ? "10" : "15"}});
    funk->SendeTelegramm();
    EXPECT_EQ(funk->Anfrage.AF, acknowledged ? kAfNone : kAfModeMessage);
  }
}

TEST_F(LineTest, LeseTelegrammResults) {
  TraceOn();
  struct Arrival {
    uint32_t afterMs;
    const char* bytes;
    uint32_t lineError = 0;
  };
  struct Row {
    const char* name;
    std::vector<Arrival> line;
    const char* written;
    int32_t result;
    const char* answer;
    const char* left;  // still to be read afterwards
  } rows[] = {
      {"nothing within the wait", {}, "", -1, "", ""},
      {"not STX: NAK and the input dropped", {{0, "41 42 43"}}, "15", 1, "", ""},
      {"STX, then nothing", {{0, "02"}}, "10 15", -2, "", ""},
      {"body too short", {{0, "02 41 10"}}, "10 15", 2, "", ""},
      {"no DLE ETX", {{0, "02 41 42 43 44"}}, "10 15", 3, "", ""},
      {"wrong block check byte", {{0, "02 41 10 03 00"}}, "10 15", 4, "", ""},
      {"good frame, pair made single", {{0, "02 41 10 10 42 10 03 10"}}, "10 10", 0, "41 10 42", ""},
      {"bytes after the frame stay", {{0, "02 41 10 03 52 02"}}, "10 10", 0, "41", "02"},
      {"answer to a CRC request", {{0, "02 E1 05 00 00 00 00 01 01 12 34 47 8F 10 03 19"}}, "10 10", 0,
       "E1 05 00 00 00 00 01 01 12 34", ""},
      {"CRC wrong", {{0, "02 E1 05 00 00 00 00 01 01 12 34 8F 47 10 03 19"}}, "10 15", 4, "", ""},
      {"gap within TIMEOUT", {{0, "02 41"}, {140, "10 03 52"}}, "10 10", 0, "41", ""},
      {"gap longer than TIMEOUT ends the frame", {{0, "02 41 10"}, {200, "03 52"}}, "10 15", 2, "", "03 52"},
      {"byte with a line error ends the frame",
       {{0, "02 41 42"}, {10, "43", serial::kCeRxParity}, {20, "10 03 11"}},
       "10 15",
       2,
       "",
       "10 03 11"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    Connect("COM2,19200,Even,8,1");
    for (const auto& a : r.line) {
      if (a.lineError)
        fake->ReceiveWithError(uint8_t(Bytes(a.bytes)[0]), a.lineError, a.afterMs);
      else
        fake->Receive(Bytes(a.bytes), a.afterMs);
    }
    const size_t traceMark = Trace().size();
    EXPECT_EQ(funk->LeseTelegramm(1000), r.result);
    EXPECT_EQ(Hex(fake->TakeWritten()), Hex(Bytes(r.written)));
    EXPECT_EQ(Hex(funk->Anfrage.Antwort), Hex(Bytes(r.answer)));
    EXPECT_EQ(funk->Anfrage.LeseErg, r.result);
    std::string left;
    funk->RecStr(left, 255, 1000, 255);
    EXPECT_EQ(Hex(left), Hex(Bytes(r.left)));
    const bool defekt = Trace().find("Tel.defekt: Err=" + std::to_string(r.result) + "\r\n", traceMark) !=
                        std::string::npos;
    EXPECT_EQ(defekt, r.result > 1);
  }
  EXPECT_NE(Trace().find(": 41 10 03 00 \r\n"), std::string::npos);  // the hex dump of a refused body
  EXPECT_NE(Trace().find("RS-Err: 4= P\r\n"), std::string::npos);
}

TEST_F(LineTest, NothingArrivesWithinTheWait) {
  const uint32_t start = Tick();
  EXPECT_EQ(funk->LeseTelegramm(1000), -1);
  EXPECT_EQ(Tick() - start, 1000u);
  EXPECT_EQ(fake->Purges().size(), 0u);

  fake->Receive("x");
  EXPECT_EQ(funk->LeseTelegramm(1000), 1);
  ASSERT_EQ(fake->Purges().size(), 1u);
  EXPECT_EQ(fake->Purges()[0] & serial::kPurgeRxClear, serial::kPurgeRxClear);
  EXPECT_EQ(fake->Purges()[0] & serial::kPurgeTxClear, 0u);
}

TEST_F(LineTest, FrameLongerThan255BytesEndsTheStep) {
  fake->Receive("\x02" + std::string(300, 'A'));
  EXPECT_THROW(funk->LeseTelegramm(1000), std::length_error);
  EXPECT_EQ(Hex(fake->TakeWritten()), "10");  // neither DLE nor NAK for it
}

TEST_F(LineTest, AnswerTimeFromTheSend) {
  funk->Anfrage.Tel = "A";
  Script({{"10"}, {"10"}});
  ASSERT_EQ(funk->SendeTelegramm(), 0);
  fake->Receive(Bytes("02 41 10 03 52"), 320);
  EXPECT_EQ(funk->LeseTelegramm(1000), 0);
  EXPECT_EQ(funk->Anfrage.AntwortMs, 320u);
  EXPECT_EQ(funk->Anfrage.EmpfTel, Bytes("41 10 03 52"));

  // No time is measured for an answer without a successful send.
  Script({{"15"}});
  ASSERT_EQ(funk->SendeTelegramm(), 2);
  fake->Receive(Bytes("02 41 10 03 52"), 50);
  EXPECT_EQ(funk->LeseTelegramm(1000), 0);
  EXPECT_EQ(funk->Anfrage.AntwortMs, 0u);
}

TEST_F(LineTest, InitFromTheRs232Key) {
  StartLog(2);
  struct Row {
    const char* name;
    const char* rs232;
    int openError;
    int32_t result;
    const char* path;
    uint32_t baud;
    uint8_t parity, byteSize, stopBits;
    const char* logLine;
  } rows[] = {
      {"as the configurator writes it", "COM2,19200,Even,8,1", 0, 0, "/dev/ttyS1", 19200, 2, 8, 0,
       "CF: Init RS232 erfolgreich(COM2,19200,Even,8,1)"},
      {"blanks around the fields", " ttyUSB0 , 9600 , odd , 7 , 2", 0, 0, "/dev/ttyUSB0", 9600, 1, 7, 2,
       "CF: Init RS232 erfolgreich(ttyUSB0,9600,Odd,7,2)"},
      {"1.5 stop bits", "COM1,9600,None,5,1.5", 0, 0, "/dev/ttyS0", 9600, 0, 5, 1,
       "CF: Init RS232 erfolgreich(COM1,9600,None,5,1.5)"},
      {"empty fields take the defaults", "COM1,,,,", 0, 0, "/dev/ttyS0", 9600, 0, 8, 0,
       "CF: Init RS232 erfolgreich(COM1,9600,None,8,1)"},
      // A typo must not change the line: the start is refused and the log names the text.
      {"unknown baud rate", "COM1,abc,None,8,1", 0, kErrRs232Init, "", 0, 0, 0, 0,
       "CF: Init, Exception Zeile 2=RS232: unknown baud rate \"abc\""},
      {"unknown parity", "COM1,9600,Foo,8,1", 0, kErrRs232Init, "", 0, 0, 0, 0,
       "CF: Init, Exception Zeile 3=RS232: unknown parity \"Foo\""},
      {"nine data bits", "COM1,9600,None,9,1", 0, kErrRs232Init, "", 0, 0, 0, 0,
       "CF: Init, Exception Zeile 4=RS232: unknown data bits \"9\""},
      {"three stop bits", "COM1,9600,None,8,3", 0, kErrRs232Init, "", 0, 0, 0, 0,
       "CF: Init, Exception Zeile 5=RS232: unknown stop bits \"3\""},
      {"device cannot be opened", "COM3,9600,None,8,1", EBUSY, kErrRs232Open, "", 0, 0, 0, 0,
       "CF: Init, Exception Zeile 6= (-$21)=Open of RS232 port failed!|(code=-33)"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(Connect(r.rs232, r.openError), r.result);
    EXPECT_NE(LogText().find(r.logLine), std::string::npos) << LogText();
    if (r.result != 0) {
      EXPECT_EQ(funk->DOfs, 0);
      if (r.openError == 0) {
        EXPECT_EQ(fake->OpenCount(), 0) << "opened with settings it refused";
      }
      continue;
    }
    EXPECT_EQ(fake->OpenedPath(), r.path);
    EXPECT_EQ(fake->State().BaudRate, r.baud);
    EXPECT_EQ(fake->State().Parity, r.parity);
    EXPECT_EQ(fake->State().ByteSize, r.byteSize);
    EXPECT_EQ(fake->State().StopBits, r.stopBits);
    EXPECT_TRUE(fake->Dtr());
    EXPECT_TRUE(fake->Rts());
    EXPECT_TRUE(funk->Is3964r);
    EXPECT_EQ(funk->DOfs, 9);
  }
}

TEST_F(LineTest, CreateWithoutPort) {
  StartLog(-1);
  try {
    TCustomFunk failing([] { return std::unique_ptr<serial::TComPort>(); }, clock);
    FAIL() << "no exception";
  } catch (const ECustomFunk& e) {
    EXPECT_EQ(e.Code, kErrRs232Create);
  }
  EXPECT_NE(LogText().find("CF: Create, Exception=-$1E, Error creating RS232 port!|(code=-30)"),
            std::string::npos);

  // No-hardware mode: no port is asked for.
  TCustomFunk demo(TCustomFunk::PortFactory{}, clock);
  EXPECT_EQ(demo.Port(), nullptr);
  EXPECT_EQ(demo.Init(false), kErrRs232Create);
}

TEST(CustomFunkDemo, DemoMarkerMeansNoPort) {
  platform::testing::TempDir dir;
  dir.Write("DEMO", "");
  dir.Write("SAVE_ERR", "");
  support::StartErrorLog(support::LogBuild::Server, dir.Path());
  {
    TCustomFunk funk;
    EXPECT_EQ(funk.Port(), nullptr);
  }
  support::StopErrorLog();
}

}  // namespace
}  // namespace driver
