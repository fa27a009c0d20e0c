// Windows-1252, the system's 8-bit code page. Values travel through the programs as
// Windows-1252 bytes and become UTF-8 or UTF-16 only at a window or at the OPC boundary.
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::string Cp1252ToUtf8(std::string_view text);
// Characters without a Windows-1252 form (and broken UTF-8) become replacement.
std::string Utf8ToCp1252(std::string_view text, char replacement = '?');
// Well-formed UTF-8 throughout (plain ASCII is).
bool IsUtf8(std::string_view text);
std::u16string Cp1252ToUtf16(std::string_view text);
std::string Utf16ToCp1252(std::u16string_view text, char replacement = '?');

// Upper case of one Windows-1252 character (letters with accents included).
char UpperCase1252(char c);
std::string UpperCase1252(std::string_view text);

}  // namespace platform
