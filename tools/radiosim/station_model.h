// The registers of one simulated station, by request class as its telegrams number them:
// inputs (the status word at -1, the binary input words, the analog inputs), outputs (the
// binary output words, the analog outputs) and the radio-modem parameters. Analog inputs move
// over time; binary outputs take a written value only after the relay delay.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "tools/radiosim/line_3964r.h"
#include "tools/radiosim/network.h"

namespace radiosim {

// How a station answers its requests.
enum class Failure {
  None,
  Silent,  // no answer at all
  Empty,   // the central modem sends the empty answer
};

struct ModelTiming {
  Duration analogPeriod = std::chrono::seconds(60);  // 0: analog inputs stand still
  Duration relayDelay{0};
};

class StationModel {
 public:
  // Analog inputs move between these values, well inside the 12 bits a station measures.
  static constexpr int kAnalogLow = 500;
  static constexpr int kAnalogHigh = 3500;
  static constexpr int kVersion = 107;

  StationModel(const StationShape& shape, ModelTiming timing);

  const StationShape& Shape() const { return shape_; }
  // Registers of a class: words first, then analog values; inputs count the status word too.
  int Size(int cls) const;
  int BinaryWords(int cls) const;
  // Register reg of class cls (inputs from -1); nullopt when there is none.
  std::optional<uint16_t> Read(int cls, int reg, Duration now) const;
  // Stores a written value; false when the register does not exist.
  bool Write(int cls, int reg, uint16_t v, Duration now);
  // Sets a value at once, without the relay delay (control); an analog input stops moving.
  bool Set(int cls, int reg, uint16_t v);
  // Every register of a class in order, the status word first for inputs.
  std::vector<uint16_t> Registers(int cls, Duration now) const;

  Failure failure = Failure::None;

 private:
  struct Relay {
    uint16_t value;
    Duration due;
  };
  int Slot(int cls, int reg) const;  // index into values_[cls], -1 when none
  uint16_t Analog(int i, Duration now) const;

  StationShape shape_;
  ModelTiming timing_;
  std::vector<uint16_t> values_[4];
  std::vector<bool> held_;                     // analog inputs set by hand stand still
  std::vector<std::optional<Relay>> relays_;   // binary output words on their way
};

}  // namespace radiosim
