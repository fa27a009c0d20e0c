// The start-up and shutdown of the server library's global state. One explicit sequence, run
// when the library is loaded, and its reverse when it is unloaded, so that no unit depends on
// the order of static initialisers across files.
#pragma once

namespace driver {

void StartServerUnits();
void StopServerUnits();

}  // namespace driver
