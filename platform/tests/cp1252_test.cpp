#include "platform/cp1252.h"

#include <gtest/gtest.h>

#include <string>

namespace platform {
namespace {

using namespace std::string_literals;

struct CodeRow {
  const char* label;
  unsigned char byte;
  std::string utf8;
  char16_t utf16;
};

const CodeRow kCodeRows[] = {
    {"NUL", 0x00, "\0"s, 0x0000},
    {"ASCII A", 0x41, "A", 0x0041},
    {"DEL", 0x7F, "\x7f", 0x007F},
    {"euro 0x80", 0x80, "\xE2\x82\xAC", 0x20AC},
    {"undefined 0x81", 0x81, "\xC2\x81", 0x0081},
    {"low quote 0x84", 0x84, "\xE2\x80\x9E", 0x201E},
    {"S caron 0x8A", 0x8A, "\xC5\xA0", 0x0160},
    {"undefined 0x8D", 0x8D, "\xC2\x8D", 0x008D},
    {"undefined 0x8F", 0x8F, "\xC2\x8F", 0x008F},
    {"undefined 0x90", 0x90, "\xC2\x90", 0x0090},
    {"trade mark 0x99", 0x99, "\xE2\x84\xA2", 0x2122},
    {"undefined 0x9D", 0x9D, "\xC2\x9D", 0x009D},
    {"Y diaeresis 0x9F", 0x9F, "\xC5\xB8", 0x0178},
    {"no-break space 0xA0", 0xA0, "\xC2\xA0", 0x00A0},
    {"a umlaut 0xE4", 0xE4, "\xC3\xA4", 0x00E4},
    {"y diaeresis 0xFF", 0xFF, "\xC3\xBF", 0x00FF},
};

TEST(Cp1252, BytesConvertBothWays) {
  for (const auto& row : kCodeRows) {
    SCOPED_TRACE(row.label);
    std::string byte(1, char(row.byte));
    EXPECT_EQ(Cp1252ToUtf8(byte), row.utf8);
    EXPECT_EQ(Utf8ToCp1252(row.utf8), byte);
    EXPECT_EQ(Cp1252ToUtf16(byte), std::u16string(1, row.utf16));
    EXPECT_EQ(Utf16ToCp1252(std::u16string(1, row.utf16)), byte);
  }
}

TEST(Cp1252, EveryByteSurvivesARoundTrip) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += char(b);
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all)), all);
  EXPECT_EQ(Utf16ToCp1252(Cp1252ToUtf16(all)), all);
}

TEST(Cp1252, BrokenOrForeignUtf8BecomesReplacement) {
  struct Row {
    const char* label;
    std::string utf8;
    std::string expected;
  };
  const Row rows[] = {
      {"lone continuation byte", "a\x80z", "a?z"},
      {"cut off at the end", "a\xC3", "a?"},
      {"cut off three-byte form", "\xE2\x82", "??"},
      {"lead byte then ASCII", "\xC3" "A", "?A"},
      {"invalid lead byte", "\xFF\xFE", "??"},
      {"overlong NUL", "\xC0\x80", "??"},
      {"overlong A", "\xC1\x81", "??"},
      {"overlong slash", "\xE0\x80\xAF", "???"},
      {"overlong four-byte", "\xF0\x82\x82\xAC", "????"},
      {"encoded surrogate", "\xED\xA0\x80", "?"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", "????"},
      {"Greek Omega has no 1252 form", "\xCE\xA9", "?"},
      {"emoji is one replacement", "x\xF0\x9F\x98\x80y", "x?y"},
      {"C1 control of a defined byte", "\xC2\x80", "?"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    EXPECT_EQ(Utf8ToCp1252(row.utf8), row.expected);
  }
  EXPECT_EQ(Utf8ToCp1252("\xCE\xA9", '_'), "_");
}

TEST(Cp1252, ForeignUtf16BecomesReplacement) {
  struct Row {
    const char* label;
    std::u16string utf16;
    std::string expected;
  };
  const Row rows[] = {
      {"surrogate pair is one replacement", u"x\U0001F600y", "x?y"},
      {"lone high surrogate keeps the next unit", std::u16string{0xD800, u'A', u'B'}, "?AB"},
      {"lone high surrogate at the end", std::u16string{u'A', 0xD800}, "A?"},
      {"lone low surrogate", std::u16string{0xDC00, u'A'}, "?A"},
      {"Greek Omega", u"\u03A9", "?"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    EXPECT_EQ(Utf16ToCp1252(row.utf16), row.expected);
  }
}

TEST(Cp1252, UpperCase) {
  struct Row {
    const char* label;
    unsigned char in, out;
  };
  const Row rows[] = {
      {"a", 'a', 'A'},           {"z", 'z', 'Z'},           {"Z stays", 'Z', 'Z'},
      {"digit stays", '1', '1'}, {"a grave", 0xE0, 0xC0},   {"a umlaut", 0xE4, 0xC4},
      {"thorn", 0xFE, 0xDE},     {"y diaeresis", 0xFF, 0x9F}, {"s caron", 0x9A, 0x8A},
      {"oe", 0x9C, 0x8C},        {"z caron", 0x9E, 0x8E},   {"sharp s stays", 0xDF, 0xDF},
      {"division stays", 0xF7, 0xF7}, {"micro stays", 0xB5, 0xB5}, {"A umlaut stays", 0xC4, 0xC4},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    EXPECT_EQ(static_cast<unsigned char>(UpperCase1252(char(row.in))), row.out);
  }
  EXPECT_EQ(UpperCase1252("Stra\xdf" "e \xe4\xff\xf7"), "STRA\xdf" "E \xc4\x9f\xf7");
}

}  // namespace
}  // namespace platform
