// The QApplication of the window tests, offscreen unless the caller chose a platform. Grabs of
// the windows go to $LUMARO_SCREENSHOT_DIR when it is set, for a look by eye.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <cstdlib>
#include <memory>
#include <string>

namespace lumaro::testing {

class QtEnvironment final : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    app_ = std::make_unique<QApplication>(argc_, argv_);
  }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char name_[18] = "lumaro_gui_tests";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> app_;
};

inline void Grab(QWidget& w, const std::string& name) {
  const char* dir = std::getenv("LUMARO_SCREENSHOT_DIR");
  if (!dir) return;
  w.grab().save(QString::fromStdString(std::string(dir) + "/" + name + ".png"));
}

}  // namespace lumaro::testing
