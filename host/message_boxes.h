// The server's message boxes. With a display they are shown by the box program beside the host
// (ostrel-box, a small Qt program), which the host starts for each box and waits for: the box is
// modal, as the server expects. The host itself never loads Qt, so it runs alike with and
// without a display; without one the boxes go to stderr and the log at once.
#pragma once

#include <cstdint>
#include <string>

namespace host {

inline constexpr const char* kBoxProgram = "ostrel-box";

// DISPLAY or WAYLAND_DISPLAY is set and not empty.
bool DisplayThere();

// With a display, boxes are shown by program from now on; without one nothing changes. True
// when installed.
bool InstallMessageBoxes(const std::string& program);

// One box shown by program (arguments: caption, text); waits until it is closed. 1 when it was
// confirmed; 0 when the program could not be started or ended otherwise (no box came up, or it
// was stopped). SIGTERM or SIGINT, which the host keeps blocked for its own wait, end the box
// early and are raised again for that wait.
int32_t ShowBoxBy(const std::string& program, const char* caption, const char* text);

}  // namespace host
