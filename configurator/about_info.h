// What the about box shows and how large it is, without its window.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace configurator {

struct TFileVersion {
  uint16_t Major = 0, Minor = 0, Release = 0, Build = 0;
};

// The program's version as the build configured it.
std::optional<TFileVersion> ProgramFileVersion();
// "1.2 (Build: 3.4)"; "" without a version.
std::string ProgramVersionText(const std::optional<TFileVersion>& version);

// The window's client size and its picture's place: the form is 297 x 321 with a 48 x 200
// picture at the left; a picture of its own sets the width and, when taller, the height, and
// the window follows the change. Without a picture there is no frame, the window is narrower
// by the former width, and the top part keeps the height its texts need.
struct TAboutLayout {
  int Width = 0, Height = 0;
  int ImageWidth = 0, ImageHeight = 0;
  bool FrameShown = false;
};
inline constexpr int kAboutTextsHeight = 112;  // name, version, copyright and address lines
TAboutLayout AboutLayout(std::optional<std::pair<int, int>> pictureSize);

}  // namespace configurator
