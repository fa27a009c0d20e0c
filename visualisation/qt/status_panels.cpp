#include "visualisation/qt/status_panels.h"

#include <QLabel>
#include <QStatusBar>
#include <algorithm>

#include "platform/qt/display_text.h"

namespace lumaro {

namespace {

// The width a label needs to show text whole: the text, its margins and its frame.
int NeededWidth(const QLabel& label, const std::string& text) {
  const QMargins m = label.contentsMargins();
  return label.fontMetrics().horizontalAdvance(platform::qt::DisplayText(text)) + 2 * label.margin() + m.left() +
         m.right() + 2 * label.frameWidth();
}

void FixWidth(QLabel& label, const TPanelSpec& spec) {
  int width = spec.width;
  for (const std::string& text : spec.texts) width = std::max(width, NeededWidth(label, text));
  label.setFixedWidth(width);
}

}  // namespace

std::array<QLabel*, 3> AddStatusPanels(QStatusBar* bar, const QString& name, int first_min_width,
                                       const TPanelSpec& second, const TPanelSpec& third) {
  bar->setObjectName(name);
  std::array<QLabel*, 3> panels{};
  for (int i = 0; i < 3; ++i) {
    panels[size_t(i)] = new QLabel(bar);
    panels[size_t(i)]->setObjectName(name + QString("Panel%1").arg(i));
  }
  if (first_min_width > 0) panels[0]->setMinimumWidth(first_min_width);
  FixWidth(*panels[1], second);
  FixWidth(*panels[2], third);
  bar->addWidget(panels[0], 1);
  bar->addWidget(panels[1]);
  bar->addWidget(panels[2]);
  return panels;
}

}  // namespace lumaro
