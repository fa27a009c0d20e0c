// The window library's entry points. The two C functions match the host's debug-window hook
// (platform/toolkit/toolkit_host.h): the server library installs them when the host installed
// no hook of its own, and a host may install them itself.
//
// A process with a QApplication gets the window on that application's thread (created at once
// when the caller is that thread, else posted to it). A process without one gets a GUI thread of
// the library's own with its own QApplication while a window is open, when a display is there
// (QT_QPA_PLATFORM, WAYLAND_DISPLAY or DISPLAY); the close ends that thread and waits for it.
#pragma once

#include <functional>

#include "server/opc/debug_window/frm_debug.h"

extern "C" {

// Opens a window on source (an opc::TDebugSource*); the window's handle, or nullptr when no
// window can be shown (no display, or a QCoreApplication without widgets). Never throws.
OSTREL_DEBUG_API void* OstrelDebugOpen(void* source);
// Closes the window: from its return on the source is never called again. nullptr: nothing.
OSTREL_DEBUG_API void OstrelDebugClose(void* window);

}  // extern "C"

namespace opc {

// Runs fn with the window of a handle on the window's thread and waits for it; false when the
// window does not exist (not yet created on a busy GUI thread, or gone). For tests and tools.
OSTREL_DEBUG_API bool WithDebugWindow(void* window, const std::function<void(TfrmDebug&)>& fn);

}  // namespace opc
