#include "configurator/device_types.h"

#include "configurator/language.h"
#include "platform/cp1252.h"
#include "support/ini_reader.h"

namespace configurator {

namespace {
constexpr int kNameLength = 40;
}

int32_t LoadDeviceTypes(TDeviceTable& table, const std::string& file, const std::string& section,
                        TMessages& messages) {
  table = TDeviceTable{};
  support::IniReader ini(support::IniBuild::Configurator);
  ini.Set_INI_File(file);
  ini.Set_INI_Section(section);
  ini.OPEN_INI_BLOCK();
  for (std::string line;;) {
    ini.INI_ZEILE(line);
    if (line.empty()) break;
    if (platform::UpperCase1252(line.substr(0, 3)) != "TYP") continue;
    std::string value = line.size() > 4 ? line.substr(4) : std::string();
    DeviceType& e = table.Entries[size_t(table.Count)];
    e = DeviceType{};
    e.Index = table.Count;
    support::Get_StrParameter(value, kNameLength, e.Name);
    for (int32_t* v : {&e.ChannelsBE, &e.ChannelsBA, &e.ChannelsAE, &e.ChannelsAA, &e.Value5, &e.Value6, &e.Flags,
                       &e.Value8, &e.TypeId})
      *v = support::Get_IntParameter(value, 255, -1, 9999, 0);
    if (table.Count < kMaxDeviceTypes)
      ++table.Count;
    else
      messages.ShowMessage("Modulliste zu lang! Eintrag vor " + e.Name + " ignoriert!");
  }
  table.Entries[kMaxDeviceTypes] = DeviceType{};
  return table.Count;
}

void LoadDeviceTables(TDeviceTables& tables, const std::string& file, TMessages& messages) {
  LoadDeviceTypes(tables.Central, file, "ZENTRALFUNKMODEM", messages);
  LoadDeviceTypes(tables.Stations, file, "UNTERSTATIONEN", messages);
  LoadDeviceTypes(tables.Modules, file, "ERWEITERUNGSMODULE", messages);
}

int32_t FindDeviceType(const TDeviceTable& table, const std::string& name, int32_t typeId,
                       const std::string& context, TMessages& messages) {
  if (name.empty() && typeId == 0) return 0;
  if (typeId > 0) {
    for (int32_t i = table.Count - 1; i >= 0; --i)
      if (table.Entries[size_t(i)].TypeId == typeId) return i;
  }
  for (int32_t i = table.Count - 1; i >= 0; --i)
    if (table.Entries[size_t(i)].Name == name) return i;
  messages.ShowErrorMsg(13, context);
  return 0;
}

int32_t TGeraeteAdr::FirstFree() const {
  for (int32_t a = 1; a <= 255; ++a)
    if (free_[size_t(a)]) return a;
  return 0;
}

}  // namespace configurator
