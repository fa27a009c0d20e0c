// The request scheduler: which station is asked next, for which registers, and how long its
// answer may take.
#include <cstdlib>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "server/driver/custom_funk.h"
#include "server/driver/fml.h"
#include "server/driver/options.h"
#include "server/driver/utilities.h"
#include "support/error_log.h"

namespace driver {

namespace {

constexpr int32_t kRsKomFail = 2;
constexpr int32_t kRsStatus = 4;

// Time-out indexes of the requests.
constexpr int32_t kToFirstOutputs = 1;
constexpr int32_t kToInputsOutputs = 2;
constexpr int32_t kToInputsRun = 3;
constexpr int32_t kToParameters = 4;
constexpr int32_t kToInputsLongRun = 5;

std::string S(int32_t v) { return std::to_string(v); }

// Registers of a request class at a station: its binary words and its analog registers.
struct ClassSize {
  int32_t words;
  int32_t analog;
};
ClassSize SizeOf(const TFuMo& st, int32_t kl) {
  const TClassLayout l = ClassLayout(st, kl);
  return {l.words, st.RegCount(l.ana)};
}

}  // namespace

void TCustomFunk::NextAnfrage() {
  TAnfrage& a = Anfrage;
  const int32_t count = FML ? FML->Count() : 0;
  if (count == 0) return;
  const bool outstations = count > 1;

  // 1. Station choice: every station in a normal cycle; in an auxiliary cycle only those that
  // failed at least once and at most HILFSFAILMAX times.
  for (int32_t c = 0;;) {
    ++AktFM;
    ++c;
    if (AktFM >= count) {
      AktFM = 1;
      if (++HZ > Options.HILFSZYKLEN) HZ = 0;
      // A whole round without a station to visit ends the auxiliary cycles.
      if (c > count - 1) HZ = 0;
    }
    int32_t f = 0;
    if (HZ > 0 && outstations) {
      std::shared_lock lock(RegisterLock);
      f = GetRawValue(AktFM, kGroupSystem, kRsKomFail);
    }
    if (IsDbgFlag(3))
      support::LogMessage("iFM=" + S(AktFM) + " Z=" + S(HZ) + " Fail=" + S(f) + "  Max=" + S(Options.HILFSZYKLEN) +
                          "/" + S(Options.HILFSFAILMAX));
    if (HZ == 0 || (f >= 1 && f <= Options.HILFSFAILMAX)) break;
  }

  // 2. A station request with nothing chosen yet. Without outstations there is nothing to
  // send: a request to none would go out as an empty telegram to the central modem.
  a.TOindex = 0;
  a.AF = kAfStation;
  a.GetKl = 0;
  a.PutKl = 0;
  if (!outstations) {
    AktFM = 0;
    a.AF = kAfNone;
    return;
  }

  // 3.
  a.US = AktFM;
  TFuMo& s = FML->Items(a.US);

  // 4. Get class: the outputs once, then inputs, every SYSPOLLZYKLUS-th time the parameters
  // when they are wished.
  if (!s.bDoneRd[2]) {
    a.TOindex = kToFirstOutputs;
    a.GetKl = 2;
  } else {
    a.GetKl = 1;
    s.PollCount = s.LastGetClass == 1 ? s.PollCount + 1 : 0;
    if (s.PollCount + 1 < Options.SYSPOLLZYKLUS || s.iWantRd[3] <= 0) {
      a.TOindex = kToInputsRun;
      if (s.LastPutClass == 2 && s.bWantWr[1]) {
        a.PutKl = 1;
      } else {
        a.TOindex = kToInputsOutputs;
        a.PutKl = Options.SIMULATION && s.bWantWr[1] ? 1 : 2;
      }
    } else {
      a.TOindex = kToParameters;
      a.GetKl = 3;
      if (s.bWantWr[3]) a.PutKl = 3;
    }
  }

  // 5. Get range: the whole class; inputs from the status word on; of the parameters only the
  // last SYSREGCOUNT. A class that one answer frame cannot hold is read in parts, the next part
  // at the station's next turn, so that its neighbours keep their rate.
  const TRange get = GetRangeOf(s, a.GetKl);
  const TPart getPart = PartOf(get.count, s.GetDone[size_t(a.GetKl)], kMaxGetWords);
  a.GetStart = get.first + getPart.done;
  a.GetAnz = getPart.count;

  // 6. Put range. The scan of pending writes takes the reader's side of the lock, since the
  // request threads set them; a write that comes during the scan goes with a later request.
  if (a.PutKl == 1) {
    const ClassSize inputs = SizeOf(s, 1);
    std::shared_lock lock(RegisterLock);
    a.PutStart = 0;
    a.PutAnz = 0;
    if (s.GetWert(kGroupSystem, kRsStatus).bWritePending) {
      a.PutStart = -1;
      a.PutAnz = 1;
    } else {
      const auto& group = s.Groups[kGroupAE];
      for (size_t i = 0; i < group.size(); ++i) {
        if (!group[i].bWritePending) {
          if (a.PutAnz > 0) break;
          continue;
        }
        if (a.PutAnz == 0) a.PutStart = inputs.words + int32_t(i);
        if (++a.PutAnz > 1) a.TOindex = kToInputsLongRun;
      }
    }
    if (Options.SIMULATION) {
      a.PutStart = -1;
      a.PutAnz = inputs.words + inputs.analog + 1;
    }
  } else if (a.PutKl == 3) {
    std::shared_lock lock(RegisterLock);
    const int32_t first = FirstPendingWrite(s, kGroupRM);
    a.PutStart = first >= 0 ? first : 0;
    a.PutAnz = first >= 0 ? 1 : 0;
  } else {
    // The whole class, in parts as the Get range when one request cannot carry it.
    const TPart putPart = PartOf(ClassRangeOf(s, a.PutKl).count, s.PutDone[size_t(a.PutKl)], kMaxPutWords);
    a.PutStart = putPart.done;
    a.PutAnz = putPart.count;
  }

  // 7. Answer time-out: learned, else estimated; plus the station's extra wait and the
  // distance of TIMEOUT from its default.
  const auto t = size_t(a.TOindex);
  int32_t to = s.Timeout[t];
  if (to <= 0) {
    s.RegCnt[t] = a.GetAnz + a.PutAnz;
    to = Timeoutbestimmung(a.US, a.TOindex);
  }
  a.TO = to + s.ExtraWait + std::abs(Options.TIMEOUT - 150);

  // 8.
  if (IsDbgFlag(3))
    WriteLog(" CF: NextAnfrage FM" + S(AktFM) + "(HZy=" + S(HZ) + ")" + ": Get " + S(a.GetKl) + ":" + S(a.GetStart) +
             "/" + S(a.GetAnz) + ", Put " + S(a.PutKl) + ":" + S(a.PutStart) + "/" + S(a.PutAnz) + ", TO=" + S(a.TO));
}

}  // namespace driver
