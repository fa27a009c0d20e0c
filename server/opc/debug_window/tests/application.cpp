// The window tests that run in a process with a QApplication, as a host with its own window
// toolkit has one: made before the first test on the offscreen platform (unless another is
// asked for), on the thread that runs the tests.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <memory>

namespace {

class Application : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    app_ = std::make_unique<QApplication>(argc_, argv_);
  }
  void TearDown() override { app_.reset(); }

 private:
  char name_[8] = "Ostrel";
  char* argv_[2] = {name_, nullptr};
  int argc_ = 1;
  std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] ::testing::Environment* const application = ::testing::AddGlobalTestEnvironment(new Application);

}  // namespace
