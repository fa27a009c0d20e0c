// ostrel-box CAPTION TEXT: the message box of a host that has a display. The host starts it for
// each box and waits for it, so the host itself never loads Qt. Exit code 0 once the box is
// confirmed, 2 for a wrong command line; a display that cannot be reached ends it at once with
// Qt's own message and another code, and the host then writes the text to stderr.
#include <sys/resource.h>

#include <QApplication>
#include <cstdio>
#include <string>

#include "host/box/show_box.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: ostrel-box CAPTION TEXT\n", stderr);
    return 2;
  }
  const std::string caption = argv[1], text = argv[2];
  // Qt aborts when it cannot reach the display: that is an answer, not a crash to keep.
  const rlimit no_core{0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
  // Only the program name: a text that looks like a Qt option must stay the text.
  int qt_argc = 1;
  char* qt_argv[] = {argv[0], nullptr};
  QApplication app(qt_argc, qt_argv);
  host::box::ShowBox(caption, text);
  return 0;
}
