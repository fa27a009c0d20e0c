// Error codes in log lines appear as "-$" followed by two hex digits of the negated code.
#pragma once

#include <cstdint>
#include <string>

#include "support/log_text.h"

namespace opc {

inline std::string NegHex2(int32_t code) { return support::Hex2(uint32_t(-int64_t(code)) & 0xFF); }

}  // namespace opc
