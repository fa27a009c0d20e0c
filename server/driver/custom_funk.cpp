#include "server/driver/custom_funk.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <stdexcept>

#include "serial/com_port.h"
#include "serial/com_texts.h"
#include "server/driver/error_codes.h"
#include "server/driver/frame3964.h"
#include "server/driver/options.h"
#include "server/driver/utilities.h"
#include "support/error_log.h"
#include "support/ini_reader.h"
#include "support/log_text.h"

namespace driver {

namespace {

// The partner's frame passes within this pause after an unexpected byte.
constexpr uint32_t kPauseMs = 1100;

std::string S(int32_t v) { return std::to_string(v); }
std::string NegHex(int32_t code) { return support::Hex2(uint32_t(-code) & 0xFF); }

// The setting a field of the RS232 key names. An empty field keeps the port's default; a text in
// no table (a typo) is refused, since taking the default for it would change the line unseen.
template <class T>
T Setting(const std::string& field, std::optional<T> (*parse)(std::string_view), T otherwise, const char* what) {
  if (field.empty()) return otherwise;
  if (std::optional<T> v = parse(field)) return *v;
  throw std::invalid_argument(std::string("RS232: unknown ") + what + " \"" + field + "\"");
}

}  // namespace

TCustomFunk::TCustomFunk() : clock_(platform::DefaultClock()) {
  const PortFactory tty = [] { return std::make_unique<serial::TComPort>(); };
  Create(support::Log()->Demo() ? nullptr : &tty);
}

TCustomFunk::TCustomFunk(const PortFactory& factory, platform::Clock& clock) : clock_(clock) {
  Create(factory ? &factory : nullptr);
}

void TCustomFunk::Create(const PortFactory* factory) {
  if (support::TestDbgFlag(2)) WriteLog("CF: Create START");
  if (factory == nullptr) return;  // no hardware: no port, and the object stays as it is
  try {
    port_ = (*factory)();
    if (!port_) throw ECustomFunk(kErrRs232Create);
    port_->SetAbortEvent(&stop_);
    AktFM = 0;
    if (support::TestDbgFlag(2)) WriteLog("CF: Create ENDE");
  } catch (const ECustomFunk& e) {
    port_.reset();
    WriteLog("CF: Create, Exception=-$" + NegHex(e.Code) + ", " + e.what());
    throw;
  } catch (const std::exception& e) {
    port_.reset();
    WriteLog(std::string("CF: Create, Exception=") + e.what());
    throw;
  }
}

TCustomFunk::~TCustomFunk() {
  if (support::TestDbgFlag(2)) WriteLog("CF: Destroy (vor RS232.Free)");
  port_.reset();
  if (support::TestDbgFlag(2)) WriteLog("CF: Destroy (vor Inherited)");
}

int32_t TCustomFunk::Init(bool is3964r) {
  if (support::TestDbgFlag(2)) WriteLog("CF: Init START");
  int32_t step = 0;
  try {
    support::Set_INI_File(ServerDir + "Ostrel.INI");
    support::Set_INI_Section("Zentralfunkmodem");
    std::string value = support::Read_Parameter("RS232");
    if (support::TestDbgFlag(2)) WriteLog("CF: Init RS232 \xF6" "ffnen (" + value + ")");
    if (!port_) throw ECustomFunk(kErrRs232Create);
    serial::TComPort& port = *port_;
    std::string field;
    auto next = [&](int32_t s) {
      step = s;
      support::Get_StrParameter(value, 255, field);
      return field;
    };
    port.SetPort(next(1));
    port.SetBaudRate(Setting(next(2), serial::ParseBaudRate, port.BaudRate(), "baud rate"));
    port.Parity().SetBits(Setting(next(3), serial::ParseParity, port.Parity().Bits(), "parity"));
    port.SetDataBits(Setting(next(4), serial::ParseDataBits, port.DataBits(), "data bits"));
    port.SetStopBits(Setting(next(5), serial::ParseStopBits, port.StopBits(), "stop bits"));
    step = 6;
    try {
      port.Open();
      port.SetDtrLine(true);
      port.SetRtsLine(true);
    } catch (const std::exception&) {
      throw ECustomFunk(kErrRs232Open);
    }
    step = 7;
    const std::string settings = port.Port() + "," + serial::BaudRateText(port.BaudRate()) + "," +
                                 serial::ParityText(port.Parity().Bits()) + "," +
                                 serial::DataBitsText(port.DataBits()) + "," + serial::StopBitsText(port.StopBits());
    if (!port.Connected()) {
      WriteLog("CF: Init, RS232 nicht erfolgreich! (" + settings + ")");
      throw ECustomFunk(kErrRs232NoConnection);
    }
    if (support::TestDbgFlag(2)) WriteLog("CF: Init RS232 erfolgreich(" + settings + ")");
    Is3964r = is3964r;
    DOfs = 9;
    if (support::TestDbgFlag(2)) WriteLog("CF: Init ENDE");
    return 0;
  } catch (const ECustomFunk& e) {
    WriteLog("CF: Init, Exception Zeile " + S(step) + "= (-$" + NegHex(e.Code) + ")=" + e.what());
    return e.Code;
  } catch (const std::exception& e) {
    WriteLog("CF: Init, Exception Zeile " + S(step) + "=" + e.what());
    return kErrRs232Init;
  }
}

void TCustomFunk::SetReadTimeout(int32_t ms) {
  if (port_->Timeouts().ReadTotalConstant() != ms) port_->Timeouts().SetReadTotalConstant(ms);
}

void TCustomFunk::SendStr(std::string_view data) {
  (void)port_->Write(data.data(), int32_t(data.size()));
  if (IsDbgFlag(128)) WriteLog(" CF: SendStr: " + StrToHex(data));
}

bool TCustomFunk::RecStr(std::string& data, int32_t maxLen, int32_t timeoutMs, int32_t count) {
  data.clear();
  SetReadTimeout(timeoutMs);
  char buffer[kMaxTelegram];
  count = std::clamp(count, 0, std::min(maxLen, int32_t(kMaxTelegram)));
  const int32_t n = std::clamp(port_->Read(buffer, count), 0, count);
  data.assign(buffer, size_t(n));
  const bool ok = !CheckRSError();
  if (IsDbgFlag(128)) WriteLog(" CF: RecStr: " + support::BoolToText(ok) + " Cnt=" + S(n) + ": " + StrToHex(data));
  return ok;
}

void TCustomFunk::RecStr3964(std::string& data, int32_t maxLen) {
  (void)port_->ReadLineErrors();
  SetReadTimeout(Options.TIMEOUT);
  data.clear();
  TFrameBody body(size_t(std::max(maxLen, 0)));
  try {
    for (;;) {
      char b;
      if (port_->Read(&b, 1) != 1) break;
      // A byte that came with a line error ends the frame without being taken.
      if (CheckRSError()) break;
      if (!body.Add(b)) break;
    }
  } catch (const std::length_error&) {
    data = body.Data();
    throw;
  }
  data = body.Data();
  if (IsDbgFlag(128)) WriteLog(" CF: RecStr3964: " + StrToHex(data));
}

bool TCustomFunk::CheckRSError() {
  const uint32_t flags = port_->ReadErrorFlags();
  if (flags == 0) return false;
  std::string text = "RS-Err: " + std::to_string(flags) + "=";
  if (flags & 8) text += " FRAME";
  if (flags & 4) text += " P";
  if (flags & 2) text += " OVERRN";
  if (flags & 16) text += " BRK";
  WriteDebugLog(false, text);
  return true;
}

int32_t TCustomFunk::SendeTelegramm() {
  TAnfrage& a = Anfrage;
  a.SendeTick = clock_.TickMs();
  std::string reply;
  SendStr(std::string(1, kSTX));
  bool ok = RecStr(reply, int32_t(kMaxTelegram), Options.TIMEOUT, 1);
  int32_t result = StxReplyResult(reply, !ok);
  if (result == 1) {
    SendStr(std::string(1, kNAK));
  } else if (result == 3) {
    Pause(kPauseMs);
  } else if (result == 0) {
    if (Options.MOP2CRC) ApplyCrcVariant(a.Tel);
    SendStr(BuildFrame(a.Tel));
    ok = RecStr(reply, int32_t(kMaxTelegram), Options.TIMEOUT, 1);
    result = FrameReplyResult(reply, !ok);
    if (result == 5) Pause(kPauseMs);
  }

  a.SendeErg = result;
  SendErgCount = result == LastSendErg ? SendErgCount + 1 : 0;
  LastSendErg = result;
  if (result != 0)
    a.SendeTick = 0;
  else if (a.AF == kAfModeMessage)
    a.AF = kAfNone;  // "*W1" has no answer
  if (result != 0 || IsDbgFlag(64)) WriteLog("SendeTelegramm: erg=" + S(result) + ": " + StrToHex(a.Tel));
  return result;
}

int32_t TCustomFunk::LeseTelegramm(int32_t timeoutMs) {
  TAnfrage& a = Anfrage;
  a.Antwort.clear();
  int32_t result = 0;
  std::string first, body;
  (void)RecStr(first, int32_t(kMaxTelegram), timeoutMs, 1);
  if (first.empty()) {
    result = -1;
  } else if (first[0] != kSTX) {
    SendStr(std::string(1, kNAK));
    port_->PurgeQueues(true, false);
    result = 1;
  } else {
    SendStr(std::string(1, kDLE));
    RecStr3964(body, int32_t(kMaxTelegram));
    TFrameCheck check = CheckFrame(body);
    result = check.result;
    if (result == 0) {
      a.EmpfTel = body;
      a.Antwort = std::move(check.answer);
    }
    SendStr(std::string(1, result == 0 ? kDLE : kNAK));
  }

  a.LeseErg = result;
  a.AntwortMs = result == 0 && a.SendeTick != 0 ? clock_.TickMs() - a.SendeTick : 0;
  if (result > 1) {
    WriteDebugLog(false, "Tel.defekt: Err=" + S(result));
    WriteDebugLog(true, body);
  }
  if (result != 0 || (IsDbgFlag(64) && !a.Antwort.empty()) || IsDbgFlag(1024))
    WriteLog("Lese Telegramm: erg=" + S(result) + ": " + StrToHex(a.Antwort));
  return result;
}

std::string TCustomFunk::StrToHex(std::string_view s) { return driver::StrToHex(s); }

}  // namespace driver
