// The server library's global state starts when the host loads the library and stops when it
// unloads it, through one explicit unit sequence. These hooks run outside the order of C++
// static initialisers, so every global the units touch is constant-initialised and never
// destroyed (constinit, platform::NoDestroy).
#include "server/driver/units.h"
#include "server/opc/exports.h"

namespace {

// The exports unit starts last (it fills the start-up record) and stops first, so the error
// log still writes its end line last.
__attribute__((constructor)) void OnLoad() {
  driver::StartServerUnits();
  opc::StartExportsUnit();
}

__attribute__((destructor)) void OnUnload() {
  opc::StopExportsUnit();
  driver::StopServerUnits();
}

}  // namespace
