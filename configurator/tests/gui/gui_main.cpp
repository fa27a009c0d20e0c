// main() of the window tests: the offscreen platform unless another is asked for, local time
// UTC, a registry file of this run's own, one QApplication for all tests, and the part of a
// window manager that the tests need.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "configurator/tests/gui/gui_fixture.h"

int main(int argc, char** argv) {
  setenv("TZ", "UTC", 1);
  tzset();
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  std::string registry =
      (std::filesystem::temp_directory_path() / ("qar-test-registry-" + std::to_string(getpid()))).string();
  setenv("QAR_REGISTRY", registry.c_str(), 1);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Brindel-Test"));
  configurator::windows::testing::WindowManager manager;
  app.installEventFilter(&manager);
  int rc = RUN_ALL_TESTS();
  std::error_code ec;
  std::filesystem::remove(registry, ec);
  std::filesystem::remove(registry + ".lock", ec);
  return rc;
}
