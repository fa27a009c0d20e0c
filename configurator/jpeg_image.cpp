#include "configurator/jpeg_image.h"

#include <csetjmp>
#include <cstdio>

// The library's header needs size_t and FILE declared before it.
#include <jpeglib.h>

namespace configurator {

namespace {

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

// The library calls this for a fatal error and must not return to it.
[[noreturn]] void OnError(j_common_ptr info) { std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1); }
// Warnings (a file cut short, extra bytes) would go to stderr; the picture is shown as far as it goes.
void OnMessage(j_common_ptr) {}

struct File {
  explicit File(const std::string& name) : f(std::fopen(name.c_str(), "rb")) {}
  ~File() {
    if (f) std::fclose(f);
  }
  std::FILE* f;
};

// Decodes from an open file; false on any fatal error of the library. No local object with a
// destructor lives in this frame, which the library's error exit jumps back into.
bool Decode(std::FILE* f, TRgbImage& image) {
  jpeg_decompress_struct info;
  ErrorManager err;
  info.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = OnError;
  err.pub.output_message = OnMessage;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_stdio_src(&info, f);
  jpeg_read_header(&info, TRUE);
  if (int64_t(info.image_width) * info.image_height > kMaxJpegPixels) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
  info.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
  jpeg_start_decompress(&info);
  const int w = int(info.output_width), h = int(info.output_height), n = info.output_components;
  image.Width = w;
  image.Height = h;
  image.Pixels.assign(size_t(w) * size_t(h) * 3, 0);
  // The row buffer belongs to the library's pool, which jpeg_destroy_decompress frees on every path.
  JSAMPARRAY rows = (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE, JDIMENSION(w * n), 1);
  const bool inverted = info.saw_Adobe_marker;  // Adobe writes CMYK inverted
  while (info.output_scanline < info.output_height) {
    const size_t y = info.output_scanline;
    jpeg_read_scanlines(&info, rows, 1);
    uint8_t* out = image.Pixels.data() + y * size_t(w) * 3;
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = rows[0] + size_t(x) * size_t(n);
      if (!cmyk) {
        out[3 * x] = p[0];
        out[3 * x + 1] = p[1];
        out[3 * x + 2] = p[2];
        continue;
      }
      const int k = inverted ? p[3] : 255 - p[3];
      for (int c = 0; c < 3; ++c) out[3 * x + c] = uint8_t((inverted ? p[c] : 255 - p[c]) * k / 255);
    }
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

}  // namespace

std::optional<TRgbImage> LoadJpeg(const std::string& file) {
  File in(file);
  if (!in.f) return std::nullopt;
  TRgbImage image;
  if (!Decode(in.f, image)) return std::nullopt;
  return image;
}

}  // namespace configurator
