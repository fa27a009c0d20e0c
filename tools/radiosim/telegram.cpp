#include "tools/radiosim/telegram.h"

#include <cstdio>

#include "tools/radiosim/checksums.h"

namespace radiosim {

namespace {

constexpr size_t kHeader = 11;  // type, path, Get register and count, Put register and count

uint16_t Word(std::string_view s, size_t at) { return uint16_t(uint8_t(s[at]) << 8 | uint8_t(s[at + 1])); }

void PutWord(std::string& s, uint16_t w) {
  s += char(w >> 8);
  s += char(w & 0xFF);
}

std::string Header(const Request& r) {
  std::string a;
  a += char(r.crc ? 0xE1 : 0xE0);
  a += '\0';
  for (int i = 0; i < 3; ++i) a += char(r.path[size_t(i)]);
  return a;
}

std::string WithCrc(const Request& r, std::string a) {
  if (!r.crc) return a;
  const uint16_t crc = Crc16(a);
  a += char(crc & 0xFF);
  a += char(crc >> 8);
  return a;
}

}  // namespace

RegRange RangeOf(uint16_t reg, int count) {
  if (reg >= kRegBase[kParams]) return {kParams, reg - kRegBase[kParams], count};
  if (reg >= kRegBase[kOutputs]) return {kOutputs, reg - kRegBase[kOutputs], count};
  if (reg >= 1) return {kInputs, reg - kRegBase[kInputs], count};
  return {kNone, 0, count};
}

int Request::Hops() const {
  int n = 0;
  while (n < 4 && path[size_t(n)] != 0) ++n;
  return n > 1 ? n : 1;
}

std::optional<Request> ParseRequest(std::string_view tel, ParseError* why) {
  auto fail = [&](ParseError e) -> std::optional<Request> {
    if (why) *why = e;
    return std::nullopt;
  };
  if (why) *why = ParseError::None;
  if (tel.empty() || (uint8_t(tel[0]) != kRequest && uint8_t(tel[0]) != kRequestCrc))
    return fail(ParseError::NotARequest);
  Request r;
  r.crc = uint8_t(tel[0]) == kRequestCrc;
  if (tel.size() < kHeader) return fail(ParseError::Length);
  for (size_t i = 0; i < 4; ++i) r.path[i] = uint8_t(tel[1 + i]);
  r.getReg = Word(tel, 5);
  r.getCount = uint8_t(tel[7]);
  r.putReg = Word(tel, 8);
  r.putCount = uint8_t(tel[10]);
  const size_t size = kHeader + 2 * size_t(r.putCount) + (r.crc ? 2 : 0);
  if (tel.size() != size) return fail(ParseError::Length);
  if (r.crc) {
    const uint16_t crc = Crc16(tel.substr(0, size - 2));
    if (uint8_t(tel[size - 2]) != (crc & 0xFF) || uint8_t(tel[size - 1]) != (crc >> 8)) return fail(ParseError::Crc);
  }
  for (size_t i = 0; i < r.putCount; ++i) r.putData.push_back(Word(tel, kHeader + 2 * i));
  return r;
}

std::string EncodeAnswer(const Request& r, const std::vector<uint16_t>& words) {
  std::string a = Header(r);
  PutWord(a, r.getReg);
  a += char(r.getCount);
  for (uint16_t w : words) PutWord(a, w);
  return WithCrc(r, std::move(a));
}

std::string EncodeEmptyAnswer(const Request& r) { return WithCrc(r, Header(r)); }

std::string SlotMessage(int slot, bool open) {
  return std::string("*Z") + char('0' + slot % 10) + (open ? '1' : '0');
}

std::string VersionMessage(int version, int id) {
  char text[32];
  std::snprintf(text, sizeof text, "*V %02d.%02d %04d", version / 100 % 100, version % 100, id % 10000);
  return text;
}

}  // namespace radiosim
