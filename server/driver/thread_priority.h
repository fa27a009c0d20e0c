// The driver thread's priority: it owns a half-duplex line whose partner waits only so long for
// each handshake byte, so it should run before the ordinary threads of the machine.
#pragma once

namespace driver {

// Asks for real-time scheduling (SCHED_FIFO) for the calling thread; where that is not
// permitted, for the lowest nice value it may have. Goes on silently without either.
void RaiseToTimeCritical();

}  // namespace driver
