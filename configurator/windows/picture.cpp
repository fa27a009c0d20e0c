#include "configurator/windows/picture.h"

#include "configurator/jpeg_image.h"
#include "platform/files.h"

namespace configurator::windows {

QImage LoadPicture(const std::string& file) {
  const std::string found = platform::FindFileNoCase(file);
  if (found.empty()) return {};
  std::optional<TRgbImage> rgb = LoadJpeg(found);
  if (!rgb) return {};
  QImage image(rgb->Width, rgb->Height, QImage::Format_RGB888);
  for (int y = 0; y < rgb->Height; ++y)
    std::copy_n(rgb->Pixels.data() + size_t(y) * size_t(rgb->Width) * 3, size_t(rgb->Width) * 3, image.scanLine(y));
  return image;
}

}  // namespace configurator::windows
