#include "platform/debug_output.h"

#include <cstdio>
#include <mutex>

namespace platform {

namespace {
constinit std::mutex sink_mutex;
// A plain pointer: still valid when the server library's unload hook logs its last lines.
constinit std::function<void(std::string_view)>* sink = nullptr;
}  // namespace

void OutputDebugString(std::string_view text) {
  std::lock_guard lock(sink_mutex);
  if (sink) {
    (*sink)(text);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fputc('\n', stderr);
}

void SetDebugOutputSink(std::function<void(std::string_view)> fn) {
  std::lock_guard lock(sink_mutex);
  delete sink;
  sink = fn ? new std::function<void(std::string_view)>(std::move(fn)) : nullptr;
}

}  // namespace platform
