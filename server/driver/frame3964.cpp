#include "server/driver/frame3964.h"

#include <stdexcept>

#include "server/driver/utilities.h"
#include "support/log_text.h"

namespace driver {

uint8_t BlockCheck(std::string_view bytes) {
  uint8_t x = 0;
  for (unsigned char b : bytes) x ^= b;
  return x;
}

std::string BuildFrame(std::string_view tel) {
  std::string frame;
  frame.reserve(tel.size() * 2 + 3);
  for (char b : tel) {
    frame += b;
    if (b == kDLE) frame += kDLE;
  }
  frame += kDLE;
  frame += kETX;
  frame += char(BlockCheck(frame));
  return frame;
}

bool ApplyCrcVariant(std::string& tel) {
  if (tel.size() <= 2 || uint8_t(tel[0]) != 0x60 || tel[1] == 0) return false;
  tel[0] = char(0x61);
  uint16_t crc = CalcCRC16(tel);
  tel += char(crc & 0xFF);
  tel += char(crc >> 8);
  return true;
}

int32_t StxReplyResult(std::string_view reply, bool lineError) {
  if (reply.empty()) return -1;
  if (reply[0] == kDLE && !lineError) return 0;
  if (reply[0] == kNAK) return 2;
  if (reply[0] == kSTX) return 1;
  return 3;
}

int32_t FrameReplyResult(std::string_view reply, bool lineError) {
  if (reply.empty()) return -2;
  if (reply[0] == kDLE && !lineError) return 0;
  if (reply[0] == kNAK) return 4;
  return 5;
}

bool TFrameBody::Add(char b) {
  const bool pairEnd = after_dle_ && b != kETX;
  if (!pairEnd && places_ >= max_len_) throw std::length_error("3964R: frame longer than 255 bytes");
  if (!pairEnd) ++places_;
  if (bcc_next_) {
    data_ += b;
    return false;
  }
  if (after_dle_) {
    after_dle_ = false;
    if (b == kETX) {
      data_ += kETX;
      bcc_next_ = true;
    } else {
      // The second byte of a pair; whatever came, the pair stays DLE DLE and the block
      // check byte tells a damaged one.
      data_ += kDLE;
    }
    return true;
  }
  data_ += b;
  after_dle_ = b == kDLE;
  return true;
}

TFrameCheck CheckFrame(std::string_view body) {
  TFrameCheck check;
  const size_t n = body.size();
  if (n == 0) {
    check.result = -2;
  } else if (n < 4) {
    check.result = 2;
  } else if (body[n - 3] != kDLE || body[n - 2] != kETX) {
    check.result = 3;
  } else if (BlockCheck(body.substr(0, n - 1)) != uint8_t(body[n - 1])) {
    check.result = 4;
  }
  if (check.result != 0) return check;

  std::string s(body);
  // Only the payload is undoubled, not the closing DLE ETX.
  for (size_t p = 0; s.size() >= 4 && p < s.size() - 4; ++p)
    if (s[p] == kDLE && s[p + 1] == kDLE) s.erase(p + 1, 1);
  const size_t len = s.size();
  if (uint8_t(s[0]) != 0xE1) {
    check.answer = s.substr(0, len - 3);
    return check;
  }
  // An answer to a CRC request: a CRC that does not match is a damaged telegram, so none of
  // its data may reach the register image.
  if (len < 5) {
    check.result = 4;
    return check;
  }
  const uint16_t crc = CalcCRC16(std::string_view(s).substr(0, len - 5));
  if (uint8_t(s[len - 5]) != (crc & 0xFF) || uint8_t(s[len - 4]) != (crc >> 8)) {
    check.result = 4;
    return check;
  }
  check.answer = s.substr(0, len - 5);
  return check;
}

std::string StrToHex(std::string_view s) {
  std::string hex;
  for (unsigned char b : s) {
    if (hex.size() >= 255) break;
    hex += support::Hex2(b);
    hex += ' ';
  }
  if (hex.size() > 255) hex.resize(255);
  return hex;
}

}  // namespace driver
