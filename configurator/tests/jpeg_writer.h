// Writes small JPEG pictures for tests (no picture file is kept in the sources).
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace configurator::testing {

// A picture of w x h whose pixel (x, y) has the colour rgb(x, y); components 1 writes grey.
inline bool WriteJpeg(const std::string& path, int w, int h, const std::function<uint32_t(int, int)>& rgb,
                      int components = 3) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  jpeg_compress_struct info;
  jpeg_error_mgr err;
  info.err = jpeg_std_error(&err);
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, f);
  info.image_width = JDIMENSION(w);
  info.image_height = JDIMENSION(h);
  info.input_components = components;
  info.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 95, TRUE);
  jpeg_start_compress(&info, TRUE);
  std::vector<uint8_t> row(size_t(w * components));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint32_t c = rgb(x, y);
      if (components == 1) {
        row[size_t(x)] = uint8_t(c & 0xFF);
      } else {
        row[size_t(3 * x)] = uint8_t(c >> 16);
        row[size_t(3 * x + 1)] = uint8_t(c >> 8);
        row[size_t(3 * x + 2)] = uint8_t(c);
      }
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return std::fclose(f) == 0;
}

}  // namespace configurator::testing
