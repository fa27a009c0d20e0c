// The host's batches of reads and writes against the register image. Nothing here waits for
// the radio line: a read answers from the image and marks the register's class as wanted, a
// write stores a pending value for the driver to send. RegisterLock is taken per record, so a
// large batch never keeps the driver out for long.
#include <exception>
#include <mutex>
#include <shared_mutex>
#include <stdexcept>
#include <string>

#include "platform/com/variant.h"
#include "server/driver/fml.h"
#include "server/driver/utilities.h"
#include "server/opc/exports.h"
#include "server/opc/item_handle.h"
#include "server/opc/values.h"
#include "support/error_log.h"
#include "support/log_text.h"

namespace opc {

namespace {

namespace com = platform::com;
using platform::toolkit::TDARequest;
using support::IntStr;

// The steps that the exception line reports.
enum Step : int32_t {
  kDecoded = 1,
  kDispatched = 2,
  kReading = 3,
  kReadStored = 4,
  kWriting = 5,
  kWriteStored = 6,
  kBatchDone = 9,
};

constexpr int32_t kFirstWordRegister = 5;  // group-0 registers 5..12 carry the DIN/DOUT words
constexpr int32_t kLastWordRegister = 12;

// Request class of a read of the group: 1 inputs, 2 outputs, 3 parameters, 0 none.
int32_t ReadClass(int32_t group) {
  switch (group) {
    case driver::kGroupAE:
    case driver::kGroupBE: return 1;
    case driver::kGroupAA:
    case driver::kGroupBA: return 2;
    case driver::kGroupRM: return 3;
    default: return 0;
  }
}

// Writes also wake the inputs class for an outstation's status word.
int32_t WriteClass(const ItemHandle& h) {
  if (h.group == driver::kGroupSystem) return h.reg == 4 && h.station > 0 ? 1 : 0;
  return ReadClass(h.group);
}

std::string Address(const ItemHandle& h) {
  return IntStr(h.station) + ":" + IntStr(h.group) + "-" + IntStr(h.reg);
}

// The station of a request; a station index beyond the list is an error, never a read outside it.
driver::TFuMo& Station(const ItemHandle& h) {
  if (!driver::FML) throw std::logic_error("no station list");
  return driver::FML->Items(h.station);
}

struct Flags {
  bool requests = support::TestDbgFlag(16);
  bool values = driver::IsDbgFlag(17);  // bits 16 and 1
};

void Read(TDARequest& r, const ItemHandle& h, const Flags& flags, int32_t& step) {
  std::string line;
  {
    std::shared_lock lock(driver::RegisterLock);
    driver::TFuMo& st = Station(h);
    const driver::TWert& w = st.GetWert(h.group, h.reg);
    com::RawVariant v = platform::toolkit::RequestValue(r);
    com::RawVariantClear(&v);
    if (w.bFloat) {
      v.vt = com::VT_R8;
      v.dblVal = w.WertReal;
    } else {
      v.vt = com::VT_I4;
      v.lVal = w.WertInt;
    }
    platform::toolkit::SetRequestValue(r, v);
    r.Quality = uint16_t(w.Quality);
    r.TimeStamp = w.TimeStamp;
    if (int32_t k = ReadClass(h.group)) st.iWantRd[size_t(k)] = 1;
    step = kReadStored;
    if (flags.values)
      line = "   OPC-Read:" + Address(h) + " =" + ValueText(v) + " Q=$" + support::Hex2(r.Quality);
  }
  if (!line.empty()) driver::WriteLog(line);
}

// A write to an input or output word is spread over the word's 16 binary registers.
void SpreadWord(driver::TFuMo& st, int32_t reg, int32_t bits) {
  const int32_t k = reg - kFirstWordRegister;
  const int32_t n = driver::BitWordCount(st.RegCount(driver::kGroupBE));
  const int32_t target = k < n ? driver::kGroupBE : driver::kGroupBA;
  const int32_t word = k < n ? k : k - n;
  for (int32_t b = 0; b < 16; ++b) {
    const int32_t r = word * 16 + b;
    if (r < st.RegCount(target)) st.SetWriteRaw(target, r, (bits >> b) & 1, driver::kQualityLastKnown);
  }
  st.bWantWr[target == driver::kGroupBE ? 1 : 2] = true;
}

void Write(TDARequest& r, const ItemHandle& h, const Flags& flags, int32_t& step) {
  std::string line;
  {
    std::unique_lock lock(driver::RegisterLock);
    driver::TFuMo& st = Station(h);
    driver::TWert& w = st.GetWert(h.group, h.reg);
    const com::RawVariant v = platform::toolkit::RequestValue(r);
    const bool word = h.group == driver::kGroupSystem && h.reg >= kFirstWordRegister && h.reg <= kLastWordRegister;
    int32_t bits = 0;
    if (h.group == driver::kGroupSystem && (h.reg == 0 || h.reg == 1)) {
      // The station's good-answer counters take a client's value at once; nothing is sent.
      w.WertInt = VariantAsInt(v);
    } else {
      // Both conversions before anything is stored, so a value that fails changes nothing.
      const double value = VariantAsDouble(v);
      if (word) bits = VariantAsInt(v);
      w.WriteWert = value;
      w.Quality = driver::kQualityLastKnown;
      w.bWritePending = true;
      if (int32_t k = WriteClass(h)) st.bWantWr[size_t(k)] = true;
    }
    step = kWriteStored;
    if (word) SpreadWord(st, h.reg, bits);
    if (flags.values) line = "   OPC-Write:" + Address(h) + " =" + ValueText(v);
  }
  if (!line.empty()) driver::WriteLog(line);
}

// Written even while logging is off: a batch that ends early must leave a trace.
void LogException(int32_t i, int32_t count, int32_t step, const char* message) {
  support::LogMessageForced("Except in HandleDSRequest! " + IntStr(i) + "/" + IntStr(count) + " at " + IntStr(step) +
                            " " + message);
}

}  // namespace

}  // namespace opc

void SOXpSHandleDARequests(int32_t operation, int32_t count, platform::toolkit::TDARequest* records) {
  using namespace opc;
  int32_t i = 0;
  int32_t step = 0;
  try {
    const Flags flags;
    if (flags.requests) driver::WriteLog("  DArequest" + IntStr(operation) + " Anz=" + IntStr(count));
    if (count > 0 && !records) throw std::invalid_argument("no request records");
    for (i = 0; i < count; ++i) {
      TDARequest& r = records[i];
      r.State = 2;
      r.Quality = 0;
      const ItemHandle h = ItemHandle::Decode(r.ItemHandle);
      step = kDecoded;
      if (h.property != 0) {
        if (flags.requests) driver::WriteLog("   OPC-RW:" + Address(h) + ": PropIndex=" + IntStr(h.property));
        continue;
      }
      step = kDispatched;
      if (operation == platform::toolkit::kRequestRead) {
        step = kReading;
        Read(r, h, flags, step);
      } else if (operation == platform::toolkit::kRequestWrite) {
        step = kWriting;
        Write(r, h, flags, step);
      }
      r.Result = 0;
    }
    step = kBatchDone;
  } catch (const std::exception& e) {
    LogException(i, count, step, e.what());
  } catch (...) {
    LogException(i, count, step, "unknown exception");
  }
}
