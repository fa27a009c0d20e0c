#include "platform/toolkit/toolkit_host.h"

#include <gtest/gtest.h>
#include <unistd.h>

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
int32_t CannotShow(const char*, const char*) { return 0; }  // e.g. the display went away

// What the calling thread writes to stderr while fn runs.
template <class Fn>
std::string Stderr(Fn fn) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return "no pipe";
  const int saved = dup(STDERR_FILENO);
  dup2(pipe_fds[1], STDERR_FILENO);
  close(pipe_fds[1]);
  fn();
  dup2(saved, STDERR_FILENO);
  close(saved);
  std::string out;
  char buf[256];
  for (ssize_t n; (n = read(pipe_fds[0], buf, sizeof buf)) > 0;) out.append(buf, size_t(n));
  close(pipe_fds[0]);
  return out;
}

TEST(ToolkitHost, MessageBoxBlocksOnlyWhenItIsShown) {
  struct Row {
    const char* name;
    TQarMessageBoxHandler handler;
    int32_t result;
    const char* on_stderr;
  } rows[] = {
      {"no display", nullptr, 0, "Error: no display\nsecond line \u00C4\n"},
      {"shown and confirmed", &Show, 1, ""},
      {"display there but no box came", &CannotShow, 0, "Error: no display\nsecond line \u00C4\n"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    QarSetMessageBoxHandler(r.handler);
    int32_t result = -1;
    EXPECT_EQ(Stderr([&] { result = QarMessageBox("Error", "no display\rsecond line \xC4"); }), r.on_stderr);
    EXPECT_EQ(result, r.result);
  }
  EXPECT_EQ(shown, "Error|no display\rsecond line \xC4");
  QarSetMessageBoxHandler(nullptr);
}

}  // namespace
