#include <algorithm>
#include <cmath>
#include <mutex>

#include "server/driver/custom_funk.h"
#include "server/driver/fml.h"
#include "server/driver/options.h"

namespace driver {

namespace {

// The telegram's form of a value: scaling undone, rounded half to even; anything that does
// not fit 16 bits (NaN and a zero factor included) is sent as 0.
int32_t RawOf(const TWert& w, bool writeValue) {
  double x;
  if (writeValue && w.bWritePending) {
    x = w.WriteWert;
  } else if (!w.bFloat && !w.bCalc) {
    return w.WertInt;
  } else {
    x = w.bFloat ? w.WertReal : double(w.WertInt);
  }
  if (w.bCalc) x = (x - w.Offset) / w.Faktor;
  if (!(std::fabs(x) <= 65535.0)) return 0;
  return RoundToInt32(x);
}

}  // namespace

TClassLayout ClassLayout(const TFuMo& st, int32_t kl) {
  TClassLayout l;
  l.bin = BinGroup.at(size_t(kl));
  l.ana = AnaGroup.at(size_t(kl));
  l.bits = st.RegCount(l.bin);
  l.words = BitWordCount(l.bits);
  l.firstWord = l.bin == kGroupBA ? BitWordCount(st.RegCount(kGroupBE)) : 0;
  return l;
}

TPart PartOf(int32_t count, int32_t done, int32_t max) {
  if (count <= max || max <= 0) return {0, count, 0};
  const int32_t parts = (count + max - 1) / max;
  const int32_t size = (count + parts - 1) / parts;
  if (done < 0 || done >= count || done % size != 0) done = 0;
  TPart p{done, std::min(size, count - done), done + size};
  if (p.next >= count) p.next = 0;
  return p;
}

TRange ClassRangeOf(const TFuMo& st, int32_t kl) {
  const TClassLayout l = ClassLayout(st, kl);
  return {0, l.words + st.RegCount(l.ana)};
}

TRange GetRangeOf(const TFuMo& st, int32_t kl) {
  TRange r = ClassRangeOf(st, kl);
  if (kl == 1) {
    r.first = -1;
    ++r.count;
  }
  if (kl == 3) {
    while (r.count > Options.SYSREGCOUNT) {
      ++r.first;
      --r.count;
    }
  }
  return r;
}

int32_t FirstPendingWrite(const TFuMo& st, int32_t group) {
  const auto& records = st.Groups.at(size_t(group));
  for (size_t i = 0; i < records.size(); ++i)
    if (records[i].bWritePending) return int32_t(i);
  return -1;
}

int32_t TCustomFunk::GetRawValue(int32_t us, int32_t group, int32_t index) {
  return RawOf(FML->GetWert(us, group, index), false);
}

int32_t TCustomFunk::GetRawWriteValue(int32_t us, int32_t group, int32_t index) {
  return RawOf(FML->GetWert(us, group, index), true);
}

void TCustomFunk::CommitWrite(int32_t us, int32_t group, int32_t index) {
  TWert& w = FML->GetWert(us, group, index);
  if (!w.bWritePending) return;
  w.bWritePending = false;
  if (w.bFloat)
    w.WertReal = w.WriteWert;
  else
    w.WertInt = RoundToInt32(w.WriteWert);
  if (Options.PERMANENTDATEN) w.Raw = RawOf(w, true);
  w.Quality = kQualityGood;
  w.TimeStamp = AnswerTime;
}

void TCustomFunk::SetQuality(int32_t us, int32_t group, int32_t quality, int32_t index) {
  FML->GetWert(us, group, index).Quality = quality;
}

void TCustomFunk::SetZFMStatus(int32_t status) {
  ZFMok = status > 0;
  std::unique_lock lock(RegisterLock);
  FML->Items(0).SetWertInt(kGroupSystem, 0, status, kQualityGood);
}

}  // namespace driver
