// What the window tests share: grabs of the windows under test go to $LUMARO_SCREENSHOT_DIR when
// it is set, for a look by eye; and a check that status-bar panels show their texts whole.
#pragma once

#include <gtest/gtest.h>

#include <QLabel>
#include <QWidget>
#include <cstdlib>
#include <string>
#include <vector>

namespace lumaro::testing {

inline void Grab(QWidget& w, const std::string& name) {
  const char* dir = std::getenv("LUMARO_SCREENSHOT_DIR");
  if (!dir) return;
  w.grab().save(QString::fromStdString(std::string(dir) + "/" + name + ".png"));
}

// Status-bar panels and what each one shows.
struct PanelTexts {
  const char* panel;
  std::vector<std::string> texts;
};

// Every text of every panel fits its panel whole, in the font the panel has.
inline void ExpectWholeTexts(QWidget& window, const std::vector<PanelTexts>& panels) {
  for (const PanelTexts& p : panels) {
    auto* label = window.findChild<QLabel*>(p.panel);
    ASSERT_NE(label, nullptr) << p.panel;
    for (const std::string& text : p.texts) {
      SCOPED_TRACE(text);
      EXPECT_GE(label->contentsRect().width() - 2 * label->margin(),
                label->fontMetrics().horizontalAdvance(QString::fromStdString(text)));
    }
  }
}

}  // namespace lumaro::testing
