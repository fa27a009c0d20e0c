#include "configurator/about_info.h"

#include <algorithm>

#include "configurator/brindel_version.h"
#include "platform/text_format.h"

namespace configurator {

namespace {
constexpr int kFormWidth = 297, kFormHeight = 321;
constexpr int kImageWidth = 48, kImageHeight = 200;
}  // namespace

std::optional<TFileVersion> ProgramFileVersion() {
  return TFileVersion{QAR_VERSION_MAJOR, QAR_VERSION_MINOR, QAR_VERSION_PATCH, QAR_VERSION_TWEAK};
}

std::string ProgramVersionText(const std::optional<TFileVersion>& v) {
  if (!v) return {};
  return platform::FormatText("%d.%d (%s: %d.%d)", {int(v->Major), int(v->Minor), "Build", int(v->Release), int(v->Build)});
}

TAboutLayout AboutLayout(std::optional<std::pair<int, int>> pictureSize) {
  TAboutLayout l;
  if (pictureSize) {
    l.ImageWidth = pictureSize->first;
    l.ImageHeight = std::max(kImageHeight, pictureSize->second);
    l.FrameShown = true;
  }
  // The texts beside the picture need their height even when the picture is gone.
  const int formTop = std::max(kImageHeight, kAboutTextsHeight);
  const int top = std::max(l.ImageHeight, kAboutTextsHeight);
  l.Width = kFormWidth + l.ImageWidth - kImageWidth;
  l.Height = kFormHeight + top - formTop;
  return l;
}

}  // namespace configurator
