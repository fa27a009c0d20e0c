#include "platform/com/bstr.h"

#include <cstdlib>
#include <cstring>

namespace platform::com {

void* CoTaskMemAlloc(size_t size) { return std::malloc(size ? size : 1); }
void CoTaskMemFree(void* p) { std::free(p); }

BSTR SysAllocStringLen(const OLECHAR* text, uint32_t len) {
  if (len > (UINT32_MAX - 8) / 2) return nullptr;
  auto* block = static_cast<unsigned char*>(std::malloc(4 + (size_t{len} + 1) * 2));
  if (!block) return nullptr;
  uint32_t bytes = len * 2;
  std::memcpy(block, &bytes, 4);
  auto* s = reinterpret_cast<OLECHAR*>(block + 4);
  if (text) {
    std::memcpy(s, text, size_t{len} * 2);
  } else {
    std::memset(s, 0, size_t{len} * 2);
  }
  s[len] = 0;
  return s;
}

BSTR SysAllocString(const OLECHAR* text) {
  if (!text) return nullptr;
  uint32_t len = 0;
  while (text[len]) ++len;
  return SysAllocStringLen(text, len);
}

void SysFreeString(BSTR s) {
  if (s) std::free(reinterpret_cast<unsigned char*>(s) - 4);
}

uint32_t SysStringByteLen(BSTR s) {
  if (!s) return 0;
  uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<unsigned char*>(s) - 4, 4);
  return bytes;
}

uint32_t SysStringLen(BSTR s) { return SysStringByteLen(s) / 2; }

std::u16string Utf8ToUtf16(std::string_view in) {
  std::u16string out;
  out.reserve(in.size());
  size_t i = 0;
  while (i < in.size()) {
    auto c = static_cast<unsigned char>(in[i]);
    uint32_t cp;
    size_t n;
    if (c < 0x80) {
      cp = c, n = 1;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F, n = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F, n = 3;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07, n = 4;
    } else {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    bool ok = i + n <= in.size();
    for (size_t k = 1; ok && k < n; ++k) {
      auto cc = static_cast<unsigned char>(in[i + k]);
      if ((cc & 0xC0) != 0x80) ok = false;
      cp = cp << 6 | (cc & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not text.
    static constexpr uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (!ok || cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += n;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view in) {
  std::string out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    uint32_t cp = in[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | cp >> 6));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | cp >> 12));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | cp >> 18));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

BSTR Utf8ToBstr(std::string_view utf8) {
  std::u16string w = Utf8ToUtf16(utf8);
  return SysAllocStringLen(w.data(), static_cast<uint32_t>(w.size()));
}

std::string BstrToUtf8(BSTR s) {
  if (!s) return {};
  return Utf16ToUtf8(std::u16string_view(s, SysStringLen(s)));
}

}  // namespace platform::com
