#include "platform/cp1252.h"

#include <cstdint>

namespace platform {

namespace {

// Code points of 0x80..0x9F; 0 marks the five bytes that Windows-1252 leaves undefined,
// which map to the C1 control of the same value so that every byte survives a round trip.
constexpr char16_t kHigh[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char16_t ToUnicode(unsigned char b) {
  if (b >= 0x80 && b < 0xA0 && kHigh[b - 0x80]) return kHigh[b - 0x80];
  return b;
}

// -1 when the code point has no Windows-1252 form.
int FromUnicode(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return int(cp);
  for (int i = 0; i < 32; ++i) {
    if (kHigh[i] == cp) return 0x80 + i;
    if (kHigh[i] == 0 && cp == char32_t(0x80 + i)) return 0x80 + i;
  }
  return -1;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::string Cp1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char b : text) AppendUtf8(out, ToUnicode(b));
  return out;
}

namespace {

// The length of the well-formed UTF-8 sequence at text[i], with its code point; 0 for none.
size_t DecodeUtf8(std::string_view text, size_t i, char32_t& cp) {
  unsigned char b = text[i];
  size_t len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
  if (len == 0 || i + len > text.size()) return 0;
  cp = len == 1 ? b : b & (0x7F >> len);
  for (size_t k = 1; k < len; ++k) {
    unsigned char c = text[i + k];
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  // An overlong form would smuggle in a byte its shortest form names ("\xC0\x80" as NUL).
  constexpr char32_t kShortest[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kShortest[len] || cp > 0x10FFFF) return 0;
  return len;
}

}  // namespace

std::string Utf8ToCp1252(std::string_view text, char replacement) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    char32_t cp = 0;
    const size_t len = DecodeUtf8(text, i, cp);
    if (len == 0) {
      out += replacement;
      ++i;
      continue;
    }
    int v = FromUnicode(cp);
    out += v < 0 ? replacement : char(v);
    i += len;
  }
  return out;
}

bool IsUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    const size_t len = DecodeUtf8(text, i, cp);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

std::u16string Cp1252ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (unsigned char b : text) out += ToUnicode(b);
  return out;
}

std::string Utf16ToCp1252(std::u16string_view text, char replacement) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    // A surrogate pair has no 1252 form; a lone surrogate must not swallow the unit after it.
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      ++i;
    }
    int v = (cp >= 0xD800 && cp < 0xE000) ? -1 : FromUnicode(cp);
    out += v < 0 ? replacement : char(v);
  }
  return out;
}

char UpperCase1252(char c) {
  unsigned char b = c;
  if (b >= 'a' && b <= 'z') return char(b - 32);
  if (b >= 0xE0 && b <= 0xFE && b != 0xF7) return char(b - 32);
  switch (b) {
    case 0x9A: return char(0x8A);  // š
    case 0x9C: return char(0x8C);  // œ
    case 0x9E: return char(0x8E);  // ž
    case 0xFF: return char(0x9F);  // ÿ
    default: return c;
  }
}

std::string UpperCase1252(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = UpperCase1252(c);
  return out;
}

}  // namespace platform
