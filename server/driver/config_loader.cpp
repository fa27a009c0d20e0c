#include "server/driver/config_loader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "platform/files.h"
#include "server/driver/error_codes.h"
#include "server/driver/fml.h"
#include "server/driver/options.h"
#include "server/driver/station_state.h"
#include "server/driver/sys_regs.h"
#include "server/driver/utilities.h"
#include "support/error_log.h"
#include "support/ini_reader.h"
#include "support/log_text.h"

namespace driver {

namespace {

using support::IntStr;

constexpr int kText = 255;
constexpr double kRealLimit = 9999999.9;
constexpr int32_t kLargestInteger = 32767;  // larger factors or offsets make a float register

bool Trace(int32_t bit) { return support::TestDbgFlag(bit); }
bool TraceDetail() { return support::TestDbgFlag(1) && support::TestDbgFlag(8); }

// Runs f; any failure inside becomes an EFML with the given code.
template <class F>
auto Guarded(int32_t code, F&& f) {
  try {
    return f();
  } catch (const std::exception&) {
    throw EFML(code);
  }
}

// Closes a block read however its loop ends.
struct BlockGuard {
  BlockGuard() { support::OPEN_INI_BLOCK(); }
  ~BlockGuard() { support::CLOSE_INI_BLOCK(); }
  BlockGuard(const BlockGuard&) = delete;
  BlockGuard& operator=(const BlockGuard&) = delete;
};

// The key of a line (KANAL=, TYP=) is ignored.
void DropKey(std::string& line) {
  auto eq = line.find('=');
  if (eq != std::string::npos) line.erase(0, eq + 1);
}

std::unique_ptr<TFuMo> NewStation() {
  return Guarded(kErrStationNotCreated, [] { return std::make_unique<TFuMo>(); });
}

TWert NewWert() {
  return Guarded(kErrChannelNotCreated, [] {
    TWert w;
    InitWert(w);
    return w;
  });
}

int32_t Append(std::unique_ptr<TFuMo> station) {
  return Guarded(kErrAppendStation, [&] { return FML->Add(std::move(station)); });
}

void ReadCentralModem() {
  support::Set_INI_Section("Zentralfunkmodem");
  std::string line = Guarded(kErrReadLine, [] { return support::Read_Parameter("Typ"); });
  auto zfm = NewStation();
  zfm->Sort = 0;
  support::Get_StrParameter(line, kText, zfm->StationName);
  support::Get_StrParameter(line, kText, zfm->TypeName);
  zfm->AdrPath = std::string(4, '\0');
  zfm->Timeout.fill(200);
  if (Trace(8)) WriteLog("FML: CreateFML, ZFM=" + zfm->StationName);
  Options.MODUS = support::Read_IntParameter("MODUS", 0, 2, -1);
  if (Options.MODUS == -1) throw EFML(kErrIniText);
  TFuMo* raw = zfm.get();
  raw->StationIndex = Append(std::move(zfm));
}

// The relays in radio order, then the station itself, padded with zero bytes; an Adr3
// without Adr2 is ignored.
std::string MakeAdrPath(int32_t adr1, int32_t adr2, int32_t adr3) {
  std::string path;
  if (adr2 > 0) path += char(adr2);
  if (adr2 > 0 && adr3 > 0) path += char(adr3);
  path += char(adr1);
  path.resize(4, '\0');
  return path;
}

void ReadStations() {
  support::Set_INI_Section("Unterstationen");
  BlockGuard block;
  for (std::string line;;) {
    support::INI_ZEILE(line);
    if (line.empty()) break;
    if (FML->Count() - 1 >= kMaxOutstations) {
      WriteLog("FML: CreateFML, more than " + IntStr(kMaxOutstations) + " stations, not loaded: " + line);
      continue;
    }
    DropKey(line);
    auto st = NewStation();
    support::Get_StrParameter(line, kText, st->StationName);
    support::Get_StrParameter(line, kText, st->TypeName);
    st->Sort = support::Get_IntParameter(line, kText, 1, 3, 1);
    st->Adr1 = support::Get_IntParameter(line, kText, 1, 255, 0);
    st->Adr2 = support::Get_IntParameter(line, kText, 1, 255, 0);
    st->Adr3 = support::Get_IntParameter(line, kText, 1, 255, 0);
    st->AdrPath = MakeAdrPath(st->Adr1, st->Adr2, st->Adr3);
    if (Trace(8))
      WriteLog("FML: CreateFML: Name=" + st->StationName + ", Typ=" + st->TypeName + ", Sort=" + IntStr(st->Sort) +
               "Adr=" + IntStr(st->Adr1) + "/" + IntStr(st->Adr2) + "/" + IntStr(st->Adr3) +
               "Timeout=" + IntStr(st->Timeout[0]));
    TFuMo* raw = st.get();
    raw->StationIndex = Append(std::move(st));
  }
}

void ReadExtras(TFuMo& st) {
  support::Set_INI_Section(ChannelSection(st) + "+");
  std::string info = support::Read_Parameter("INFO");
  for (auto& v : st.Info) v = support::Get_IntParameter(info, kText, 0, 65535, 0);
  std::string option = support::Read_Parameter("OPTION");
  st.bOnlineCheck = support::Get_IntParameter(option, kText, 0, 1, 0) == 1;
  st.ExtraWait = support::Get_IntParameter(option, kText, 0, 9999, 0);
}

void CreateSystemRegisters(TFuMo& st, int32_t i) {
  for (int32_t g = 0; g < kGroupCount; ++g) {
    for (int32_t j = 0;; ++j) {
      TWert w = NewWert();
      w.Name = SysRegName(st, i, g, j, Options.MODUS);
      if (TraceDetail())
        WriteLog(" FML: Create: " + IntStr(i) + ":" + IntStr(g) + "." + IntStr(j) + "=" + w.Name);
      if (w.Name.empty()) break;
      if (g == kGroupSystem && w.Name[0] == '\xA7') {
        w.Name.erase(0, 1);
        w.bFloat = true;
      }
      st.AddWert(g, w);
    }
  }
}

bool IsWhole(double v) { return std::floor(v) == v; }

// Group of a channel kind, compared exactly; -1 for an unknown kind.
int32_t GroupOfKind(const std::string& kind) {
  if (kind == "AE" || kind == "RE") return kGroupAE;
  if (kind == "BE") return kGroupBE;
  if (kind == "AA" || kind == "RA") return kGroupAA;
  if (kind == "BA") return kGroupBA;
  return -1;
}

TWert ParseChannel(std::string& line, std::string& kind) {
  TWert w = NewWert();
  support::Get_StrParameter(line, kText, kind);
  support::Get_StrParameter(line, kText, w.Name);
  support::Get_StrParameter(line, kText, w.Einheit);
  w.Faktor = support::Get_RealParameter(line, kText, -kRealLimit, kRealLimit, 1);
  w.Offset = support::Get_RealParameter(line, kText, -kRealLimit, kRealLimit, 0);
  w.NKs = support::Get_IntParameter(line, kText, 0, 5, 0);
  w.bCalc = w.Faktor != 0 && (w.Offset != 0 || w.Faktor != 1);
  w.bFloat = !IsWhole(w.Faktor) || !IsWhole(w.Offset) || std::fabs(w.Faktor) > kLargestInteger ||
             std::fabs(w.Offset) > kLargestInteger;
  if (TraceDetail())
    WriteLog(" FML: CreateFML, " + kind + " Name=" + w.Name + " Einheit=" + w.Einheit +
             " Faktor=" + support::RealStr(3, w.Faktor) + " Ofs=" + support::RealStr(3, w.Offset) +
             " NKs=" + IntStr(w.NKs) + " bCalc=" + support::BoolToText(w.bCalc) +
             " bFloat=" + support::BoolToText(w.bFloat));
  return w;
}

// Group-0 registers 5..12 carry the binary inputs, then the binary outputs, 16 to a word.
void NameWords(TFuMo& st) {
  constexpr int32_t kFirst = 5, kWords = 8;
  const int32_t w = std::min(kWords, BitWordCount(st.RegCount(kGroupBE)));
  for (int32_t k = 0; k < w; ++k)
    st.GetWert(kGroupSystem, kFirst + k).Name = "DIN" + IntStr(16 * k) + "-" + IntStr(16 * k + 15);
  const int32_t v = std::min(kWords - w, BitWordCount(st.RegCount(kGroupBA)));
  for (int32_t k = 0; k < v; ++k)
    st.GetWert(kGroupSystem, kFirst + w + k).Name = "&DOUT" + IntStr(16 * k) + "-" + IntStr(16 * k + 15);
}

void ReadChannels(TFuMo& st) {
  const std::string section = ChannelSection(st);
  support::Set_INI_Section(section);
  if (Trace(8)) WriteLog("FML: CreateFML, " + section);
  BlockGuard block;
  bool full[kGroupCount] = {};
  for (std::string line;;) {
    Guarded(kErrReadLine, [&] { support::INI_ZEILE(line); });
    if (line.empty()) break;
    DropKey(line);
    std::string kind;
    TWert w = ParseChannel(line, kind);
    const int32_t g = GroupOfKind(kind);
    if (g < 0) throw EFML(kErrUnknownChannelType);
    if (kind == "RE") st.bRE = true;
    if (st.RegCount(g) >= kMaxGroupRegisters) {
      if (!full[g])
        WriteLog("FML: CreateFML, " + section + ": more than " + IntStr(kMaxGroupRegisters) +
                 " channels in group " + IntStr(g) + ", the rest not loaded");
      full[g] = true;
      continue;
    }
    st.AddWert(g, w);
  }
  NameWords(st);
}

void Load() {
  const std::string ini = ServerDir + "Ostrel.INI";
  const std::string found = platform::FindFileNoCase(ini);
  if (found.empty()) {
    if (support::Log()->Debug()) WriteLog("* No Config: " + ini);
    throw EFML(kErrConfigNotFound);
  }
  // What the reader could not read it would take for an empty file: a configuration without MODUS.
  std::string refused;
  const int fd = platform::OpenRegularFile(found, O_RDONLY, &refused);
  if (fd < 0) {
    const int error = errno;
    WriteLog("* No Config: " + found +
             (refused.empty() ? " cannot be read (" + std::string(std::strerror(error)) + ")"
                              : " is " + refused + ", not read"));
    throw EFML(kErrConfigNotFound);
  }
  ::close(fd);
  Guarded(kErrFmlNotCreated, [] { FML = std::make_unique<TFML>(); });
  support::Set_INI_File(ServerDir + "Ostrel.PAR");
  ReadOptionen("OPTIONEN");
  if (Trace(8)) WriteLog("FML: INI = " + ini);
  support::Set_INI_File(ini);
  ReadOptionen("Zentralfunkmodem");
  ReadCentralModem();
  ReadStations();
  for (int32_t i = 0; i < FML->Count(); ++i) {
    TFuMo& st = FML->Items(i);
    if (Trace(8))
      WriteLog(" FML: Create: " + IntStr(i) + ":" + IntStr(st.Adr1) + "-" + IntStr(st.Adr2) + "-" + IntStr(st.Adr3));
    ReadExtras(st);
    CreateSystemRegisters(st, i);
  }
  for (int32_t i = 1; i < FML->Count(); ++i) ReadChannels(FML->Items(i));
  StationStates(false);
}

}  // namespace

std::string ChannelSection(const TFuMo& station) {
  const std::string address = IntStr(station.Adr1);  // the central modem's -1 gives "0-1"
  return "ADR" + (address.size() < 3 ? std::string(3 - address.size(), '0') : std::string()) + address;
}

int32_t CreateFML() {
  int32_t result = 0;
  if (Trace(8)) WriteLog("FML: CreateFML START");
  try {
    Load();
  } catch (const EFML& e) {
    WriteLog("FML: CreateFML, Exception=-$" + support::Hex2(uint32_t(-e.Code) & 0xFF) + ", " + e.what());
    result = e.Code;
  } catch (const std::exception& e) {
    WriteLog(std::string("FML: CreateFML, Exception=") + e.what());
    result = FatalErrorCode != 0 ? FatalErrorCode.load() : int32_t(kErrFmlGeneral);
  }
  if (Trace(8)) WriteLog("FML: CreateFML ENDE");
  return result;
}

}  // namespace driver
