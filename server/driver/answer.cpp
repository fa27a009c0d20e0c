#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <string>

#include "platform/filetime.h"
#include "server/driver/custom_funk.h"
#include "server/driver/fml.h"
#include "server/driver/frame3964.h"
#include "server/driver/utilities.h"
#include "support/error_log.h"
#include "support/log_text.h"

namespace driver {

namespace {

// System registers of group 0 at an outstation and at the central modem.
constexpr int32_t kRsKomOk = 0, kRsKomOkInp = 1, kRsKomFail = 2, kRsRespTime = 3, kRsStatus = 4;
constexpr int32_t kRsFirstWord = 5, kRsWordCount = 8;
constexpr int32_t kRsDcfTime = 1, kRsDcfPcRef = 2;
// Radio-modem parameters of the central modem (group 5).
constexpr int32_t kRmId = 6, kRmVersion = 7, kRmDcfTime1 = 53;
constexpr size_t kTelPutData = 11;  // Put words start after the telegram header

std::string S(int32_t v) { return std::to_string(v); }

// Byte p (from 1) of s, or -1 when s is shorter: a missing byte matches nothing.
int32_t At(const std::string& s, size_t p) { return p >= 1 && p <= s.size() ? uint8_t(s[p - 1]) : -1; }

bool Differ(const std::string& answer, size_t p, const std::string& tel, size_t q) {
  int32_t x = At(answer, p);
  return x < 0 || x != At(tel, q);
}

// Word of register i of the answer, high byte first.
uint16_t AnswerWord(const TAnfrage& a, int32_t dofs, int32_t i) {
  const int64_t p = int64_t(dofs) + 2 * (int64_t(i) - a.GetStart);
  if (p < 1 || p + 1 > int64_t(a.Antwort.size())) throw std::out_of_range("answer shorter than its registers");
  return uint16_t(uint8_t(a.Antwort[size_t(p - 1)]) << 8 | uint8_t(a.Antwort[size_t(p)]));
}

// The word that the telegram carried for Put register i; false when the telegram has none
// (a request that was not built from these registers).
bool SentWord(const TAnfrage& a, int32_t i, uint16_t& w) {
  const int64_t p = int64_t(kTelPutData) + 2 * (int64_t(i) - a.PutStart);
  if (p < int64_t(kTelPutData) || p + 2 > int64_t(a.Tel.size())) return false;
  w = uint16_t(uint8_t(a.Tel[size_t(p)]) << 8 | uint8_t(a.Tel[size_t(p + 1)]));
  return true;
}

// "0" to "9" and a sign only; anything else is 0, as is an empty text.
int32_t DecimalOrZero(const std::string& s) {
  size_t p = 0;
  bool negative = false;
  if (p < s.size() && (s[p] == '+' || s[p] == '-')) negative = s[p++] == '-';
  if (p == s.size()) return 0;
  int32_t v = 0;
  for (; p < s.size(); ++p) {
    if (s[p] < '0' || s[p] > '9') return 0;
    v = v * 10 + (s[p] - '0');
  }
  return negative ? -v : v;
}

int32_t DaysInMonth(int32_t year, int32_t month) {
  static constexpr int32_t days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && (year % 4 == 0 && (year % 100 != 0 || year % 400 == 0))) return 29;
  return days[month - 1];
}

// Days since 30.12.1899 plus the fraction of the day: the clients' date-time as a double.
double DateTimeValue(int32_t y, int32_t m, int32_t d, int32_t hh, int32_t mm, int32_t ss) {
  // Days from civil (proleptic Gregorian) relative to 1970-01-01.
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t days1970 = era * 146097 + doe - 719468;
  return double(days1970 + 25569) + (hh * 3600 + mm * 60 + ss) / 86400.0;
}

double LocalDateTimeValue(platform::Clock::TimePoint t) {
  std::time_t secs = std::chrono::system_clock::to_time_t(t);
  std::tm tm{};
  localtime_r(&secs, &tm);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count() % 1000;
  if (ms < 0) ms += 1000;
  return DateTimeValue(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec) +
         double(ms) / 86400000.0;
}

}  // namespace

bool TCustomFunk::VerarbeiteAntwortTelegramm(TAnfrage& a, bool antwortErwartet) {
  bool result = true;
  try {
    if (a.Antwort.empty()) {
      if (antwortErwartet && a.AF == kAfStation && a.SendeErg == 0) {
        if (support::TestDbgFlag(2)) WriteLog("CF FM" + S(a.US) + ": Antwort fehlt!");
        // Only an outstation counts failures: the central modem's register 2 is the PC
        // reference time of its clock.
        if (HZ == 0 && a.US > 0) {
          std::unique_lock lock(RegisterLock);
          FML->Items(a.US).SetWertInt(kGroupSystem, kRsKomFail, GetRawValue(a.US, kGroupSystem, kRsKomFail) + 1,
                                      kQualityGood);
        }
        a.AF = kAfNone;
      }
      return true;
    }

    AnswerTime = platform::ToFileTime(clock_.Now());
    const uint8_t first = uint8_t(a.Antwort[0]);

    if (first == '*') {
      const int32_t kind = At(a.Antwort, 2);
      if (kind == 'V') {
        std::string v;
        for (char c : a.Antwort)
          if (c != '.' && c != ' ') v += c;
        int32_t version = 0, id = 0;
        if (v.size() == 10) {
          version = DecimalOrZero(v.substr(2, 4));
          id = DecimalOrZero(v.substr(6, 4));
        }
        std::unique_lock lock(RegisterLock);
        TFuMo& zfm = FML->Items(0);
        zfm.SetWertInt(kGroupRM, kRmVersion, version, kQualityGood);
        zfm.SetWertInt(kGroupRM, kRmId, id, kQualityGood);
      } else if (kind == 'Z') {
        ZS = -1;
        const size_t n = a.Antwort.size();
        if ((n == 4 && a.Antwort[3] == '1') || (n == 3 && a.Antwort[2] == '1')) {
          ZS = int32_t(uint8_t(a.Antwort[2])) - '0';
          if (ZS > 10) ZS = 10;
        }
        if (support::TestDbgFlag(2)) WriteLog("CF ZS=" + S(ZS));
      } else {
        WriteLog("CF Wrong ZFM-Telegramm " + a.Antwort);
      }
      a.Antwort.clear();
      return true;
    }

    if (first == 0xE0 || first == 0xE1) {
      const int32_t dataLength = DOfs - 1 + 2 * a.GetAnz;
      static const std::string kZfmHeader("\xE0\x00\x00\x00\x00\x03\x84", 7);
      // The central modem's answer belongs to its query, never to a station request of the same
      // length, whose registers it would fill. The query may have gone out before the current
      // request (just before a slot began): its answer is still the modem's own.
      if (a.Antwort.compare(0, 7, kZfmHeader) == 0) {
        const bool current = a.US == 0 && a.GetKl == 3 && a.GetStart == 0;
        TAnfrage* query = current ? &a : ZfmAnfrage.AF == kAfStation ? &ZfmAnfrage : nullptr;
        if (query && int32_t(a.Antwort.size()) == DOfs - 1 + 2 * query->GetAnz) {
          if (!current) {
            query->Antwort = std::move(a.Antwort);
            query->EmpfTel = a.EmpfTel;
            a.Antwort.clear();
          }
          ExtractRegisterB(*query);
          AnfrageErledigt(*query);
          query->AF = kAfNone;
          ZfmAnfrage.AF = kAfNone;
          if (support::TestDbgFlag(2)) WriteLog("CF ZFM: Antwort verarbeitet");
          // A station's own answer may still follow the modem's.
          return current || !antwortErwartet;
        }
      }
      if (!antwortErwartet) return true;

      int32_t p = 0;
      if (At(a.Antwort, 1) != (At(a.Tel, 1) | 0x80)) p = 1;
      for (size_t q = 5; q >= 3; --q)
        if (Differ(a.Antwort, q, a.Tel, q - 1)) p = int32_t(q);
      if (p == 0 && a.Antwort.size() == 5 && a.US > 0) {
        std::unique_lock lock(RegisterLock);
        TFuMo& st = FML->Items(a.US);
        st.SetWertInt(kGroupSystem, kRsKomFail, GetRawValue(a.US, kGroupSystem, kRsKomFail) + 1, kQualityGood);
        st.SetWertInt(kGroupSystem, kRsStatus, -1, kQualityGood);
        lock.unlock();
        if (support::TestDbgFlag(2)) WriteLog("CF FM" + S(a.US) + ": Leerantwort verarbeitet");
      } else {
        for (size_t q = 8; q >= 6; --q)
          if (Differ(a.Antwort, q, a.Tel, q)) p = int32_t(q);
        if (int32_t(a.Antwort.size()) != dataLength) p = int32_t(a.Antwort.size());
        if (p != 0) {
          const size_t head = DOfs > 1 ? size_t(DOfs - 1) : 0;
          WriteLog("CF Wrong AntwortHeader an Pos" + S(p) + ": " + StrToHex(a.Antwort.substr(0, head)) + " / " +
                   StrToHex(a.Tel.substr(0, head)));
          result = false;
          if (p != 3) {
            WriteDebugLog(false, "Tel.ung\xFCltig: Pos=" + S(p));
            WriteDebugLog(true, a.Antwort);
          }
        } else {
          ExtractRegisterB(a);
          AnfrageErledigt(a);
          if (support::TestDbgFlag(2)) WriteLog("CF FM" + S(a.US) + ": Antwort verarbeitet");
        }
      }
      a.Antwort.clear();
      a.AF = kAfNone;
      return result;
    }

    WriteLog("CF Wrong StartChar:" + StrToHex(a.Antwort));
  } catch (const std::exception& e) {
    WriteLog(std::string("CF: VerarbeiteAntwortTelegramm: Exception ") + e.what());
  }
  return result;
}

void TCustomFunk::ExtractRegisterB(TAnfrage& a) {
  int32_t i = a.GetStart;
  std::unique_lock lock(RegisterLock);
  try {
    TFuMo& st = FML->Items(a.US);
    const TClassLayout l = ClassLayout(st, a.GetKl);
    const int32_t b = l.bin, ana = l.ana, n = l.bits, words = l.words, e = l.firstWord;
    const int32_t end = a.GetStart + a.GetAnz;

    // An analog value that jumps far in one answer is taken for a damaged telegram once;
    // the next answers (while Sperre counts down) may carry it.
    bool refused = false;
    if (!st.bRE) {
      for (i = std::max(a.GetStart, words); i < end; ++i) {
        const int32_t v = AnswerWord(a, DOfs, i);
        const int32_t raw = st.GetWert(ana, i - words).Raw;
        if (v > 4095 && raw != 0 && std::abs(v - raw) > 2048) {
          WriteDebugLog(false, "Analog? Adr=" + S(st.Adr1) + ".An" + S(i - words) + ": " + support::Hex4(uint32_t(v)) +
                                   "/" + support::Hex4(uint32_t(raw)) + "  Sperre=" + S(st.Sperre));
          WriteDebugLog(true, a.EmpfTel);
          if (st.Sperre <= 0) refused = true;
        }
      }
    }
    if (refused) {
      st.Sperre = 3;
    } else {
      if (st.Sperre > 0) --st.Sperre;
      const bool trace = IsDbgFlag(3);
      for (i = a.GetStart; i < end; ++i) {
        const int32_t v = AnswerWord(a, DOfs, i);
        if (i < 0) {
          if (a.GetKl == 1 && a.GetStart == -1) {
            st.SetWertInt(kGroupSystem, kRsStatus, v, kQualityGood);
            if (v > 0) st.bWantWr[2] = true;
          }
        } else if (i < words) {
          if (e + i < kRsWordCount) st.SetWertInt(kGroupSystem, e + i + kRsFirstWord, v, kQualityGood);
          for (int32_t bit = 0; bit < 16 && 16 * i + bit < n; ++bit)
            st.SetWertInt(b, 16 * i + bit, (v >> bit) & 1, kQualityGood);
          if (trace)
            WriteLog(" CF: Extract " + S(a.US) + ": " + S(b) + "." + S(16 * i) + "(..+15)=" + support::Hex4(uint32_t(v)));
        } else {
          st.GetWert(ana, i - words).Raw = v;
          st.SetWertInt(ana, i - words, v, kQualityGood);
          if (trace) WriteLog(" CF: Extract " + S(ana) + "." + S(i - words) + "=" + S(v));
        }
      }
    }
    a.GetAnz = 0;
  } catch (const std::exception& e) {
    WriteLog(std::string("CF: ExtractRegisterB: Exception ") + e.what() + " iReg=" + S(i));
  }
}

void TCustomFunk::AnfrageErledigt(TAnfrage& a) {
  std::unique_lock lock(RegisterLock);
  TFuMo& st = FML->Items(a.US);
  st.bStateDirty = true;
  const size_t getKl = size_t(a.GetKl);
  // A class read in parts goes on with its next part at the station's next turn, and counts as
  // read once its last part came; so does a class written whole in parts.
  const TRange get = GetRangeOf(st, a.GetKl);
  bool classRead = true;
  if (get.count > kMaxGetWords) {
    st.GetDone.at(getKl) = PartOf(get.count, a.GetStart - get.first, kMaxGetWords).next;
    classRead = st.GetDone[getKl] == 0;
  }
  if (a.PutKl == 2) {
    const TRange put = ClassRangeOf(st, a.PutKl);
    if (put.count > kMaxPutWords) st.PutDone[2] = PartOf(put.count, a.PutStart, kMaxPutWords).next;
  }
  if (classRead) st.bDoneRd.at(getKl) = true;
  if (st.iWantRd.at(getKl) > 0) st.iWantRd[getKl] = st.iWantRd[getKl] - 1;
  st.LastGetClass = a.GetKl;
  if (a.PutKl != 0) st.LastPutClass = a.PutKl;

  // Confirm what the telegram carried. A value written again after the telegram was built
  // stays pending (quality 0x14) and goes out with a later request.
  const TClassLayout l = ClassLayout(st, a.PutKl);
  const int32_t b = l.bin, ana = l.ana, n = l.bits, words = l.words, e = l.firstWord;
  bool keptPending = false;
  auto confirm = [&](int32_t group, int32_t index, bool matches) {
    if (matches)
      CommitWrite(a.US, group, index);
    else if (st.GetWert(group, index).bWritePending)
      keptPending = true;
  };
  for (int32_t i = a.PutStart; i < a.PutStart + a.PutAnz; ++i) {
    uint16_t sent = 0;
    const bool known = SentWord(a, i, sent);
    if (i < 0) {
      // The status word is always sent as 0, whatever was written to it.
      if (i == -1 && a.PutKl == 1) CommitWrite(a.US, kGroupSystem, kRsStatus);
    } else if (i < words) {
      if (e + i < kRsWordCount)
        confirm(kGroupSystem, e + i + kRsFirstWord,
                !known || uint16_t(GetRawWriteValue(a.US, kGroupSystem, e + i + kRsFirstWord)) == sent);
      for (int32_t bit = 0; bit < 16 && 16 * i + bit < n; ++bit) {
        const bool value = GetRawWriteValue(a.US, b, 16 * i + bit) != 0;
        confirm(b, 16 * i + bit, !known || value == bool((sent >> bit) & 1));
      }
    } else {
      confirm(ana, i - words, !known || uint16_t(GetRawWriteValue(a.US, ana, i - words)) == sent);
    }
  }

  const size_t putKl = size_t(a.PutKl);
  st.bWantWr.at(putKl) = keptPending;
  if (a.PutKl == 1 || a.PutKl == 3) {
    for (const TWert& w : st.Groups[size_t(ana)])
      if (w.bWritePending) st.bWantWr[putKl] = true;
  }

  if (a.US > 0) {
    st.SetWertInt(kGroupSystem, kRsKomOk, GetRawValue(a.US, kGroupSystem, kRsKomOk) + 1, kQualityGood);
    if (a.GetKl == 1)
      st.SetWertInt(kGroupSystem, kRsKomOkInp, GetRawValue(a.US, kGroupSystem, kRsKomOkInp) + 1, kQualityGood);
    st.SetWertInt(kGroupSystem, kRsKomFail, 0, kQualityGood);
    st.SetWertInt(kGroupSystem, kRsRespTime, int32_t(a.AntwortMs), kQualityGood);
    st.AdaptTimeout(a.TOindex, int32_t(a.AntwortMs));
    return;
  }
  if (a.GetKl == 3 && st.RegCount(kGroupRM) >= kRmDcfTime1 + 3) CheckDcfTime(a);
}

// The central modem's clock time, BCD in the high and low bytes of three parameters: year and
// month, day and hour, minute and second. Caller holds RegisterLock for writing.
void TCustomFunk::CheckDcfTime(TAnfrage& a) {
  const int32_t t1 = GetRawValue(0, kGroupRM, kRmDcfTime1);
  const int32_t t2 = GetRawValue(0, kGroupRM, kRmDcfTime1 + 1);
  const int32_t t3 = GetRawValue(0, kGroupRM, kRmDcfTime1 + 2);
  const int32_t year = BCDToInt(t1 >> 8) + 2000, month = BCDToInt(t1 & 0xFF);
  const int32_t day = BCDToInt(t2 >> 8), hour = BCDToInt(t2 & 0xFF);
  const int32_t minute = BCDToInt(t3 >> 8), second = BCDToInt(t3 & 0xFF);
  if (day == 0) return;

  bool valid = year > 2001 && year <= 2038 && month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour <= 23 &&
               minute <= 59 && second <= 59;
  // A day the month does not have (31 April) cannot be turned into a time: invalid as well.
  if (valid && day > DaysInMonth(year, month)) valid = false;
  if (valid && DcfDay > 0) {
    if (day > DcfDay + 1 || (day < DcfDay && day > 1)) valid = false;
    if (month > DcfMonth + 1 || (month < DcfMonth && month > 1)) valid = false;
    if (year > DcfYear + 1 || year < DcfYear) valid = false;
  }
  TFuMo& zfm = FML->Items(0);
  if (valid) {
    if (DcfDay > 0) {
      zfm.SetWertReal(kGroupSystem, kRsDcfTime, DateTimeValue(year, month, day, hour, minute, second), kQualityGood);
      zfm.SetWertReal(kGroupSystem, kRsDcfPcRef, LocalDateTimeValue(clock_.Now()), kQualityGood);
    }
  } else {
    WriteDebugLog(false, "  DCF-Zeitangabe=" + S(day) + "." + S(month) + "." + S(year) + "  " + S(hour) + ":" +
                             S(minute) + ":" + S(second) + "  zuletzt=" + S(DcfDay) + "." + S(DcfMonth) + "." +
                             S(DcfYear));
    WriteDebugLog(true, a.EmpfTel);
    SetQuality(0, kGroupSystem, kQualityLastKnown, kRsDcfTime);
  }
  DcfDay = day;
  DcfMonth = month;
  DcfYear = year;
}

}  // namespace driver
