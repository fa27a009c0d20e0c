// BSTR and task memory, for the places where a binary interface needs them (the server
// library's exports). A BSTR points at UTF-16 text with a terminating zero; the 32-bit byte
// count of the text sits just before it. Both live in one malloc block, and task memory is
// malloc as well, so a block may be freed on the other side of a library boundary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/com/raw_variant.h"

namespace platform::com {

void* CoTaskMemAlloc(size_t size);
void CoTaskMemFree(void* p);

BSTR SysAllocString(const OLECHAR* text);                  // nullptr stays nullptr
BSTR SysAllocStringLen(const OLECHAR* text, uint32_t len);  // text may be nullptr: zeros
void SysFreeString(BSTR s);                                 // nullptr is allowed
uint32_t SysStringLen(BSTR s);                              // characters; 0 for nullptr
uint32_t SysStringByteLen(BSTR s);

// UTF-8 <-> UTF-16. Invalid sequences become U+FFFD, so text never gets lost silently.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

BSTR Utf8ToBstr(std::string_view utf8);
std::string BstrToUtf8(BSTR s);

}  // namespace platform::com
