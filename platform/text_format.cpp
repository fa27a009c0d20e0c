#include "platform/text_format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

namespace platform {

namespace {

// Width and precision from a text are capped so that a stray "%999999999d" costs nothing.
constexpr int kMaxWidth = 1000;

struct Directive {
  bool left = false, plus = false, space = false, zero = false;
  int width = 0;
  int precision = -1;
  char conversion = 0;
};

std::string Pad(std::string body, const Directive& dir, bool numeric) {
  if (int(body.size()) >= dir.width) return body;
  size_t fill = size_t(dir.width) - body.size();
  if (dir.left) return body + std::string(fill, ' ');
  if (numeric && dir.zero) {
    size_t at = (!body.empty() && (body[0] == '-' || body[0] == '+' || body[0] == ' ')) ? 1 : 0;
    return body.insert(at, fill, '0');
  }
  return std::string(fill, ' ') + body;
}

std::string Sign(bool negative, const Directive& dir) {
  return negative ? "-" : dir.plus ? "+" : dir.space ? " " : "";
}

std::string Integer(int64_t v, const Directive& dir) {
  bool negative = v < 0;
  uint64_t magnitude = negative ? uint64_t(0) - uint64_t(v) : uint64_t(v);
  std::string digits = std::to_string(magnitude);
  if (dir.precision >= 0 && int(digits.size()) < dir.precision)
    digits.insert(0, size_t(dir.precision) - digits.size(), '0');
  Directive s = dir;
  if (dir.precision >= 0) s.zero = false;
  return Pad(Sign(negative, dir) + digits, s, true);
}

std::string Hex(int64_t v, const Directive& dir) {
  // A negative value shows its two's complement in the width it fits.
  uint64_t bits = (v < 0 && v >= INT32_MIN) ? uint64_t(uint32_t(int32_t(v))) : uint64_t(v);
  char buf[24];
  auto end = std::to_chars(buf, buf + sizeof buf, bits, 16).ptr;
  std::string digits(buf, end);
  std::transform(digits.begin(), digits.end(), digits.begin(), [](char c) { return c >= 'a' ? char(c - 32) : c; });
  if (dir.precision >= 0 && int(digits.size()) < dir.precision)
    digits.insert(0, size_t(dir.precision) - digits.size(), '0');
  Directive s = dir;
  if (dir.precision >= 0) s.zero = false;
  return Pad(digits, s, true);
}

std::string Fixed(double v, const Directive& dir) {
  int precision = dir.precision < 0 ? 6 : dir.precision;
  if (!std::isfinite(v)) return Pad(std::isnan(v) ? "NAN" : (v < 0 ? "-INF" : "INF"), dir, false);
  std::vector<char> buf(size_t(precision) + 400);
  auto end = std::to_chars(buf.data(), buf.data() + buf.size(), std::fabs(v), std::chars_format::fixed, precision).ptr;
  return Pad(Sign(std::signbit(v) && v != 0, dir) + std::string(buf.data(), end), dir, true);
}

std::string Shortest(double v) {
  char buf[64];
  auto end = std::to_chars(buf, buf + sizeof buf, v).ptr;
  return std::string(buf, end);
}

}  // namespace

std::string FormatText(std::string_view format, std::initializer_list<FormatArg> args) {
  std::string out;
  auto next = args.begin();
  size_t i = 0;
  while (i < format.size()) {
    char c = format[i];
    if (c != '%') {
      out += c;
      ++i;
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == '%') {
      out += '%';
      i += 2;
      continue;
    }
    const size_t start = i++;
    auto first_arg = next;
    Directive dir;
    bool ok = true;
    for (; i < format.size(); ++i) {
      char f = format[i];
      if (f == '-') dir.left = true;
      else if (f == '+') dir.plus = true;
      else if (f == ' ') dir.space = true;
      else if (f == '0') dir.zero = true;
      else break;
    }
    auto number = [&](int& target) {
      if (i < format.size() && format[i] == '*') {
        ++i;
        if (next == args.end() || !std::holds_alternative<int64_t>(next->Value())) {
          ok = false;
          return;
        }
        int64_t v = std::get<int64_t>((next++)->Value());
        target = int(std::clamp<int64_t>(v, -1, kMaxWidth));
        return;
      }
      int v = 0;
      bool any = false;
      while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
        v = std::min(v * 10 + (format[i++] - '0'), kMaxWidth);
        any = true;
      }
      if (any) target = v;
    };
    number(dir.width);
    if (dir.width < 0) dir.width = 0;
    if (ok && i < format.size() && format[i] == '.') {
      ++i;
      dir.precision = 0;
      number(dir.precision);
    }
    if (i < format.size()) dir.conversion = format[i++];
    std::string text;
    if (ok && next != args.end()) {
      const auto& v = next->Value();
      switch (dir.conversion) {
        case 'd':
          ok = std::holds_alternative<int64_t>(v);
          if (ok) text = Integer(std::get<int64_t>(v), dir);
          break;
        case 'x':
          ok = std::holds_alternative<int64_t>(v);
          if (ok) text = Hex(std::get<int64_t>(v), dir);
          break;
        case 'f':
          ok = !std::holds_alternative<std::string>(v);
          if (ok)
            text = Fixed(std::holds_alternative<double>(v) ? std::get<double>(v) : double(std::get<int64_t>(v)), dir);
          break;
        case 's': {
          std::string s = std::holds_alternative<std::string>(v) ? std::get<std::string>(v)
                          : std::holds_alternative<int64_t>(v) ? std::to_string(std::get<int64_t>(v))
                                                               : Shortest(std::get<double>(v));
          if (dir.precision >= 0 && size_t(dir.precision) < s.size()) s.resize(size_t(dir.precision));
          text = Pad(s, dir, false);
          break;
        }
        default:
          ok = false;
      }
    } else {
      ok = false;
    }
    if (ok) {
      ++next;
      out += text;
    } else {
      next = first_arg;  // a broken directive uses up no argument
      out.append(format.substr(start, i - start));
    }
  }
  return out;
}

}  // namespace platform
