// The three panels of a window's status bar: panel 0 takes the width the others leave, panels
// 1 and 2 have widths of their own, but never less than the widest text each one shows needs
// in the font the window has, so no text is cut.
#pragma once

#include <QString>
#include <array>
#include <string>
#include <vector>

class QLabel;
class QStatusBar;

namespace lumaro {

struct TPanelSpec {
  int width = 0;                   // the panel's own width in pixels
  std::vector<std::string> texts;  // every text the panel shows
};

// Panels named name + "Panel0" .. "Panel2".
std::array<QLabel*, 3> AddStatusPanels(QStatusBar* bar, const QString& name, int first_min_width,
                                       const TPanelSpec& second, const TPanelSpec& third);

}  // namespace lumaro
