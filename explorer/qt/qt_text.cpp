#include "explorer/qt/qt_text.h"

#include <stdexcept>

#include "opcclient/kopl_services.h"

namespace explorer {

void Guard(const std::function<void()>& command) {
  try {
    command();
  } catch (const std::exception& e) {
    kopl::HandleException(e);
  } catch (...) {
    kopl::HandleException(std::runtime_error("unknown exception"));
  }
}

}  // namespace explorer
