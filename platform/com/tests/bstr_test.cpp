#include "platform/com/bstr.h"

#include <gtest/gtest.h>

namespace platform::com {
namespace {

using namespace std::string_literals;

TEST(BstrTest, CarriesLengthAndEmbeddedZeros) {
  const char16_t text[] = {u'a', 0, u'b'};
  BSTR s = SysAllocStringLen(text, 3);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 3u);
  EXPECT_EQ(SysStringByteLen(s), 6u);
  EXPECT_EQ(s[3], 0);
  EXPECT_EQ(BstrToUtf8(s), "a\0b"s);
  SysFreeString(s);
  SysFreeString(nullptr);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
}

struct Utf8Row {
  const char* label;
  std::string utf8;
  std::u16string utf16;
};

TEST(BstrTest, ConvertsUtf8AndUtf16) {
  const Utf8Row rows[] = {
      {"ascii", "Station 1", u"Station 1"},
      {"umlaut", "K\xC3\xBChler", u"K\u00FChler"},
      {"outside the basic plane", "\xF0\x9F\x99\x82", u"\U0001F642"},
      {"stray continuation byte", "a\x80z", u"a\uFFFDz"},
      {"truncated sequence", "a\xE2\x82", u"a\uFFFD\uFFFD"},
      {"overlong slash", "\xC0\xAF", u"\uFFFD\uFFFD"},
      {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
  };
  for (const Utf8Row& row : rows) {
    SCOPED_TRACE(row.label);
    EXPECT_EQ(Utf8ToUtf16(row.utf8), row.utf16);
  }
  EXPECT_EQ(Utf16ToUtf8(u"\U0001F642 K\u00FChler"), "\xF0\x9F\x99\x82 K\xC3\xBChler");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");  // lone surrogate
}

}  // namespace
}  // namespace platform::com
