// The radio modems' telegrams as the central modem sees them: the server's station request
// (first byte 0x60, or 0x61 with a CRC-16 at the end), the data answer and the empty answer
// that go back, and the central modem's own messages ("*V" version, "*Z" time slot).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace radiosim {

inline constexpr uint8_t kRequest = 0x60;
inline constexpr uint8_t kRequestCrc = 0x61;
inline constexpr char kModeMessage[] = "*W1";  // the server switches the modem to time slots

// Register numbers in a telegram: each request class has its base.
enum RegClass : int { kNone = 0, kInputs = 1, kOutputs = 2, kParams = 3 };
inline constexpr int kRegBase[] = {0, 2, 300, 900};

struct RegRange {
  int cls = kNone;
  int start = 0;  // from -1 (the status word) for inputs
  int count = 0;
};

// The class and first register a telegram's register number stands for.
RegRange RangeOf(uint16_t reg, int count);

struct Request {
  bool crc = false;                // 0x61: the answer starts with 0xE1 and carries a CRC too
  std::array<uint8_t, 4> path{};   // relays in radio order, then the station; zero padded
  uint16_t getReg = 0;
  uint8_t getCount = 0;
  uint16_t putReg = 0;
  uint8_t putCount = 0;
  std::vector<uint16_t> putData;   // putCount words

  RegRange Get() const { return RangeOf(getReg, getCount); }
  RegRange Put() const { return RangeOf(putReg, putCount); }
  bool ToCentralModem() const { return path == std::array<uint8_t, 4>{}; }
  // Radio hops to the station: the relays on the way plus one.
  int Hops() const;
};

enum class ParseError { None, NotARequest, Length, Crc };

// A station request; nullopt with the reason when the telegram is none or is damaged.
std::optional<Request> ParseRequest(std::string_view tel, ParseError* why = nullptr);

// The data answer: 0xE0 (0xE1), a zero byte, the first three address bytes of the request,
// the Get register and count, then the words high byte first; the CRC variant ends with the
// CRC-16 of all that, low byte first.
std::string EncodeAnswer(const Request& r, const std::vector<uint16_t>& words);
// The answer of a station that did not answer by radio: the five header bytes alone.
std::string EncodeEmptyAnswer(const Request& r);

// "*Z" + the slot number's digit + "1" grants the slot, + "0" ends it.
std::string SlotMessage(int slot, bool open);
// "*V" with the version and identification the central modem's parameters also carry.
std::string VersionMessage(int version, int id);

}  // namespace radiosim
