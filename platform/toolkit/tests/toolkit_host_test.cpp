#include "platform/toolkit/toolkit_host.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

TEST(ToolkitHost, LastErrorBelongsToItsThread) {
  QarSetLastError(87);
  uint32_t seen_there = 99;
  std::thread other([&] {
    seen_there = QarGetLastError();
    QarSetLastError(6);
  });
  other.join();
  EXPECT_EQ(seen_there, 0u);
  EXPECT_EQ(QarGetLastError(), 87u);
}

std::string shown;
int32_t Show(const char* caption, const char* text) {
  shown = std::string(caption) + "|" + text;
  return 1;
}

TEST(ToolkitHost, MessageBoxBlocksOnlyWithADisplay) {
  QarSetMessageBoxHandler(nullptr);
  EXPECT_EQ(QarMessageBox("Error", "no display\rsecond line"), 0);  // written to stderr, back at once
  QarSetMessageBoxHandler(&Show);
  EXPECT_EQ(QarMessageBox("Error", "shown"), 1);
  EXPECT_EQ(shown, "Error|shown");
  QarSetMessageBoxHandler(nullptr);
}

}  // namespace
