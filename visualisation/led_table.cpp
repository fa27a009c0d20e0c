#include "visualisation/led_table.h"

#include <cstdlib>

namespace lumaro {

const std::array<LedPlace, kLedCount> kLeds = {{
    // binary inputs 1-16
    {37, 112, 4},
    {54, 112, 4},
    {71, 112, 4},
    {88, 112, 4},
    {106, 112, 4},
    {123, 112, 4},
    {140, 112, 4},
    {158, 112, 4},
    {213, 112, 4},
    {231, 112, 4},
    {248, 112, 4},
    {265, 112, 4},
    {282, 112, 4},
    {300, 112, 4},
    {317, 112, 4},
    {334, 112, 4},
    // binary outputs 1-16
    {37, 204, 6},
    {55, 204, 6},
    {71, 204, 6},
    {89, 204, 6},
    {107, 204, 6},
    {123, 204, 6},
    {141, 204, 6},
    {158, 204, 6},
    {213, 204, 6},
    {230, 204, 6},
    {247, 204, 6},
    {265, 204, 6},
    {283, 204, 6},
    {299, 204, 6},
    {317, 204, 6},
    {334, 204, 6},
    // receive-power bar 1-8
    {442, 204, 6},
    {460, 204, 6},
    {478, 204, 6},
    {495, 204, 2},
    {512, 204, 4},
    {530, 204, 4},
    {548, 204, 4},
    {564, 204, 4},
    // not driven
    {442, 112, 4},
    {460, 112, 6},
    {478, 112, 4},
    {495, 112, 6},
    {530, 112, 4},
    {548, 112, 4},
    {564, 112, 4},
}};

const std::array<int32_t, kBarLeds> kBarThresholds = {1, 5, 9, 13, 17, 21, 25, 29};

const std::array<Rgb, 8> kLedColours = {{
    {0x50, 0x50, 0x50},
    {0x50, 0x50, 0x50},
    {0x60, 0x60, 0x00},
    {0xFF, 0xFF, 0x00},
    {0x00, 0x60, 0x00},
    {0x00, 0xFF, 0x00},
    {0x60, 0x00, 0x00},
    {0xFF, 0x00, 0x00},
}};

int LedColourNumber(int row, bool valid, bool on) {
  if (!valid) return 0;
  return kLeds[size_t(row)].c + (on ? 1 : 0);
}

int LedAt(int x, int y) {
  for (int i = 0; i < kLedCount; ++i) {
    if (std::abs(x - kLeds[size_t(i)].x) <= kLedRadius && std::abs(y - kLeds[size_t(i)].y) <= kLedRadius) return i;
  }
  return -1;
}

}  // namespace lumaro
