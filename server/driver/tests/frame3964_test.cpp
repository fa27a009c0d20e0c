#include "server/driver/frame3964.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "server/driver/tests/hex_bytes.h"

namespace driver {
namespace {

using testing::Bytes;
using testing::Hex;

TEST(Frame3964, TelegramToFrame) {
  struct Row {
    const char* name;
    const char* tel;
    const char* frame;
  } rows[] = {
      {"plain bytes", "01 02 03", "01 02 03 10 03 13"},
      {"empty telegram", "", "10 03 13"},
      {"DLE doubled, block check as without the pair", "41 10 42", "41 10 10 42 10 03 10"},
      {"DLEs only", "10 10", "10 10 10 10 10 03 13"},
      {"DLE at the end", "41 10", "41 10 10 10 03 52"},
      {"request in the CRC variant", "61 05 00 00 00 00 01 06 01 2C 00 9C 41",
       "61 05 00 00 00 00 01 06 01 2C 00 9C 41 10 03 80"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(Hex(BuildFrame(Bytes(r.tel))), Hex(Bytes(r.frame)));
  }
}

TEST(Frame3964, CrcVariantOnlyForStationRequests) {
  struct Row {
    const char* name;
    const char* tel;
    const char* after;
  } rows[] = {
      {"station request", "60 05 00 00 00 00 01 06 01 2C 00", "61 05 00 00 00 00 01 06 01 2C 00 9C 41"},
      {"central-modem request (second byte 0)", "60 00 00 00 00 03 84 38 03 84 00",
       "60 00 00 00 00 03 84 38 03 84 00"},
      {"mode message", "2A 57 31", "2A 57 31"},
      {"two bytes only", "60 05", "60 05"},
      {"already in the CRC variant", "61 05 00 00", "61 05 00 00"},
      {"empty", "", ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    std::string tel = Bytes(r.tel);
    EXPECT_EQ(ApplyCrcVariant(tel), std::string(r.tel) != r.after);
    EXPECT_EQ(Hex(tel), Hex(Bytes(r.after)));
  }
}

TEST(Frame3964, RepliesToStxAndFrame) {
  struct Row {
    const char* reply;
    bool lineError;
    int32_t toStx, toFrame;
  } rows[] = {
      {"", false, -1, -2}, {"", true, -1, -2},  {"10", false, 0, 0}, {"10", true, 3, 5},
      {"15", false, 2, 4}, {"15", true, 2, 4}, {"02", false, 1, 5}, {"41", false, 3, 5},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(r.reply) + (r.lineError ? " with line error" : ""));
    EXPECT_EQ(StxReplyResult(Bytes(r.reply), r.lineError), r.toStx);
    EXPECT_EQ(FrameReplyResult(Bytes(r.reply), r.lineError), r.toFrame);
  }
}

TEST(Frame3964, BodyEndsAfterTheBlockCheckByte) {
  struct Row {
    const char* name;
    const char* line;
    const char* body;   // what the body holds when feeding stops
    bool complete;
  } rows[] = {
      {"DLE pair stays a pair", "41 10 10 42 10 03 10 99", "41 10 10 42 10 03 10", true},
      {"empty frame", "10 03 13 99", "10 03 13", true},
      {"byte after a pair starts nothing", "10 10 03 41 10 03 57", "10 10 03 41 10 03 57", true},
      {"pair then DLE ETX", "10 10 10 03 13 99", "10 10 10 03 13", true},
      {"DLE then another byte is kept as a pair", "10 41 10 03 52", "10 10 10 03 52", true},
      {"frame cut short", "41 42 10", "41 42 10", false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    TFrameBody body;
    bool more = true;
    for (char b : Bytes(r.line)) {
      more = body.Add(b);
      if (!more) break;
    }
    EXPECT_EQ(Hex(body.Data()), Hex(Bytes(r.body)));
    EXPECT_EQ(!more, r.complete);
  }
}

TEST(Frame3964, BodyNeverPassesTheBuffer) {
  TFrameBody body;
  for (size_t i = 0; i < kMaxTelegram; ++i) ASSERT_TRUE(body.Add('A'));
  EXPECT_THROW(body.Add('A'), std::length_error);
  EXPECT_EQ(body.Data().size(), kMaxTelegram);

  // A frame that fills the buffer exactly is complete, whatever its values: a doubled DLE is
  // the line's coding of one byte and takes one place.
  for (char fill : {'A', kDLE}) {
    SCOPED_TRACE(int(fill));
    TFrameBody full;
    std::string frame = BuildFrame(std::string(kMaxTelegram - 3, fill));
    for (size_t i = 0; i + 1 < frame.size(); ++i) ASSERT_TRUE(full.Add(frame[i]));
    EXPECT_FALSE(full.Add(frame.back()));
    EXPECT_EQ(CheckFrame(full.Data()).answer, std::string(kMaxTelegram - 3, fill));
  }
  TFrameBody pairs;
  for (size_t i = 0; i < kMaxTelegram; ++i) {
    ASSERT_TRUE(pairs.Add(kDLE));
    ASSERT_TRUE(pairs.Add(kDLE));
  }
  EXPECT_THROW(pairs.Add(kDLE), std::length_error);
}

TEST(Frame3964, ReceivedBodyToResultAndAnswer) {
  struct Row {
    const char* name;
    const char* body;
    int32_t result;
    const char* answer;
  } rows[] = {
      {"nothing after the DLE", "", -2, ""},
      {"one byte", "41", 2, ""},
      {"empty frame is too short", "10 03 13", 2, ""},
      {"no DLE ETX", "41 42 43 44", 3, ""},
      {"DLE STX instead of DLE ETX", "41 10 02 53", 3, ""},
      {"block check byte wrong", "41 10 03 00", 4, ""},
      {"good frame", "41 10 03 52", 0, "41"},
      {"pair made single", "41 10 10 42 10 03 10", 0, "41 10 42"},
      {"pair at the end of the payload", "10 10 10 03 13", 0, "10"},
      {"E0 answer keeps its last bytes", "E0 05 00 00 00 00 01 01 12 34 47 8F 10 03 18", 0,
       "E0 05 00 00 00 00 01 01 12 34 47 8F"},
      {"E1 answer with its CRC", "E1 05 00 00 00 00 01 01 12 34 47 8F 10 03 19", 0,
       "E1 05 00 00 00 00 01 01 12 34"},
      {"E1 answer whose CRC carries a DLE", "E1 05 00 00 00 00 01 01 00 61 8B 10 10 10 03 1D", 0,
       "E1 05 00 00 00 00 01 01 00 61"},
      {"E1 answer with a wrong CRC", "E1 05 00 00 00 00 01 01 12 34 8F 47 10 03 19", 4, ""},
      {"E1 answer too short for a CRC", "E1 10 03 F2", 4, ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    TFrameCheck check = CheckFrame(Bytes(r.body));
    EXPECT_EQ(check.result, r.result);
    EXPECT_EQ(Hex(check.answer), Hex(Bytes(r.answer)));
  }
}

TEST(Frame3964, HexDumpIsCut) {
  EXPECT_EQ(StrToHex(""), "");
  EXPECT_EQ(StrToHex(Bytes("01 AB 10")), "01 AB 10 ");
  std::string dump = StrToHex(std::string(100, '\x7F'));
  EXPECT_EQ(dump.size(), 255u);
  EXPECT_EQ(dump.substr(0, 6), "7F 7F ");
}

}  // namespace
}  // namespace driver
