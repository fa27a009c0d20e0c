// Debugger output: the platform's trace channel for programs without a console. Here it goes
// to stderr unless a test or host installs its own sink.
#pragma once

#include <functional>
#include <string_view>

namespace platform {

void OutputDebugString(std::string_view text);
// nullptr restores stderr.
void SetDebugOutputSink(std::function<void(std::string_view)> sink);

}  // namespace platform
