#include "tools/radiosim/station_model.h"

#include <algorithm>

#include "tools/radiosim/telegram.h"

namespace radiosim {

namespace {
int Words(int bits) { return (bits + 15) / 16; }
constexpr int kFunkLayer = 0, kId = 6, kVersionReg = 7;
}  // namespace

StationModel::StationModel(const StationShape& shape, ModelTiming timing) : shape_(shape), timing_(timing) {
  values_[kInputs].assign(size_t(1 + Words(shape.binaryInputs) + shape.analogInputs), 0);
  values_[kOutputs].assign(size_t(Words(shape.binaryOutputs) + shape.analogOutputs), 0);
  values_[kParams].assign(size_t(shape.params), 0);
  held_.assign(size_t(shape.analogInputs), false);
  relays_.resize(size_t(Words(shape.binaryOutputs)));
  // A pattern rather than zeros, so a bit that lands in the wrong place shows.
  for (int i = 0; i < Words(shape.binaryInputs); ++i) {
    const int bits = shape.binaryInputs - 16 * i;
    const uint16_t mask = bits >= 16 ? 0xFFFF : uint16_t((1u << bits) - 1);
    values_[kInputs][size_t(1 + i)] = uint16_t((0xA5C3 ^ (shape.adr1 * 0x0101) ^ i) & mask);
  }
  auto& p = values_[kParams];
  if (p.size() > kFunkLayer) p[kFunkLayer] = 1;
  if (p.size() > kId) p[kId] = uint16_t(shape.adr1);
  if (p.size() > kVersionReg) p[kVersionReg] = kVersion;
}

int StationModel::Size(int cls) const { return cls >= 1 && cls <= 3 ? int(values_[cls].size()) : 0; }

int StationModel::BinaryWords(int cls) const {
  if (cls == kInputs) return Words(shape_.binaryInputs);
  if (cls == kOutputs) return Words(shape_.binaryOutputs);
  return 0;
}

int StationModel::Slot(int cls, int reg) const {
  if (cls < 1 || cls > 3) return -1;
  const int slot = cls == kInputs ? reg + 1 : reg;
  return slot >= 0 && slot < int(values_[cls].size()) ? slot : -1;
}

uint16_t StationModel::Analog(int i, Duration now) const {
  const int64_t period = timing_.analogPeriod.count();
  if (period <= 0) return uint16_t(kAnalogLow + (i * 397 + shape_.adr1 * 211) % (kAnalogHigh - kAnalogLow));
  // A triangle between low and high, each input and station at its own phase.
  const int64_t phase = (now.count() + (i * period) / 7 + (shape_.adr1 * period) / 13) % period;
  const int64_t half = period / 2 > 0 ? period / 2 : 1;
  const int64_t up = phase < half ? phase : period - phase;
  return uint16_t(kAnalogLow + (kAnalogHigh - kAnalogLow) * std::min<int64_t>(up, half) / half);
}

std::optional<uint16_t> StationModel::Read(int cls, int reg, Duration now) const {
  const int slot = Slot(cls, reg);
  if (slot < 0) return std::nullopt;
  if (cls == kInputs) {
    const int a = slot - 1 - Words(shape_.binaryInputs);
    if (a >= 0 && !held_[size_t(a)]) return Analog(a, now);
  }
  if (cls == kOutputs && slot < int(relays_.size()) && relays_[size_t(slot)] && relays_[size_t(slot)]->due <= now)
    return relays_[size_t(slot)]->value;
  return values_[cls][size_t(slot)];
}

bool StationModel::Write(int cls, int reg, uint16_t v, Duration now) {
  const int slot = Slot(cls, reg);
  if (slot < 0) return false;
  if (cls == kOutputs && slot < int(relays_.size()) && timing_.relayDelay.count() > 0) {
    auto& relay = relays_[size_t(slot)];
    uint16_t& state = values_[cls][size_t(slot)];
    if (relay && relay->due <= now) {
      state = relay->value;
      relay.reset();
    }
    // The server writes the outputs again with every input poll: the same value must not
    // start the relay's delay over, or a fast poll would keep it from ever switching.
    const uint16_t target = relay ? relay->value : state;
    if (v != target) relay = Relay{v, now + timing_.relayDelay};
    if (relay && relay->value == state) relay.reset();
    return true;
  }
  return Set(cls, reg, v);
}

bool StationModel::Set(int cls, int reg, uint16_t v) {
  const int slot = Slot(cls, reg);
  if (slot < 0) return false;
  values_[cls][size_t(slot)] = v;
  if (cls == kOutputs && slot < int(relays_.size())) relays_[size_t(slot)].reset();
  if (cls == kInputs) {
    const int a = slot - 1 - Words(shape_.binaryInputs);
    if (a >= 0) held_[size_t(a)] = true;
  }
  return true;
}

std::vector<uint16_t> StationModel::Registers(int cls, Duration now) const {
  std::vector<uint16_t> v;
  const int first = cls == kInputs ? -1 : 0;
  for (int r = first; r < first + Size(cls); ++r) v.push_back(*Read(cls, r, now));
  return v;
}

}  // namespace radiosim
