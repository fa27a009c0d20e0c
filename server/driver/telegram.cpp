#include <mutex>
#include <shared_mutex>
#include <string>

#include "server/driver/custom_funk.h"
#include "server/driver/fml.h"
#include "server/driver/frame3964.h"
#include "server/driver/utilities.h"
#include "support/error_log.h"

namespace driver {

namespace {


std::string S(int32_t v) { return std::to_string(v); }

}  // namespace

void TCustomFunk::ErzeugeTel() {
  TAnfrage& a = Anfrage;
  a.Tel.clear();
  a.Antwort.clear();
  const bool query = a.AF == kAfZfmQuery;
  if (query) {
    TFuMo& zfm = FML->Items(0);
    a.AF = kAfStation;
    a.US = 0;
    a.TOindex = 0;
    a.GetKl = 3;
    a.GetStart = 0;
    a.GetAnz = zfm.RegCount(kGroupRM);
    a.PutKl = 3;
    a.PutStart = 0;
    a.PutAnz = 0;
    std::shared_lock lock(RegisterLock);
    if (const int32_t i = FirstPendingWrite(zfm, kGroupRM); i >= 0) {
      a.PutStart = i;
      a.PutAnz = 1;
    }
  }
  if (a.AF == kAfModeMessage) {
    a.Tel = "*W1";
    return;
  }
  if (a.AF != kAfStation) return;

  if (a.PutAnz > kMaxPutWords) {
    // The count goes out as one byte and the telegram holds 255 bytes: a longer Put range
    // would send data the station cannot match to its registers. The rest stays pending.
    WriteLog(" CF: ErzeugeTel FM" + S(a.US) + ": PutAnz " + S(a.PutAnz) + " > " + S(kMaxPutWords));
    a.PutAnz = kMaxPutWords;
  }
  a.Tel += char(0x60);
  a.Tel += FML->Items(a.US).GetAdrPath();
  a.Tel += WordToStr2(uint16_t(RegBase.at(size_t(a.GetKl)) + a.GetStart));
  a.Tel += char(a.GetAnz);
  a.Tel += WordToStr2(uint16_t(RegBase.at(size_t(a.PutKl)) + a.PutStart));
  a.Tel += char(a.PutAnz);
  BuildPutData(a);
  if (query) ZfmAnfrage = a;
  if (IsDbgFlag(3))
    WriteLog(" CF: ErzeugeTel FM" + S(a.US) + ": Get:" + S(a.GetKl) + "." + S(a.GetStart) + "-" + S(a.GetAnz) +
             ", Put:" + S(a.PutKl) + "." + S(a.PutStart) + "-" + S(a.PutAnz));
}

void TCustomFunk::BuildPutData(TAnfrage& a) {
  TFuMo& st = FML->Items(a.US);
  const TClassLayout l = ClassLayout(st, a.PutKl);
  const bool trace = IsDbgFlag(3);
  // Writer, not reader: the output word registers take the word being sent.
  std::unique_lock lock(RegisterLock);
  for (int32_t i = a.PutStart; i < a.PutStart + a.PutAnz; ++i) {
    int32_t w = 0;  // the status word is always written as 0
    if (i >= 0 && i < l.words) {
      for (int32_t bit = 0; bit < 16 && 16 * i + bit < l.bits; ++bit)
        if (GetRawWriteValue(a.US, l.bin, 16 * i + bit) != 0) w |= 1 << bit;
      if (l.firstWord + i < 8) {
        TWert& word = st.GetWert(kGroupSystem, l.firstWord + i + 5);
        word.WriteWert = w;
        word.bWritePending = true;
      }
      if (trace) WriteLog(" CF: Build " + S(a.US) + ": " + S(l.bin) + "." + S(16 * i) + "ff=" + S(w));
    } else if (i >= l.words) {
      w = GetRawWriteValue(a.US, l.ana, i - l.words);
      if (trace) WriteLog(" CF: Build " + S(a.US) + ": " + S(l.ana) + "." + S(i - l.words) + "=" + S(w));
    }
    a.Tel += WordToStr2(uint16_t(w));
  }
}

}  // namespace driver
