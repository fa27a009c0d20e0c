// The framing of the 3964R line procedure, free of I/O: the frame of a telegram, the CRC
// variant of station requests, the partner's replies, a frame body read byte by byte and the
// checks of a received body. TCustomFunk moves these bytes over the serial port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace driver {

inline constexpr char kSTX = 0x02;
inline constexpr char kETX = 0x03;
inline constexpr char kDLE = 0x10;
inline constexpr char kNAK = 0x15;
// A telegram, an answer and a received frame body hold at most this many bytes.
inline constexpr size_t kMaxTelegram = 255;

// XOR of all bytes.
uint8_t BlockCheck(std::string_view bytes);

// The frame that follows the STX/DLE handshake: every DLE of the telegram sent twice, then
// DLE, ETX and the block check byte over all of it (a doubled DLE cancels out).
std::string BuildFrame(std::string_view tel);

// CRC variant of a station request: when the telegram is longer than 2 bytes, starts with
// 0x60 and its second byte is not 0, the first byte becomes 0x61 and the CRC-16 over the
// changed telegram is appended, low byte first. Returns whether the telegram changed.
bool ApplyCrcVariant(std::string& tel);

// Result of the partner's reply (at most one byte) to our STX: 0 DLE (go on with the frame),
// -1 nothing, 1 STX (conflict: the caller answers NAK), 2 NAK, 3 anything else, also a DLE
// that came with a line error (the caller pauses).
int32_t StxReplyResult(std::string_view reply, bool lineError);
// Result of the reply to the frame: 0 DLE, -2 nothing, 4 NAK, 5 anything else (pause).
int32_t FrameReplyResult(std::string_view reply, bool lineError);

// The body of a received frame after our DLE, fed one byte at a time: a DLE pair stays a
// pair, DLE ETX is followed by the block check byte, which completes the frame.
class TFrameBody {
 public:
  explicit TFrameBody(size_t maxLen = kMaxTelegram) : max_len_(maxLen < kMaxTelegram ? maxLen : kMaxTelegram) {}
  // Appends the byte; false once the frame is complete. A body that would pass maxLen bytes
  // throws std::length_error and keeps what it had. A DLE pair takes one place: the doubling is
  // the line's coding of one byte, so an answer's room does not depend on its values.
  bool Add(char b);
  const std::string& Data() const { return data_; }

 private:
  size_t max_len_;
  size_t places_ = 0;  // bytes of the body with each pair counted once
  std::string data_;
  bool after_dle_ = false;
  bool bcc_next_ = false;
};

struct TFrameCheck {
  int32_t result = 0;   // LeseTelegramm's codes: 0 good, -2, 2, 3, 4
  std::string answer;   // the payload of a good frame
};

// The checks of a received body: -2 empty, 2 shorter than 4 bytes, 3 no DLE ETX before the
// block check byte, 4 wrong block check byte or, for an answer starting 0xE1, wrong CRC.
// A good frame gives its payload with DLE pairs made single and, for 0xE1, the CRC removed.
TFrameCheck CheckFrame(std::string_view body);

// Each byte as two upper-case hex digits and a blank, cut at 255 characters.
std::string StrToHex(std::string_view s);

}  // namespace driver
