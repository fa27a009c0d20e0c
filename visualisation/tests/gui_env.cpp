// One QApplication for the whole window-test program.
#include "visualisation/tests/gui_app.h"

namespace {
[[maybe_unused]] ::testing::Environment* const kQt =
    ::testing::AddGlobalTestEnvironment(new lumaro::testing::QtEnvironment);
}  // namespace
