#include "opcclient/kopl_window.h"

#include <exception>

#include "opcclient/kopl_services.h"

namespace kopl {

TKoplWindow::TKoplWindow(platform::com::Apartment& apartment, Handler handler)
    : apartment_(apartment), target_(std::make_shared<Target>(Target{std::move(handler), true})) {}

TKoplWindow::~TKoplWindow() { target_->alive = false; }

void TKoplWindow::Post(uint32_t msg, uintptr_t wParam, std::unique_ptr<TKoplPostedItems> items) {
  auto message = std::make_shared<TKoplMessage>(TKoplMessage{msg, wParam, std::move(items)});
  apartment_.Post([target = target_, message] {
    if (!target->alive) return;
    // A handler's exception goes to the program's report, never into the loop.
    try {
      target->handler(*message);
    } catch (const std::exception& e) {
      HandleException(e);
    } catch (...) {
      HandleException(std::runtime_error("unknown exception in an OPC event"));
    }
  });
}

}  // namespace kopl
