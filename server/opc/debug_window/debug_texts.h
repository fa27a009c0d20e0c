// What the debug window shows, as plain texts of one snapshot of the server, and how its spin
// button moves through the stations. Windows-1252 texts, as the server keeps them.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "server/opc/debug_source.h"

namespace opc {

// Names of the request classes 1..3 (index 0 unused) and of the time-out types 0..5.
inline constexpr std::array<const char*, 4> kRequestClassNames{"", "IN", "OUT", "SYS"};
inline constexpr std::array<const char*, 6> kTimeoutTypeNames{"START", "OUT", "INOUT", "IN", "SYS", "TEMP"};

struct TDebugTexts {
  // Lines of mZFM; none without a protocol object, and the memo then keeps what it shows.
  std::optional<std::vector<std::string>> Zfm;
  std::string FmCaption;        // caption of gbFM; "" when the station does not exist
  std::vector<std::string> Fm;  // lines of mFM; none when the station does not exist
};

TDebugTexts RefreshTexts(const TDebugSnapshot& s);

// Every row of mFM but the empty one is a label of this many characters, then its entries,
// each followed by a tab.
inline constexpr size_t kFmLabelLength = 8;

// The tab stops of mFM that put every entry under the heading of its column: the first column
// starts right after the widest label, and each column is as wide as the widest entry shown
// plus two blanks, so no entry reaches into the next column. width: the width of a text in
// the window's font.
std::vector<double> FmTabStops(const std::vector<std::string>& fm,
                               const std::function<double(const std::string&)>& width);

// The station shown after a click up (not beyond the last of count) or down (not below 0).
int32_t SpinUp(int32_t shown, int32_t count);
int32_t SpinDown(int32_t shown);

}  // namespace opc
