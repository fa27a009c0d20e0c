// Grabs of the windows under test go to $LUMARO_SCREENSHOT_DIR when it is set, for a look by eye.
#pragma once

#include <QWidget>
#include <cstdlib>
#include <string>

namespace lumaro::testing {

inline void Grab(QWidget& w, const std::string& name) {
  const char* dir = std::getenv("LUMARO_SCREENSHOT_DIR");
  if (!dir) return;
  w.grab().save(QString::fromStdString(std::string(dir) + "/" + name + ".png"));
}

}  // namespace lumaro::testing
