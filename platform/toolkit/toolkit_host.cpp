#include "platform/toolkit/toolkit_host.h"

#include <unistd.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>

#include "platform/cp1252.h"

namespace {

thread_local uint32_t last_error = 0;

std::atomic<TQarMessageBoxHandler> box_handler{nullptr};
std::atomic<TQarDebugWindowOpen> window_open{nullptr};
std::atomic<TQarDebugWindowClose> window_close{nullptr};

std::mutex argument_mutex;
bool argument_set = false;
std::string first_argument;

std::string FromCommandLine() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string all{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  auto end0 = all.find('\0');
  if (end0 == std::string::npos || end0 + 1 >= all.size()) return {};
  return all.substr(end0 + 1, all.find('\0', end0 + 1) - end0 - 1);
}

// A box's text for a terminal: UTF-8, CR as line break.
std::string ForTerminal(const char* text) {
  std::string out = platform::Cp1252ToUtf8(text ? text : "");
  for (size_t p = 0; (p = out.find("\r\n", p)) != std::string::npos;) out.erase(p, 1);
  for (char& c : out)
    if (c == '\r') c = '\n';
  return out;
}

void WriteAll(const std::string& text) {
  for (size_t done = 0; done < text.size();) {
    ssize_t n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += size_t(n);
  }
}

}  // namespace

extern "C" {

uint32_t QarGetLastError(void) { return last_error; }
void QarSetLastError(uint32_t code) { last_error = code; }

int32_t QarMessageBox(const char* caption, const char* text) {
  if (TQarMessageBoxHandler handler = box_handler.load(); handler && handler(caption, text)) return 1;
  // No display, or no box came up on it: the text must still reach someone.
  WriteAll(ForTerminal(caption) + ": " + ForTerminal(text) + "\n");
  return 0;
}

void QarSetMessageBoxHandler(TQarMessageBoxHandler handler) { box_handler = handler; }

void QarSetDebugWindowHook(TQarDebugWindowOpen open, TQarDebugWindowClose close) {
  window_open = open;
  window_close = close;
}

int32_t QarDebugWindowHookInstalled(void) { return window_open.load() ? 1 : 0; }

void* QarOpenDebugWindow(void* source) {
  TQarDebugWindowOpen open = window_open.load();
  return open ? open(source) : nullptr;
}

void QarCloseDebugWindow(void* window) {
  TQarDebugWindowClose close = window_close.load();
  if (window && close) close(window);
}

const char* QarHostFirstArgument(void) {
  std::lock_guard lock(argument_mutex);
  if (!argument_set) {
    first_argument = FromCommandLine();
    argument_set = true;
  }
  return first_argument.c_str();
}

void QarSetHostFirstArgument(const char* argument) {
  std::lock_guard lock(argument_mutex);
  first_argument = argument ? argument : "";
  argument_set = true;
}

}  // extern "C"
