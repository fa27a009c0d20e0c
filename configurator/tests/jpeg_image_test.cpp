#include "configurator/jpeg_image.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "configurator/tests/jpeg_writer.h"
#include "platform/testing/temp_dir.h"

namespace configurator {
namespace {

using testing::WriteJpeg;

// JPEG is lossy: colours come back close, not equal.
bool Near(const TRgbImage& img, int x, int y, uint32_t rgb) {
  const uint8_t* p = img.Pixels.data() + (size_t(y) * size_t(img.Width) + size_t(x)) * 3;
  const int want[3] = {int(rgb >> 16) & 0xFF, int(rgb >> 8) & 0xFF, int(rgb) & 0xFF};
  for (int c = 0; c < 3; ++c)
    if (std::abs(p[c] - want[c]) > 12) return false;
  return true;
}

TEST(LoadJpeg, ColourAndGreyPicturesBecomeRgbRows) {
  platform::testing::TempDir dir;
  // Left half red, right half blue, the bottom rows green: rows must come top first.
  auto colours = [](int x, int y) -> uint32_t { return y >= 24 ? 0x00C000 : x < 16 ? 0xE00000 : 0x0000E0; };
  ASSERT_TRUE(WriteJpeg(dir / "colour.jpg", 32, 32, colours));
  ASSERT_TRUE(WriteJpeg(dir / "grey.jpg", 16, 8, [](int, int) { return 0x80u; }, 1));

  std::optional<TRgbImage> img = LoadJpeg(dir / "colour.jpg");
  ASSERT_TRUE(img);
  EXPECT_EQ(img->Width, 32);
  EXPECT_EQ(img->Height, 32);
  ASSERT_EQ(img->Pixels.size(), 32u * 32u * 3u);
  EXPECT_TRUE(Near(*img, 4, 4, 0xE00000));
  EXPECT_TRUE(Near(*img, 28, 4, 0x0000E0));
  EXPECT_TRUE(Near(*img, 16, 30, 0x00C000));

  img = LoadJpeg(dir / "grey.jpg");
  ASSERT_TRUE(img);
  EXPECT_TRUE(Near(*img, 3, 3, 0x808080));
}

TEST(LoadJpeg, NothingForWhatIsNoUsablePicture) {
  platform::testing::TempDir dir;
  ASSERT_TRUE(WriteJpeg(dir / "ok.jpg", 8, 8, [](int, int) { return 0u; }));
  std::string jpeg = dir.Read("ok.jpg");
  // The frame header (FF C0) holds the height and width after its length and precision.
  std::string huge = jpeg;
  size_t sof = huge.find("\xFF\xC0");
  ASSERT_NE(sof, std::string::npos);
  huge[sof + 5] = huge[sof + 6] = huge[sof + 7] = huge[sof + 8] = '\xFF';
  dir.Write("huge.jpg", huge);
  dir.Write("text.jpg", "[MAIN]\r\nT1=kein Bild\r\n");
  dir.Write("empty.jpg", "");
  dir.Write("header-only.jpg", jpeg.substr(0, 20));

  for (const char* name : {"missing.jpg", "huge.jpg", "text.jpg", "empty.jpg", "header-only.jpg"})
    EXPECT_FALSE(LoadJpeg(dir / name)) << name;
}

}  // namespace
}  // namespace configurator
