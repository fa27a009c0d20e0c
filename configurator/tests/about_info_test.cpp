#include "configurator/about_info.h"

#include <gtest/gtest.h>

namespace configurator {
namespace {

TEST(ProgramVersionText, FromTheBuildsVersionOrNothing) {
  EXPECT_EQ(ProgramVersionText(TFileVersion{1, 2, 3, 4}), "1.2 (Build: 3.4)");
  EXPECT_EQ(ProgramVersionText(std::nullopt), "");
  EXPECT_FALSE(ProgramVersionText(ProgramFileVersion()).empty());
}

TEST(AboutLayout, TheWindowFollowsThePicture) {
  struct Row {
    const char* name;
    std::optional<std::pair<int, int>> picture;
    TAboutLayout layout;
  } rows[] = {
      {"picture of the form's size", std::pair{48, 200}, {297, 321, 48, 200, true}},
      {"wider and taller", std::pair{100, 260}, {349, 381, 100, 260, true}},
      {"lower than the form's place keeps its height", std::pair{64, 64}, {313, 321, 64, 200, true}},
      {"no picture", std::nullopt, {249, 321 - 200 + kAboutTextsHeight, 0, 0, false}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    TAboutLayout l = AboutLayout(r.picture);
    EXPECT_EQ(l.Width, r.layout.Width);
    EXPECT_EQ(l.Height, r.layout.Height);
    EXPECT_EQ(l.ImageWidth, r.layout.ImageWidth);
    EXPECT_EQ(l.ImageHeight, r.layout.ImageHeight);
    EXPECT_EQ(l.FrameShown, r.layout.FrameShown);
  }
}

}  // namespace
}  // namespace configurator
