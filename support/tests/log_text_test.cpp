#include "support/log_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace support {
namespace {

TEST(LogText, NumberTexts) {
  struct Row {
    std::string got, want;
  } rows[] = {
      {IntStr2(5), "05"},          {IntStr2(123), "123"},        {IntStr2(-5), "-5"},
      {IntStr(-2147483647), "-214748364"},  // longer results lose their end
      {IntStr(42), "42"},          {Hex2(0x1AB), "AB"},          {Hex4(0xABCDE), "BCDE"},
      {Hex6(0x12345678), "345678"}, {Hex2(0), "00"},             {RealStr(3, 1.5), "1.500"},
      {RealStr(0, 2.4), "2"},      {RealStr(2, -0.126), "-0.13"}, {BoolToText(true), "TRUE "},
      {BoolToText(false), "FALSE"},
  };
  for (const auto& r : rows) EXPECT_EQ(r.got, r.want);
}

TEST(LogText, RealStrOfWhatIsNoNumber) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Row {
    double v;
    const char* want;
  } rows[] = {{nan, "NAN"}, {std::copysign(nan, -1.0), "NAN"}, {inf, "INF"}, {-inf, "-INF"}};
  for (const auto& r : rows) EXPECT_EQ(RealStr(3, r.v), r.want);
}

TEST(LogText, RealStrIsCutAtTwentyCharacters) { EXPECT_EQ(RealStr(2, 1e30).size(), 20u); }

TEST(LogText, HexToInt) {
  struct Row {
    const char* text;
    int32_t want;
  } rows[] = {
      {"1f", 31}, {"G1", 1}, {"", 0}, {"7FFFFFFF", 0x7FFFFFFF}, {"00000000FF", 255},
      {"0000000001F", 1},  // only the first ten characters count
      {"ff ff", 0xFF0FF},  // a blank counts as digit 0
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(HexToInt(r.text), r.want);
  }
}

TEST(LogText, HexToIntOverflows) {
  for (const char* text : {"80000000", "FFFFFFFF", "100000000", "123456789A"}) {
    SCOPED_TRACE(text);
    EXPECT_THROW(HexToInt(text), EIntOverflow);
  }
}

}  // namespace
}  // namespace support
