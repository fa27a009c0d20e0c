// The box of ostrel-box: one error box with an OK button, its title the caption. Needs the
// program's QApplication.
#pragma once

#include <string>

namespace host::box {

// Caption and text are Windows-1252, the text's lines separated by CR. Returns once the box is
// closed.
void ShowBox(const std::string& caption, const std::string& text);

}  // namespace host::box
