// The settings store: one writer and one reader of the groups, over an INI section or a
// registry key.
#include "serial/com_store.h"

#include <charconv>

#include "serial/com_port.h"
#include "serial/com_texts.h"

namespace serial {

// --- TCustomIniFile ---

int32_t TCustomIniFile::ReadInteger(const std::string& section, const std::string& key, int32_t def) {
  std::string text = ReadString(section, key, "");
  std::string_view digits = text;
  if (!digits.empty() && digits[0] == '+') digits.remove_prefix(1);
  int32_t value = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size()) return def;
  return value;
}

void TCustomIniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

// --- TRegistryKey ---

std::string TRegistryKey::ReadString(const std::string& name) const {
  return registry_.String(key_, name).value_or("");
}

int32_t TRegistryKey::ReadInteger(const std::string& name) const {
  auto value = registry_.Value(key_, name);
  if (!value || !std::holds_alternative<uint32_t>(*value))
    throw ERegistryException("Registry value \"" + name + "\" of " + key_ + " is missing or not an integer");
  return int32_t(std::get<uint32_t>(*value));
}

void TRegistryKey::WriteString(const std::string& name, const std::string& value) {
  if (!registry_.SetValue(key_, name, value))
    throw ERegistryException("Failed to write registry value \"" + name + "\" of " + key_);
}

void TRegistryKey::WriteInteger(const std::string& name, int32_t value) {
  if (!registry_.SetValue(key_, name, uint32_t(value)))
    throw ERegistryException("Failed to write registry value \"" + name + "\" of " + key_);
}

// --- the groups ---

namespace {

// One store as the two routines below see it. Reads get the value to use when the store
// has none (the INI file uses it; the registry has no defaults).
class Store {
 public:
  virtual ~Store() = default;
  virtual void WriteText(const std::string& key, const std::string& value) = 0;
  virtual void WriteInt(const std::string& key, int32_t value) = 0;
  virtual std::string ReadText(const std::string& key, const std::string& def) = 0;
  virtual int32_t ReadInt(const std::string& key, int32_t def) = 0;
};

class IniStore final : public Store {
 public:
  IniStore(TCustomIniFile& ini, std::string section) : ini_(ini), section_(std::move(section)) {}
  void WriteText(const std::string& k, const std::string& v) override { ini_.WriteString(section_, k, v); }
  void WriteInt(const std::string& k, int32_t v) override { ini_.WriteInteger(section_, k, v); }
  std::string ReadText(const std::string& k, const std::string& def) override {
    return ini_.ReadString(section_, k, def);
  }
  int32_t ReadInt(const std::string& k, int32_t def) override { return ini_.ReadInteger(section_, k, def); }

 private:
  TCustomIniFile& ini_;
  std::string section_;
};

class RegistryStore final : public Store {
 public:
  explicit RegistryStore(TRegistryKey& key) : key_(key) {}
  void WriteText(const std::string& k, const std::string& v) override { key_.WriteString(k, v); }
  void WriteInt(const std::string& k, int32_t v) override { key_.WriteInteger(k, v); }
  std::string ReadText(const std::string& k, const std::string&) override { return key_.ReadString(k); }
  int32_t ReadInt(const std::string& k, int32_t) override { return key_.ReadInteger(k); }

 private:
  TRegistryKey& key_;
};

void StoreSettings(const TCustomComPort& p, Store& s) {
  const auto groups = p.StoredProps();
  if (groups.Contains(spBasic)) {
    s.WriteText("Port", p.Port());
    s.WriteText("BaudRate", BaudRateText(p.BaudRate()));
    if (p.BaudRate() == brCustom) s.WriteInt("CustomBaudRate", p.CustomBaudRate());
    s.WriteText("StopBits", StopBitsText(p.StopBits()));
    s.WriteText("DataBits", DataBitsText(p.DataBits()));
    s.WriteText("Parity", ParityText(p.Parity().Bits()));
    s.WriteText("FlowControl", FlowControlText(p.FlowControl().FlowControl()));
  }
  if (groups.Contains(spOthers)) {
    s.WriteText("EventChar", CharCodeText(p.EventChar()));
    s.WriteText("DiscardNull", BoolToYesNo(p.DiscardNull()));
  }
  if (groups.Contains(spParity)) {
    s.WriteText("Parity.Check", BoolToYesNo(p.Parity().Check()));
    s.WriteText("Parity.Replace", BoolToYesNo(p.Parity().Replace()));
    s.WriteText("Parity.ReplaceChar", CharCodeText(p.Parity().ReplaceChar()));
  }
  if (groups.Contains(spBuffer)) {
    s.WriteInt("Buffer.OutputSize", p.Buffer().OutputSize());
    s.WriteInt("Buffer.InputSize", p.Buffer().InputSize());
  }
  if (groups.Contains(spTimeouts)) {
    const TComTimeouts& t = p.Timeouts();
    s.WriteInt("Timeouts.ReadInterval", t.ReadInterval());
    s.WriteInt("Timeouts.ReadTotalConstant", t.ReadTotalConstant());
    s.WriteInt("Timeouts.ReadTotalMultiplier", t.ReadTotalMultiplier());
    s.WriteInt("Timeouts.WriteTotalConstant", t.WriteTotalConstant());
    s.WriteInt("Timeouts.WriteTotalMultiplier", t.WriteTotalMultiplier());
  }
  if (groups.Contains(spFlowControl)) {
    const TComFlowControl& f = p.FlowControl();
    s.WriteText("FlowControl.ControlRTS", RtsControlText(f.ControlRTS()));
    s.WriteText("FlowControl.ControlDTR", DtrControlText(f.ControlDTR()));
    s.WriteText("FlowControl.DSRSensitivity", BoolToYesNo(f.DSRSensitivity()));
    s.WriteText("FlowControl.OutCTSFlow", BoolToYesNo(f.OutCTSFlow()));
    s.WriteText("FlowControl.OutDSRFlow", BoolToYesNo(f.OutDSRFlow()));
    s.WriteText("FlowControl.TxContinueOnXoff", BoolToYesNo(f.TxContinueOnXoff()));
    s.WriteText("FlowControl.XonXoffIn", BoolToYesNo(f.XonXoffIn()));
    s.WriteText("FlowControl.XonXoffOut", BoolToYesNo(f.XonXoffOut()));
    s.WriteText("FlowControl.XoffChar", CharCodeText(f.XoffChar()));
    s.WriteText("FlowControl.XonChar", CharCodeText(f.XonChar()));
  }
}

// Every value goes through its setter, so a connected port re-applies as it reads.
void LoadSettings(TCustomComPort& p, Store& s) {
  const auto groups = p.StoredProps();
  auto yes = [&](const std::string& key, bool current) { return YesNoToBool(s.ReadText(key, BoolToYesNo(current))); };
  auto chr = [&](const std::string& key, uint8_t current) {
    return TextToCharCode(s.ReadText(key, CharCodeText(current)));
  };
  if (groups.Contains(spBasic)) {
    p.SetPort(s.ReadText("Port", p.Port()));
    p.SetBaudRate(TextToBaudRate(s.ReadText("BaudRate", BaudRateText(p.BaudRate()))));
    if (p.BaudRate() == brCustom) p.SetCustomBaudRate(s.ReadInt("CustomBaudRate", 9600));
    p.SetStopBits(TextToStopBits(s.ReadText("StopBits", StopBitsText(p.StopBits()))));
    p.SetDataBits(TextToDataBits(s.ReadText("DataBits", DataBitsText(p.DataBits()))));
    p.Parity().SetBits(TextToParity(s.ReadText("Parity", ParityText(p.Parity().Bits()))));
    p.FlowControl().SetFlowControl(
        TextToFlowControl(s.ReadText("FlowControl", FlowControlText(p.FlowControl().FlowControl()))));
  }
  if (groups.Contains(spOthers)) {
    p.SetEventChar(chr("EventChar", p.EventChar()));
    p.SetDiscardNull(yes("DiscardNull", p.DiscardNull()));
  }
  if (groups.Contains(spParity)) {
    TComParity& par = p.Parity();
    par.SetCheck(yes("Parity.Check", par.Check()));
    par.SetReplace(yes("Parity.Replace", par.Replace()));
    par.SetReplaceChar(chr("Parity.ReplaceChar", par.ReplaceChar()));
  }
  if (groups.Contains(spBuffer)) {
    TComBuffer& b = p.Buffer();
    b.SetOutputSize(s.ReadInt("Buffer.OutputSize", b.OutputSize()));
    b.SetInputSize(s.ReadInt("Buffer.InputSize", b.InputSize()));
  }
  if (groups.Contains(spTimeouts)) {
    TComTimeouts& t = p.Timeouts();
    t.SetReadInterval(s.ReadInt("Timeouts.ReadInterval", t.ReadInterval()));
    t.SetReadTotalConstant(s.ReadInt("Timeouts.ReadTotalConstant", t.ReadTotalConstant()));
    t.SetReadTotalMultiplier(s.ReadInt("Timeouts.ReadTotalMultiplier", t.ReadTotalMultiplier()));
    t.SetWriteTotalConstant(s.ReadInt("Timeouts.WriteTotalConstant", t.WriteTotalConstant()));
    t.SetWriteTotalMultiplier(s.ReadInt("Timeouts.WriteTotalMultiplier", t.WriteTotalMultiplier()));
  }
  if (groups.Contains(spFlowControl)) {
    TComFlowControl& f = p.FlowControl();
    f.SetControlRTS(TextToRtsControl(s.ReadText("FlowControl.ControlRTS", RtsControlText(f.ControlRTS()))));
    f.SetControlDTR(TextToDtrControl(s.ReadText("FlowControl.ControlDTR", DtrControlText(f.ControlDTR()))));
    f.SetDSRSensitivity(yes("FlowControl.DSRSensitivity", f.DSRSensitivity()));
    f.SetOutCTSFlow(yes("FlowControl.OutCTSFlow", f.OutCTSFlow()));
    f.SetOutDSRFlow(yes("FlowControl.OutDSRFlow", f.OutDSRFlow()));
    f.SetTxContinueOnXoff(yes("FlowControl.TxContinueOnXoff", f.TxContinueOnXoff()));
    f.SetXonXoffIn(yes("FlowControl.XonXoffIn", f.XonXoffIn()));
    f.SetXonXoffOut(yes("FlowControl.XonXoffOut", f.XonXoffOut()));
    f.SetXoffChar(chr("FlowControl.XoffChar", f.XoffChar()));
    f.SetXonChar(chr("FlowControl.XonChar", f.XonChar()));
  }
}

}  // namespace

void TCustomComPort::WriteIniFile(TCustomIniFile& ini) {
  IniStore s(ini, Name());
  StoreSettings(*this, s);
}

void TCustomComPort::ReadIniFile(TCustomIniFile& ini) {
  IniStore s(ini, Name());
  LoadSettings(*this, s);
}

void TCustomComPort::WriteRegistry(TRegistryKey& key) {
  RegistryStore s(key);
  StoreSettings(*this, s);
}

void TCustomComPort::ReadRegistry(TRegistryKey& key) {
  RegistryStore s(key);
  LoadSettings(*this, s);
}

}  // namespace serial
