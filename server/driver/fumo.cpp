#include "server/driver/fumo.h"

#include <stdexcept>

namespace driver {

constinit platform::FILETIME AnswerTime{};

void StartStationUnit() { AnswerTime = {}; }

namespace {

void CheckGroup(int32_t group) {
  if (group < 0 || group >= kGroupCount) throw std::out_of_range("Range check error");
}

// Quality and time stamp of a stored answer value: a waiting write keeps its 0x14.
void Stamp(TWert& w, int32_t quality) {
  if (!w.bWritePending) w.Quality = quality;
  w.TimeStamp = AnswerTime;
}

}  // namespace

TFuMo::TFuMo() = default;

int32_t TFuMo::RegCount(int32_t group) const {
  if (group < 0) return 0;
  CheckGroup(group);
  return int32_t(Groups[size_t(group)].size());
}

void TFuMo::AddWert(int32_t group, const TWert& w) {
  CheckGroup(group);
  Groups[size_t(group)].push_back(w);
}

TWert& TFuMo::GetWert(int32_t group, int32_t index) {
  if (group < 0 || group >= kGroupCount || index < 0 || size_t(index) >= Groups[size_t(group)].size())
    return SpareWert;
  return Groups[size_t(group)][size_t(index)];
}

void TFuMo::SetWertInt(int32_t group, int32_t index, int32_t raw, int32_t quality) {
  TWert& w = GetWert(group, index);
  w.Raw = raw;
  if (w.bCalc) {
    w.WertReal = raw * w.Faktor + w.Offset;
    if (!w.bFloat) w.WertInt = RoundToInt32(w.WertReal);
  } else if (w.bFloat) {
    w.WertReal = raw;
  } else {
    w.WertInt = raw;
  }
  Stamp(w, quality);
}

void TFuMo::SetWertReal(int32_t group, int32_t index, double x, int32_t quality) {
  TWert& w = GetWert(group, index);
  w.Raw = 0;
  if (w.bCalc) {
    w.WertReal = x * w.Faktor + w.Offset;
    if (!w.bFloat) w.WertInt = RoundToInt32(w.WertReal);
  } else if (w.bFloat) {
    w.WertReal = x;
  } else {
    w.WertInt = RoundToInt32(x);
  }
  Stamp(w, quality);
}

void TFuMo::SetWriteRaw(int32_t group, int32_t index, int32_t raw, int32_t quality) {
  TWert& w = GetWert(group, index);
  w.WriteWert = w.bCalc ? raw * w.Faktor + w.Offset : double(raw);
  w.Quality = quality;
  w.bWritePending = true;
}

int32_t TFuMo::Hops() const {
  // Position (from 1) of the first zero byte minus 1, at least 1.
  auto zero = AdrPath.find('\0');
  int32_t hops = zero == std::string::npos ? -1 : int32_t(zero);
  return hops < 1 ? 1 : hops;
}

}  // namespace driver
