// The LEDs of the station picture: where each sits (picture pixels, 1:1), which colour pair
// it shows, and which LED a click hits.
#pragma once

#include <array>
#include <cstdint>

namespace lumaro {

struct LedPlace {
  int16_t x;
  int16_t y;
  uint8_t c;  // colour pair: off c, on c + 1
};

inline constexpr int kLedCount = 47;
inline constexpr int kFirstInputLed = 0;    // binary inputs 1-16: LEDs 0-15
inline constexpr int kFirstOutputLed = 16;  // binary outputs 1-16: LEDs 16-31
inline constexpr int kFirstBarLed = 32;     // receive-power bar 1-8: LEDs 32-39
inline constexpr int kBarLeds = 8;
inline constexpr int kLedRadius = 5;  // a circle of diameter 10 around the centre

extern const std::array<LedPlace, kLedCount> kLeds;

// Receive power at which bar LED k (0..7) lights.
extern const std::array<int32_t, kBarLeds> kBarThresholds;

struct Rgb {
  uint8_t r, g, b;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};
// Colour numbers 0..7: grey, grey, dark yellow, yellow, dark green, green, dark red, red.
extern const std::array<Rgb, 8> kLedColours;

// Colour number of LED row: c + 1 when valid and on, c when valid and off, 0 when invalid.
int LedColourNumber(int row, bool valid, bool on);

// The first LED whose centre lies within 5 pixels of (x, y) in both x and y; -1 when none.
int LedAt(int x, int y);

// The output block of LEDs 16-23 (outputs 1-8) and where its copy shows outputs 9-16.
struct PictureRect {
  int x, y, w, h;
};
inline constexpr PictureRect kOutputBlock{12, 188, 173, 122};
inline constexpr int kOutputBlockCopyX = 188;
inline constexpr int kOutputBlockCopyY = 188;

}  // namespace lumaro
