// The server library's global state starts when the host loads the library and stops when it
// unloads it, through one explicit unit sequence. These hooks run outside the order of C++
// static initialisers, so every global the units touch is constant-initialised and never
// destroyed (constinit, platform::NoDestroy).
#include "server/driver/units.h"

namespace {

__attribute__((constructor)) void OnLoad() { driver::StartServerUnits(); }
__attribute__((destructor)) void OnUnload() { driver::StopServerUnits(); }

}  // namespace
