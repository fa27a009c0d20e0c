#include "serial/com_store.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "platform/registry.h"
#include "platform/testing/temp_dir.h"
#include "serial/com_port.h"
#include "serial/fake_backend.h"

namespace serial {
namespace {

// Keeps the values in the order they were first written.
class MemIni : public TCustomIniFile {
 public:
  std::string ReadString(const std::string& section, const std::string& key, const std::string& def) override {
    for (const auto& e : entries)
      if (e.section == section && e.key == key) return e.value;
    return def;
  }
  void WriteString(const std::string& section, const std::string& key, const std::string& value) override {
    for (auto& e : entries)
      if (e.section == section && e.key == key) {
        e.value = value;
        return;
      }
    entries.push_back({section, key, value});
  }
  struct Entry {
    std::string section, key, value;
  };
  std::vector<Entry> entries;
};

using KeyValues = std::vector<std::pair<std::string, std::string>>;

KeyValues Section(const MemIni& ini, const std::string& section) {
  KeyValues out;
  for (const auto& e : ini.entries)
    if (e.section == section) out.emplace_back(e.key, e.value);
  return out;
}

EnumSet<TStoredProp, uint8_t> AllGroups() {
  return {spBasic, spOthers, spParity, spBuffer, spTimeouts, spFlowControl};
}

TEST(SettingsStore, DefaultPortWritesTheBasicGroup) {
  TComPort port(std::make_shared<FakeComBackend>());
  port.SetName("ComPort1");
  MemIni ini;
  port.WriteIniFile(ini);
  const KeyValues want = {{"Port", "COM1"},   {"BaudRate", "9600"}, {"StopBits", "1"},
                          {"DataBits", "8"}, {"Parity", "None"},   {"FlowControl", "None"}};
  EXPECT_EQ(Section(ini, "ComPort1"), want);
  EXPECT_EQ(ini.entries.size(), want.size());
}

TEST(SettingsStore, EveryGroupInItsOrder) {
  TComPort port(std::make_shared<FakeComBackend>());
  port.SetName("P");
  port.SetStoredProps(AllGroups());
  port.SetBaudRate(brCustom);
  port.SetCustomBaudRate(250000);
  port.SetEventChar(' ');
  port.Parity().SetReplaceChar('?');
  port.FlowControl().SetFlowControl(fcHardware);
  MemIni ini;
  port.WriteIniFile(ini);
  const KeyValues want = {
      {"Port", "COM1"},
      {"BaudRate", "Custom"},
      {"CustomBaudRate", "250000"},
      {"StopBits", "1"},
      {"DataBits", "8"},
      {"Parity", "None"},
      {"FlowControl", "Hardware"},
      {"EventChar", "#32"},
      {"DiscardNull", "No"},
      {"Parity.Check", "No"},
      {"Parity.Replace", "No"},
      {"Parity.ReplaceChar", "?"},
      {"Buffer.OutputSize", "1024"},
      {"Buffer.InputSize", "1024"},
      {"Timeouts.ReadInterval", "-1"},
      {"Timeouts.ReadTotalConstant", "0"},
      {"Timeouts.ReadTotalMultiplier", "0"},
      {"Timeouts.WriteTotalConstant", "1000"},
      {"Timeouts.WriteTotalMultiplier", "100"},
      {"FlowControl.ControlRTS", "Handshake"},
      {"FlowControl.ControlDTR", "Disable"},
      {"FlowControl.DSRSensitivity", "No"},
      {"FlowControl.OutCTSFlow", "Yes"},
      {"FlowControl.OutDSRFlow", "No"},
      {"FlowControl.TxContinueOnXoff", "No"},
      {"FlowControl.XonXoffIn", "No"},
      {"FlowControl.XonXoffOut", "No"},
      {"FlowControl.XoffChar", "#19"},
      {"FlowControl.XonChar", "#17"},
  };
  EXPECT_EQ(Section(ini, "P"), want);
}

// Writes a port with unusual settings, reads them into a fresh one, writes that again.
void RoundTrip(const std::function<void(TComPort&)>& write, const std::function<void(TComPort&)>& read) {
  TComPort a(std::make_shared<FakeComBackend>());
  a.SetStoredProps(AllGroups());
  a.SetPort("ttyUSB1");
  a.SetBaudRate(br57600);
  a.SetStopBits(sbTwoStopBits);
  a.SetDataBits(dbSeven);
  a.Parity().SetBits(prEven);
  a.Parity().SetCheck(true);
  a.Parity().SetReplace(true);
  a.Parity().SetReplaceChar(200);
  a.SetDiscardNull(true);
  a.SetEventChar('\r');
  a.Buffer().SetInputSize(4096);
  a.Buffer().SetOutputSize(512);
  a.Timeouts().SetReadInterval(7);
  a.Timeouts().SetReadTotalConstant(250);
  a.Timeouts().SetWriteTotalMultiplier(3);
  a.FlowControl().SetControlRTS(rtsToggle);
  a.FlowControl().SetControlDTR(dtrEnable);
  a.FlowControl().SetXonXoffIn(true);
  a.FlowControl().SetDSRSensitivity(true);
  a.FlowControl().SetXonChar('A');
  write(a);

  TComPort b(std::make_shared<FakeComBackend>());
  b.SetStoredProps(AllGroups());
  read(b);
  EXPECT_EQ(b.Port(), "ttyUSB1");
  EXPECT_EQ(b.BaudRate(), br57600);
  EXPECT_EQ(b.StopBits(), sbTwoStopBits);
  EXPECT_EQ(b.DataBits(), dbSeven);
  EXPECT_EQ(b.Parity().Bits(), prEven);
  EXPECT_TRUE(b.Parity().Check() && b.Parity().Replace());
  EXPECT_EQ(b.Parity().ReplaceChar(), 200);
  EXPECT_TRUE(b.DiscardNull());
  EXPECT_EQ(b.EventChar(), '\r');
  EXPECT_EQ(b.Buffer().InputSize(), 4096);
  EXPECT_EQ(b.Buffer().OutputSize(), 512);
  EXPECT_EQ(b.Timeouts().ReadInterval(), 7);
  EXPECT_EQ(b.Timeouts().ReadTotalConstant(), 250);
  EXPECT_EQ(b.Timeouts().WriteTotalMultiplier(), 3);
  EXPECT_EQ(b.FlowControl().ControlRTS(), rtsToggle) << "the flow group overrides the basic FlowControl";
  EXPECT_EQ(b.FlowControl().ControlDTR(), dtrEnable);
  EXPECT_TRUE(b.FlowControl().XonXoffIn());
  EXPECT_FALSE(b.FlowControl().XonXoffOut());
  EXPECT_TRUE(b.FlowControl().DSRSensitivity());
  EXPECT_EQ(b.FlowControl().XonChar(), 'A');
}

TEST(SettingsStore, IniRoundTrip) {
  MemIni ini;
  RoundTrip([&](TComPort& p) { p.WriteIniFile(ini); }, [&](TComPort& p) { p.ReadIniFile(ini); });
}

TEST(SettingsStore, RegistryRoundTrip) {
  platform::testing::TempDir dir;
  platform::Registry reg(dir / "registry");
  TRegistryKey key(reg, std::string(platform::kCurrentUser) + "\\Software\\Qar\\Port");
  RoundTrip([&](TComPort& p) { p.WriteRegistry(key); }, [&](TComPort& p) { p.ReadRegistry(key); });
  EXPECT_EQ(reg.Value(key.Key(), "Buffer.InputSize"), platform::RegValue(uint32_t(4096)));
  EXPECT_EQ(reg.Value(key.Key(), "BaudRate"), platform::RegValue(std::string("57600")));
}

TEST(SettingsStore, MissingIniKeysKeepCurrentValues) {
  TComPort port(std::make_shared<FakeComBackend>());
  port.SetName("S");
  port.SetStoredProps(AllGroups());
  port.SetPort("ttyS5");
  port.SetBaudRate(br1200);
  port.Timeouts().SetReadTotalConstant(77);
  port.FlowControl().SetXoffChar('x');
  MemIni ini;
  ini.WriteString("S", "DataBits", "7");
  ini.WriteString("S", "Buffer.InputSize", "not a number");
  port.ReadIniFile(ini);
  EXPECT_EQ(port.Port(), "ttyS5");
  EXPECT_EQ(port.BaudRate(), br1200);
  EXPECT_EQ(port.DataBits(), dbSeven);
  EXPECT_EQ(port.Buffer().InputSize(), 1024);
  EXPECT_EQ(port.Timeouts().ReadTotalConstant(), 77);
  EXPECT_EQ(port.FlowControl().XoffChar(), 'x');

  // A custom rate without its number falls back to 9600, not to the current number.
  port.SetCustomBaudRate(300000);
  ini.WriteString("S", "BaudRate", "Custom");
  port.ReadIniFile(ini);
  EXPECT_EQ(port.BaudRate(), brCustom);
  EXPECT_EQ(port.CustomBaudRate(), 9600);
}

TEST(SettingsStore, BasicFlowControlWordResetsTheFlowFields) {
  TComPort port(std::make_shared<FakeComBackend>());
  port.FlowControl().SetControlRTS(rtsEnable);
  port.FlowControl().SetXonXoffOut(true);
  MemIni ini;
  ini.WriteString("", "FlowControl", "Unknown");  // fcCustom: touches nothing
  port.ReadIniFile(ini);
  EXPECT_EQ(port.FlowControl().ControlRTS(), rtsEnable);
  ini.WriteString("", "FlowControl", "none");
  port.ReadIniFile(ini);
  EXPECT_EQ(port.FlowControl().ControlRTS(), rtsDisable);
  EXPECT_FALSE(port.FlowControl().XonXoffOut());
}

TEST(SettingsStore, RegistryWithoutValues) {
  platform::testing::TempDir dir;
  platform::Registry reg(dir / "registry");
  TRegistryKey key(reg, std::string(platform::kCurrentUser) + "\\Software\\Empty");
  TComPort port(std::make_shared<FakeComBackend>());
  port.SetBaudRate(br1200);
  port.ReadRegistry(key);  // the basic group has only texts: empty ones give the fallbacks
  EXPECT_EQ(port.Port(), "");
  EXPECT_EQ(port.BaudRate(), br9600);
  port.SetStoredProps({spBuffer});
  EXPECT_THROW(port.ReadRegistry(key), ERegistryException) << "a missing integer is the reader's failure";
}

TEST(SettingsStore, ReadingIntoAnOpenPortReappliesAndReopens) {
  auto dev = std::make_shared<FakeComBackend>();
  TComPort port(dev);
  port.Open();
  MemIni ini;
  ini.WriteString("", "Port", "ttyUSB0");
  ini.WriteString("", "BaudRate", "115200");
  port.ReadIniFile(ini);
  EXPECT_EQ(dev->OpenCount(), 2);
  EXPECT_EQ(dev->OpenedPath(), "/dev/ttyUSB0");
  EXPECT_EQ(dev->State().BaudRate, 115200u);
}

}  // namespace
}  // namespace serial
