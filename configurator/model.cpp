#include "configurator/model.h"

#include <cstring>

#include "configurator/language.h"
#include "support/ini_reader.h"

namespace configurator {

namespace {
// Characters that would split a name in the project file or in the server's item ids:
// ! , . / \ | " # ' and the acute and grave accents.
constexpr char kForbidden[] = "!,./\\|\"#'\xB4`";
}  // namespace

void InitChannel(TWert& record, const std::string& name, const std::string& kind) {
  record = TWert{};
  record.Name = name;
  record.Kind = kind.substr(0, 2);
}

void TCustomFM::SetName(const std::string& name) {
  ErrorCode = 0;
  if (name.find_first_of(kForbidden) != std::string::npos) {
    ErrorCode = 2;
    return;
  }
  Name = name;
}

TFuMo::TFuMo(const TGeraeteAdr& addresses) { Address = addresses.FirstFree(); }

TFuMo::TFuMo(const std::string& text, const std::string& configValue, TStationContext context)
    : TFuMo(context.Addresses) {
  std::string line = text, config = configValue, typeName;
  support::Get_StrParameter(line, 255, Name);
  support::Get_StrParameter(line, 255, typeName);
  support::Get_IntParameter(line, 255, 0, 2, 0);  // the station kind, always 0
  Address = support::Get_IntParameter(line, 255, 1, 255, 1);
  Parent1 = support::Get_IntParameter(line, 255, 1, 255, 0);
  Parent2 = support::Get_IntParameter(line, 255, 1, 255, 0);
  context.Addresses.SetFree(Address, false);

  int32_t typeId = support::Get_IntParameter(config, 255, 0, 999, 0);
  DeviceType = context.Tables.Stations.Entries[size_t(
      FindDeviceType(context.Tables.Stations, typeName, typeId, Name, context.Messages))];

  ModuleCount = 0;
  while (!line.empty() && ModuleCount < kModuleSlots) {
    std::string moduleName;
    support::Get_StrParameter(line, 255, moduleName);
    int32_t moduleId = support::Get_IntParameter(config, 255, 0, 999, 0);
    std::string where = Name + " Modul " + std::to_string(ModuleCount + 1);
    Modules[size_t(ModuleCount)] = context.Tables.Modules.Entries[size_t(
        FindDeviceType(context.Tables.Modules, moduleName, moduleId, where, context.Messages))];
    ++ModuleCount;
  }
}

bool TFuMo::ChannelNameUsed(const std::string& name, int32_t position) const {
  for (size_t i = 0; i < Channels.size(); ++i)
    if (int32_t(i) + 1 != position && Channels[i].Name == name) return true;
  return false;
}

int32_t TFuMo::CountKind(const char* kind) const {
  int32_t n = 0;
  for (const TWert& w : Channels) n += w.Kind == kind;
  return n;
}

}  // namespace configurator
