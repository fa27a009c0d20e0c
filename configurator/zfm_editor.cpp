#include "configurator/zfm_editor.h"

#include <algorithm>

#include "configurator/language.h"
#include "configurator/project.h"
#include "serial/port_name.h"

namespace configurator {

bool HasNestedStations(const TStationTree& tree) {
  // Every station under the central modem counts, not only the first.
  if (!tree.Root()) return false;
  for (const auto& child : tree.Root()->Children())
    if (child->HasChildren()) return true;
  return false;
}

std::vector<std::string> CentralPortItems(const std::string& stored, const std::vector<std::string>& machinePorts) {
  std::vector<std::string> items;
  std::vector<std::string> devices;
  auto add = [&](const std::string& name) {
    std::string device = serial::DevicePath(name);
    if (std::find(devices.begin(), devices.end(), device) != devices.end()) return;
    items.push_back(name);
    devices.push_back(device);
  };
  for (int n = 1; n <= 8; ++n) add("COM" + std::to_string(n));
  for (const std::string& p : machinePorts) add(p);
  if (!stored.empty() && std::find(items.begin(), items.end(), stored) == items.end()) items.push_back(stored);
  return items;
}

TZFMEditor::TZFMEditor(TProject& project, std::vector<std::string> machinePorts)
    : project_(project), machine_ports_(std::move(machinePorts)) {
  TLanguageTexts& texts = project.Messages().Texts();
  texts.SetTextSection("ZFM");
  Caption = texts.TranslateText("@1Zentralfunkmodem einrichten");
}

void TZFMEditor::Activate() {
  if (activated_) return;
  activated_ = true;
  TStationNode* current = project_.CurrentNode;
  if (current && current->CentralModem()) {
    object_ = current->CentralModem();
  } else {
    new_ = std::make_unique<TZFM>();
    object_ = new_.get();
  }
  const TZFM& z = *object_;
  Name = previous_name_ = z.Name;
  TypeIndex = previous_type_ = z.DeviceType.Index;
  Mode = z.DeviceType.Flags >= 0 && z.DeviceType.Flags <= 2 ? z.DeviceType.Flags : -1;
  PortItems = CentralPortItems(z.Port, machine_ports_);
  Port = std::find(PortItems.begin(), PortItems.end(), z.Port) != PortItems.end() ? z.Port : std::string();
  BaudRate = serial::BaudRateText(z.BaudRate);
  DataBits = serial::DataBitsText(z.DataBits);
  Parity = serial::ParityText(z.Parity);
  StopBits = serial::StopBitsText(z.StopBits);
  ExtraWait = z.ExtraWait;
}

bool TZFMEditor::TypeChange(int index) {
  const TDeviceTable& central = project_.Tables().Central;
  if (index < 0 || index >= central.Count) return false;
  const int32_t mode = central.Entries[size_t(index)].Flags;
  if (mode == 0 && HasNestedStations(project_.Tree)) {
    TLanguageTexts& texts = project_.Messages().Texts();
    texts.SetTextSection("ZENTRALFUNKMODEM");
    project_.Messages().Service().Show(platform::MessageKind::Information, texts.TranslateText("@4"),
                                       platform::MessageButtons::Ok);
    TypeIndex = previous_type_;
    return false;
  }
  Mode = mode >= 0 && mode <= 2 ? mode : -1;
  TypeIndex = previous_type_ = index;
  return true;
}

bool TZFMEditor::Ok() {
  TMessages& messages = project_.Messages();
  if (TCustomFM::Blank(Name)) {
    messages.ShowErrorMsg(10);
    FocusName = true;
    return false;
  }
  TZFM& z = *object_;
  z.SetName(Name);  // a refused name leaves the old one
  if (z.ErrorCode == 0 && TCustomFM::CutByReaders(Name)) {
    z.Name = previous_name_;
    z.ErrorCode = 2;
  }
  if (z.ErrorCode != 0) {
    messages.ShowErrorMsg(z.ErrorCode);
    FocusName = true;
    return false;
  }
  const TDeviceTable& central = project_.Tables().Central;
  z.DeviceType = central.Entries[size_t(std::clamp(TypeIndex, 0, std::max(0, central.Count - 1)))];
  z.Address = 0;
  z.Port = Port;
  z.BaudRate = serial::TextToBaudRate(BaudRate);
  z.DataBits = serial::TextToDataBits(DataBits);
  z.Parity = serial::TextToParity(Parity);
  z.StopBits = serial::TextToStopBits(StopBits);
  z.ExtraWait = ExtraWait;
  project_.Modified = true;
  return true;
}

bool AcceptProjectName(TProject& project, const std::string& name) {
  TMessages& messages = project.Messages();
  if (name.empty()) {
    messages.ShowErrorMsg(4);
    return false;
  }
  // A separator would make the name a path from the current folder ("\\" is the system's own).
  if (size_t p = name.find_first_of("/\\"); p != std::string::npos) {
    messages.ShowErrorMsg(msgProjectNamePath, name.substr(p, 1));
    return false;
  }
  if (!project.FitsFileName(name)) {
    messages.ShowErrorMsg(msgProjectNameLong);
    return false;
  }
  project.ProjectPath = name;
  return true;
}

}  // namespace configurator
