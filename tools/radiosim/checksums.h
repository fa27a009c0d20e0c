// The two checks on the line: the block check byte that closes a 3964R frame and the CRC-16
// that telegrams of the CRC variant carry.
#pragma once

#include <cstdint>
#include <string_view>

namespace radiosim {

// XOR of all bytes.
uint8_t BlockCheck(std::string_view bytes);

// CRC-16 with the reflected polynomial 0x8005, start value 0xFFFF, no final XOR.
uint16_t Crc16(std::string_view bytes);

}  // namespace radiosim
