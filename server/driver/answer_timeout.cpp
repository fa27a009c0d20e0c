// The answer time-out of a station: estimated before a request from what this and other
// stations have learned, and learned from the time each answer took.
#include <exception>
#include <stdexcept>
#include <string>

#include "server/driver/fml.h"
#include "server/driver/utilities.h"
#include "support/log_text.h"

namespace driver {

namespace {

constexpr int32_t kPerRegister = 18;  // ms per register on the radio
constexpr int32_t kMargin = 60;
constexpr int32_t kStartBase = 200 + 108 + 81 + 240;
constexpr int32_t kFallback = 6000;
constexpr int32_t kDbgTimeout = 2;

// 32-bit arithmetic that raises on overflow instead of wrapping.
int32_t Checked(int64_t v) {
  if (v < INT32_MIN || v > INT32_MAX) throw support::EIntOverflow();
  return int32_t(v);
}

std::string I(int32_t v) { return support::IntStr(v); }

int32_t Estimate(TFML& fml, int32_t s, int32_t t) {
  TFuMo& st = fml.Items(s);
  if (t < 0 || t >= kTimeoutTypes) throw std::out_of_range("time-out index");
  const auto ti = size_t(t);
  const int32_t hops = st.Hops();
  const std::string head = " CF Timeoutbestimmung: US=" + I(s) + " [" + I(t) + "]";
  int32_t r = 0;
  if (st.Timeout[ti] > 0) return st.Timeout[ti];

  for (int32_t c = 5; c >= 1 && r == 0; --c) {
    if (st.Timeout[size_t(c)] <= 0) continue;
    int32_t d = Checked(int64_t(st.RegCnt[ti]) - st.RegCnt[size_t(c)]);
    r = Checked(int64_t(st.Timeout[size_t(c)]) + kMargin);
    if (d > 0) r = Checked(r + int64_t(kPerRegister) * d * hops);
    if (IsDbgFlag(kDbgTimeout))
      WriteLog(head + " aus [" + I(c) + "] =" + I(r) + " (" + I(st.Timeout[size_t(c)]) + " +" + I(d) + "*" +
               I(kPerRegister) + "*" + I(hops) + ")");
  }

  // Learned time-outs of the other stations, first of those with as many hops, then of all.
  for (int pass = 0; pass < 2 && r == 0; ++pass) {
    const bool relative = pass == 1;
    int32_t a = st.RegCnt[ti];
    for (int32_t o = 1; o < fml.Count(); ++o) {
      TFuMo& other = fml.Items(o);
      if (other.Timeout[ti] <= 0) continue;
      const int32_t oh = other.Hops();
      int32_t u = other.Timeout[ti];
      if (oh > 1) {
        u /= oh;
        if (relative && hops < oh) u = Checked(int64_t(u) + kMargin);
      }
      if (oh != hops && !relative) continue;
      a = Checked(int64_t(a) - other.RegCnt[ti]);
      int32_t p = Checked(int64_t(u) + kMargin);
      if (a > 0) p = Checked(p + int64_t(kPerRegister) * a);
      r = Checked(int64_t(p) * hops);
      if (IsDbgFlag(kDbgTimeout))
        WriteLog(head + " aus US=" + I(o) + AdrText(o) + " =" + I(r) + " (" + I(u) + " +" + I(a) + "*" +
                 I(kPerRegister) + "*" + I(hops) + ")" + " (Reldiff=" + support::BoolToText(relative) + ")");
    }
  }

  if (r == 0) {
    r = Checked((int64_t(kStartBase) + int64_t(kPerRegister) * st.RegCnt[ti]) * hops);
    st.Timeout[0] = -r;
    if (IsDbgFlag(kDbgTimeout)) WriteLog(head + " Startwert=" + I(r));
  }
  return r;
}

}  // namespace

int32_t Timeoutbestimmung(int32_t stationIndex, int32_t t) {
  try {
    if (!FML) throw std::out_of_range("no station list");
    int32_t r = Estimate(*FML, stationIndex, t);
    FML->Items(stationIndex).Timeout[size_t(t)] = -r;  // an estimate, even from a learned value
    return r;
  } catch (const std::exception&) {
    WriteLog(" FML: Exception in Timeoutbestimmung! US=" + I(stationIndex) + AdrText(stationIndex) +
             " TOindex=" + I(t));
    return kFallback;
  }
}

void TFuMo::AdaptTimeout(int32_t t, int32_t ms) {
  if (ms <= 0 || t <= 0) return;
  int32_t& to = Timeout.at(size_t(t));
  int64_t b = to < 0 ? -int64_t(to) + 1000 : to;
  if (ms > b) {
    to = Checked(int64_t(to) + 1);
  } else if (ms < b && int64_t(ms) + kMargin < b) {
    to = Checked(int64_t(ms) + kMargin);
    if (IsDbgFlag(kDbgTimeout))
      WriteLog("  US" + I(StationIndex) + ": Timeout[" + I(t) + "]=" + I(to) + "   (" + I(ms) + ")");
  }
  if (t == 5) to = 0;  // the parameter class never keeps a learned time-out
}

}  // namespace driver
