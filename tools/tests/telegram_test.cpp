#include "tools/radiosim/telegram.h"

#include <gtest/gtest.h>

#include "tools/radiosim/checksums.h"
#include "tools/tests/bytes.h"

namespace radiosim {
namespace {

using testing::Hex;
using testing::ToHex;

TEST(Checksums, Crc16KnownValues) {
  struct Row {
    const char* text;
    uint16_t crc;
  } rows[] = {{"", 0xFFFF}, {"123456789", 0x4B37}, {"abc", 0x5749}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(Crc16(r.text), r.crc);
  }
}

TEST(Telegram, RegisterNumbersByClass) {
  struct Row {
    uint16_t reg;
    int cls, start;
  } rows[] = {
      {0, kNone, 0},     {1, kInputs, -1},   {2, kInputs, 0},    {299, kInputs, 297},
      {300, kOutputs, 0}, {899, kOutputs, 599}, {900, kParams, 0}, {916, kParams, 16},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.reg);
    const RegRange range = RangeOf(r.reg, 3);
    EXPECT_EQ(range.cls, r.cls);
    EXPECT_EQ(range.start, r.start);
    EXPECT_EQ(range.count, 3);
  }
}

TEST(Telegram, ParseRequests) {
  struct Row {
    const char* name;
    const char* tel;
    ParseError error;
    bool crc;
    std::array<uint8_t, 4> path;
    uint16_t getReg;
    int getCount;
    uint16_t putReg;
    std::vector<uint16_t> put;
  } rows[] = {
      {"inputs read, outputs written", "60 0C 00 00 00 00 01 04 01 2C 02 12 34 00 10", ParseError::None, false,
       {12, 0, 0, 0}, 1, 4, 300, {0x1234, 0x0010}},
      {"central-modem query without Put", "60 00 00 00 00 03 84 38 03 84 00", ParseError::None, false, {}, 900, 56,
       900, {}},
      {"CRC variant behind two relays", "61 03 0C 00 00 00 01 03 01 2C 00 29 92", ParseError::None, true,
       {3, 12, 0, 0}, 1, 3, 300, {}},
      {"CRC that does not match", "61 03 0C 00 00 00 01 03 01 2C 00 29 93", ParseError::Crc, false, {}, 0, 0, 0, {}},
      {"CRC variant without its CRC", "61 03 0C 00 00 00 01 03 01 2C 00", ParseError::Length, false, {}, 0, 0, 0, {}},
      {"Put data missing", "60 0C 00 00 00 00 01 04 01 2C 02 12 34", ParseError::Length, false, {}, 0, 0, 0, {}},
      {"Put data too long", "60 0C 00 00 00 00 01 04 01 2C 00 12 34", ParseError::Length, false, {}, 0, 0, 0, {}},
      {"header cut short", "60 0C 00 00 00 00 01 04 01 2C", ParseError::Length, false, {}, 0, 0, 0, {}},
      {"mode message", "2A 57 31", ParseError::NotARequest, false, {}, 0, 0, 0, {}},
      {"empty", "", ParseError::NotARequest, false, {}, 0, 0, 0, {}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ParseError why = ParseError::None;
    const auto req = ParseRequest(Hex(r.tel), &why);
    EXPECT_EQ(why, r.error);
    ASSERT_EQ(req.has_value(), r.error == ParseError::None);
    if (!req) continue;
    EXPECT_EQ(req->crc, r.crc);
    EXPECT_EQ(req->path, r.path);
    EXPECT_EQ(req->getReg, r.getReg);
    EXPECT_EQ(req->getCount, r.getCount);
    EXPECT_EQ(req->putReg, r.putReg);
    EXPECT_EQ(req->putData, r.put);
  }
}

TEST(Telegram, Hops) {
  struct Row {
    std::array<uint8_t, 4> path;
    int hops;
  } rows[] = {{{0, 0, 0, 0}, 1}, {{12, 0, 0, 0}, 1}, {{3, 12, 0, 0}, 2}, {{5, 7, 40, 0}, 3}};
  for (const Row& r : rows) {
    SCOPED_TRACE(int(r.path[0]));
    Request q;
    q.path = r.path;
    EXPECT_EQ(q.Hops(), r.hops);
  }
}

TEST(Telegram, Answers) {
  struct Row {
    const char* name;
    const char* request;
    std::vector<uint16_t> words;
    bool empty;
    const char* answer;
  } rows[] = {
      {"data answer: header, Get register and count, words high byte first",
       "60 0C 00 00 00 00 01 03 01 2C 00", {0, 0xABCD, 0x1000}, false,
       "E0 00 0C 00 00 00 01 03 00 00 AB CD 10 00"},
      {"the fourth path byte is not echoed", "60 05 07 28 00 03 84 01 03 84 00", {7}, false,
       "E0 00 05 07 28 03 84 01 00 07"},
      {"CRC variant ends with the CRC, low byte first", "61 03 0C 00 00 00 01 03 01 2C 00 29 92",
       {0, 0xABCD, 0x1000}, false, "E1 00 03 0C 00 00 01 03 00 00 AB CD 10 00 3F 63"},
      {"empty answer", "60 0C 00 00 00 00 01 03 01 2C 00", {}, true, "E0 00 0C 00 00"},
      {"empty answer of the CRC variant", "61 03 0C 00 00 00 01 03 01 2C 00 29 92", {}, true,
       "E1 00 03 0C 00 6D 16"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const auto req = ParseRequest(Hex(r.request));
    ASSERT_TRUE(req);
    EXPECT_EQ(ToHex(r.empty ? EncodeEmptyAnswer(*req) : EncodeAnswer(*req, r.words)), r.answer);
  }
}

TEST(Telegram, CentralModemMessages) {
  EXPECT_EQ(SlotMessage(1, true), "*Z11");
  EXPECT_EQ(SlotMessage(1, false), "*Z10");
  EXPECT_EQ(SlotMessage(0, true), "*Z01");
  // With "." and " " removed ten characters remain: "*V", four digits of version, four of id.
  EXPECT_EQ(VersionMessage(107, 42), "*V 01.07 0042");
}

}  // namespace
}  // namespace radiosim
