// Formatting of the format texts that come from language files ("%s", "%d", "%3.3d", "%x",
// "%1.*f", "%.2f"). A language text is data, so it never reaches printf: a directive that is
// unknown, lacks its argument or gets one of the wrong kind is copied as it stands, and the
// numbers use "." whatever the program's locale. "%x" gives upper-case digits.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace platform {

class FormatArg {
 public:
  FormatArg(const char* s) : value_(std::string(s)) {}
  FormatArg(std::string s) : value_(std::move(s)) {}
  FormatArg(std::string_view s) : value_(std::string(s)) {}
  FormatArg(int v) : value_(int64_t(v)) {}
  FormatArg(long v) : value_(int64_t(v)) {}
  FormatArg(long long v) : value_(int64_t(v)) {}
  FormatArg(unsigned v) : value_(int64_t(v)) {}
  FormatArg(double v) : value_(v) {}

  const std::variant<std::string, int64_t, double>& Value() const { return value_; }

 private:
  std::variant<std::string, int64_t, double> value_;
};

std::string FormatText(std::string_view format, std::initializer_list<FormatArg> args);

}  // namespace platform
