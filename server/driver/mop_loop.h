// The work of the MODUS 1 and 2 driver on a protocol object whose port is open: finding the
// central radio modem, waiting for time slots and, inside a slot, one request after another.
// tMOP runs WorkLoop in its thread; tests run it on a scripted line and a virtual clock. Every
// wait goes through the protocol object's clock, every loop asks the terminate test at each
// pass, and a stop of the protocol object (TCustomFunk::Stop) ends the wait under way.
#pragma once

#include <cstdint>
#include <functional>

namespace driver {

class TCustomFunk;

class TMopLoop {
 public:
  using TerminatedFn = std::function<bool()>;

  TMopLoop(TCustomFunk& funk, TerminatedFn terminated);

  // Finds the central modem and, in the passive time-slot mode, sends it the mode message
  // "*W1". With SIMULATION on it completes requests without line traffic until terminated.
  // True when not terminated.
  bool ErkennungZentrale();
  // Until terminated: detection, waiting for a slot, the slot, and back to detection when the
  // modem is lost. An exception starts it again from detection.
  void WorkLoop();

 private:
  bool Terminated() const { return terminated_(); }
  void Simulation();
  void WaitForSlot();
  void Slot(uint32_t start);
  int32_t FunkLayer() const;
  // After an exception: the forced log line, then a pause before detection starts again.
  void Restart(const char* message);

  TCustomFunk& f_;
  TerminatedFn terminated_;
  int32_t step_ = 0;  // reported with an exception
};

}  // namespace driver
