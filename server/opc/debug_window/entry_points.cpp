#include <QApplication>
#include <QPointer>
#include <QThread>
#include <exception>
#include <memory>

#include "server/opc/debug_window/debug_window_api.h"
#include "server/opc/debug_window/gui_thread.h"

namespace opc {

namespace {

// What a handle names. The window pointer is touched on the window's thread only.
struct TWindowHandle {
  std::shared_ptr<TDebugLink> link;
  std::shared_ptr<QPointer<TfrmDebug>> window = std::make_shared<QPointer<TfrmDebug>>();
  bool own_thread = false;  // on the library's GUI thread, else on the host application's
};

void Create(const std::shared_ptr<TDebugLink>& link, QPointer<TfrmDebug>& window) {
  if (!link->Connected()) return;  // closed before its turn came
  window = new TfrmDebug(link);
  window->show();
}

bool OnAppThread() { return QThread::currentThread() == QCoreApplication::instance()->thread(); }

}  // namespace

bool WithDebugWindow(void* handle, const std::function<void(TfrmDebug&)>& fn) {
  auto* h = static_cast<TWindowHandle*>(handle);
  if (!h) return false;
  bool found = false;
  auto run = [&] {
    if (TfrmDebug* w = h->window->data()) {
      fn(*w);
      found = true;
    }
  };
  if (h->own_thread)
    TGuiThread::Instance().Call(run);
  else if (QCoreApplication::instance() && OnAppThread())
    run();
  else if (QCoreApplication* app = QCoreApplication::instance())
    QMetaObject::invokeMethod(app, run, Qt::BlockingQueuedConnection);
  return found;
}

}  // namespace opc

using opc::TGuiThread;
using opc::TWindowHandle;

void* OstrelDebugOpen(void* source) {
  try {
    auto h = std::make_unique<TWindowHandle>();
    h->link = std::make_shared<opc::TDebugLink>(static_cast<const opc::TDebugSource*>(source));
    TGuiThread& gui = TGuiThread::Instance();
    QCoreApplication* app = gui.Running() ? nullptr : QCoreApplication::instance();
    if (app) {
      if (!qobject_cast<QApplication*>(app)) return nullptr;  // no widgets in this process
      if (opc::OnAppThread()) {
        opc::Create(h->link, *h->window);
      } else {
        // The host's GUI thread may be waiting for this very call: post, never wait.
        QMetaObject::invokeMethod(app, [link = h->link, window = h->window] { opc::Create(link, *window); },
                                  Qt::QueuedConnection);
      }
    } else {
      h->own_thread = true;
      if (!gui.Acquire([&h] { opc::Create(h->link, *h->window); })) return nullptr;
    }
    return h.release();
  } catch (...) {
    return nullptr;
  }
}

void OstrelDebugClose(void* handle) {
  std::unique_ptr<TWindowHandle> h(static_cast<TWindowHandle*>(handle));
  if (!h) return;
  try {
    h->link->Cut();
    auto destroy = [window = h->window] { delete window->data(); };
    if (h->own_thread) {
      TGuiThread::Instance().Release(destroy);
    } else if (QCoreApplication* app = QCoreApplication::instance()) {
      if (opc::OnAppThread())
        destroy();
      else
        QMetaObject::invokeMethod(app, destroy, Qt::QueuedConnection);
    }
    // Without an application any more, the window went with it.
  } catch (...) {
  }
}
