// The configurator's pictures (the main window's background, the about box) are JPEG files,
// decoded here with the IJG library's 6b interface into plain RGB rows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace configurator {

struct TRgbImage {
  int Width = 0;
  int Height = 0;
  std::vector<uint8_t> Pixels;  // 3 bytes (R, G, B) per pixel, rows from the top
};

// Pictures larger than this are refused rather than decoded into hundreds of megabytes.
inline constexpr int64_t kMaxJpegPixels = 40'000'000;

// The picture in file; nothing when the file is missing, is no JPEG, is broken or too large.
std::optional<TRgbImage> LoadJpeg(const std::string& file);

}  // namespace configurator
