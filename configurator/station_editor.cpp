#include "configurator/station_editor.h"

#include <algorithm>

#include "configurator/language.h"
#include "configurator/project.h"
#include "platform/cp1252.h"
#include "platform/text_format.h"

namespace configurator {

void RebuildChannels(TFuMo& station, const TChannelCounts& counts, const TChannelPrefixes& prefixes) {
  struct Block {
    const char* kind;
    int32_t count;
    const std::string& prefix;
  } blocks[] = {{"AA", counts.AA, prefixes.AA}, {"AE", counts.AE, prefixes.AE},
                {"BA", counts.BA, prefixes.BA}, {"BE", counts.BE, prefixes.BE}};
  auto& ch = station.Channels;
  size_t a = 0;
  for (const Block& b : blocks) {
    // A negative count in a device-type file means none, never the removal of other blocks.
    const size_t n = size_t(std::max(0, b.count));
    size_t i = 0;
    while (a + i < ch.size() && ch[a + i].Kind == b.kind) ++i;
    while (i < n) {
      std::string name = b.prefix + std::to_string(i + 1);
      TWert w;
      InitChannel(w, name, b.kind);
      ch.insert(ch.begin() + std::ptrdiff_t(a + i), w);
      const int32_t position = int32_t(a + i + 1);
      if (station.ChannelNameUsed(name, position)) {
        for (char letter = 'A'; letter <= 'Z'; ++letter) {
          ch[a + i].Name = name + "_" + letter;
          if (!station.ChannelNameUsed(ch[a + i].Name, position)) break;
        }
      }
      ++i;
    }
    while (i > n) {
      ch.erase(ch.begin() + std::ptrdiff_t(a + i - 1));
      --i;
    }
    a += n;
  }
}

TStationEditor::TStationEditor(TProject& project, bool editing) : project_(project), editing_(editing) {
  TLanguageTexts& texts = project.Messages().Texts();
  texts.SetTextSection("FM");
  Caption = texts.TranslateText("@1Funkmodem einrichten");
  DefaultName = texts.TranslateText("@10Stationsname");
  Prefixes.BE = texts.TranslateText("@11DI");
  Prefixes.BA = texts.TranslateText("@12DO");
  Prefixes.AE = texts.TranslateText("@13AI");
  Prefixes.AA = texts.TranslateText("@14AO");
  ModuleLabelFormat = texts.TranslateText("@4Zusatzmodul &%s:");
}

void TStationEditor::Setup() {
  TStationNode* current = project_.CurrentNode;
  if (project_.StationEditFlag && current && current->Station()) {
    station_ = current->Station();
  } else {
    new_ = std::make_unique<TFuMo>(project_.Addresses());
    station_ = new_.get();
  }
  TGeraeteAdr& addresses = project_.Addresses();
  addresses.SetFree(station_->Address, true);
  FreeAddresses.clear();
  for (int32_t a = 1; a <= 255; ++a)
    if (addresses.IsFree(a)) FreeAddresses.push_back(a);
  auto own = std::find(FreeAddresses.begin(), FreeAddresses.end(), station_->Address);
  AddressIndex = own == FreeAddresses.end() ? -1 : int(own - FreeAddresses.begin());

  for (int k = 0; k < kSlots; ++k) ModuleLabels[size_t(k)] = platform::FormatText(ModuleLabelFormat, {std::to_string(k + 1)});
  const TDeviceTable& modules = project_.Tables().Modules;
  TModuleBox all;
  for (int32_t j = 0; j < modules.Count; ++j) all.Items.push_back({modules.Entries[size_t(j)].Name, j});
  for (int k = 0; k < kSlots; ++k) {
    Modules[size_t(k)] = all;
    Modules[size_t(k)].Enabled = k == 0;
  }
  type_ = station_->DeviceType;
  if (new_) {
    type_ = station_->DeviceType = project_.Tables().Stations.Entries[0];
    FilterModules();
  }
  type_changed_ = false;
}

void TStationEditor::Activate() {
  if (activated_) return;
  activated_ = true;
  Setup();
  if (editing_) {
    Name = station_->Name;
    TypeIndex = station_->DeviceType.Index;
    ExtraWait = station_->ExtraWait;
    OnlineCheck = station_->OnlineCheck > 0;
    Relay = station_->Relay;
    for (int k = 1; k <= station_->ModuleCount && k <= kSlots; ++k) {
      TModuleBox& box = Modules[size_t(k - 1)];
      for (size_t i = 0; i < box.Items.size(); ++i) {
        if (box.Items[i].TablePos == station_->Modules[size_t(k - 1)].Index) {
          ModuleChange(k, int(i));
          break;
        }
      }
    }
  } else {
    Name = DefaultName;
    TypeIndex = 0;
    AddressIndex = FreeAddresses.empty() ? -1 : 0;
  }
  FilterModules();
  FocusSlot = 0;
}

void TStationEditor::FilterModules() {
  const TDeviceTable& modules = project_.Tables().Modules;
  for (TModuleBox& box : Modules) {
    const int32_t selected = box.SelectedPos();
    for (int32_t j = 0; j < modules.Count; ++j) {
      const bool offered = (modules.Entries[size_t(j)].Flags & type_.Flags) > 0 || j == selected;
      auto it = std::find_if(box.Items.begin(), box.Items.end(), [&](const TModuleBox::Item& item) { return item.TablePos == j; });
      const int pos = it == box.Items.end() ? -1 : int(it - box.Items.begin());
      if (pos > 0 && !offered) {
        box.Items.erase(it);
        if (box.Index > pos) --box.Index;
      } else if (pos < 0 && offered) {
        box.Items.push_back({modules.Entries[size_t(j)].Name, j});
      }
    }
  }
  OnlineCheckVisible = (type_.Flags & 1) != 0;
  if (!OnlineCheckVisible) OnlineCheck = false;
  WaitVisible = (type_.Flags & 8) != 0;
  if (!WaitVisible) ExtraWait = 0;
}

void TStationEditor::TypeChange(int index) {
  const TDeviceTable& stations = project_.Tables().Stations;
  if (index < 0 || index >= stations.Count) return;
  TypeIndex = index;
  if (stations.Entries[size_t(index)].TypeId == type_.TypeId) return;
  type_changed_ = true;
  type_ = stations.Entries[size_t(index)];
  FilterModules();
}

void TStationEditor::ModuleChange(int slot, int index) {
  if (slot < 1 || slot > kSlots) return;
  Modules[size_t(slot - 1)].Index = index;
  if (index < 1) {
    for (int k = slot + 1; k <= kSlots; ++k) {
      Modules[size_t(k - 1)].Enabled = false;
      Modules[size_t(k - 1)].Index = 0;
    }
  } else if (slot < kSlots) {
    Modules[size_t(slot)].Enabled = true;
    FocusSlot = slot + 1;
  }
}

bool TStationEditor::StationNameUsed(const std::string& name) const {
  const TStationTree& tree = project_.Tree;
  for (TStationNode* n = tree.Next(tree.Root()); n; n = tree.Next(n)) {
    const TFuMo* st = n->Station();
    // Names that differ only in case are one key of the project file's [KONFIGURATOR] section
    // for the readers that match keys ignoring case.
    if (st && st != station_ && platform::UpperCase1252(st->Name) == platform::UpperCase1252(name)) return true;
  }
  return false;
}

bool TStationEditor::Ok() {
  TMessages& messages = project_.Messages();
  // A station without a name would be an unnamed node in the tree and an empty field in the file.
  if (TCustomFM::Blank(Name)) {
    messages.ShowErrorMsg(msgNoStationName);
    FocusName = true;
    return false;
  }
  if (StationNameUsed(Name)) {
    messages.ShowErrorMsg(12, Name);
    FocusName = true;
    return false;
  }
  // A name the name rule refuses would leave a new station without any name.
  TCustomFM probe;
  probe.SetName(Name);
  if (probe.ErrorCode == 0 && TCustomFM::CutByReaders(Name)) probe.ErrorCode = 2;
  if (probe.ErrorCode != 0) {
    messages.ShowErrorMsg(probe.ErrorCode);
    FocusName = true;
    return false;
  }
  if (AddressIndex < 0 || size_t(AddressIndex) >= FreeAddresses.size()) {
    messages.ShowErrorMsg(msgNoFreeAddress);
    return false;
  }
  const TDeviceTables& tables = project_.Tables();
  TFuMo& st = *station_;
  st.SetName(Name);
  st.DeviceType = tables.Stations.Entries[size_t(std::clamp(TypeIndex, 0, std::max(0, tables.Stations.Count - 1)))];
  st.ExtraWait = ExtraWait;
  st.OnlineCheck = OnlineCheck ? 1 : 0;
  st.Relay = Relay;

  TChannelCounts counts{st.DeviceType.ChannelsAA, st.DeviceType.ChannelsAE, st.DeviceType.ChannelsBA,
                        st.DeviceType.ChannelsBE};
  st.ModuleCount = 0;
  for (const TModuleBox& box : Modules) {
    const int32_t pos = box.SelectedPos();
    if (!box.Enabled || box.Index < 1 || pos < 0) continue;
    const DeviceType& m = tables.Modules.Entries[size_t(pos)];
    st.Modules[size_t(st.ModuleCount++)] = m;
    counts.BE += m.ChannelsBE;
    counts.BA += m.ChannelsBA;
    counts.AE += m.ChannelsAE;
    counts.AA += m.ChannelsAA;
  }
  if (!editing_ || type_changed_) st.Channels.clear();
  RebuildChannels(st, counts, Prefixes);

  st.Address = FreeAddresses[size_t(AddressIndex)];
  project_.Addresses().SetFree(st.Address, false);
  st.Parent1 = 0;
  st.Parent2 = 0;
  project_.Modified = true;
  return true;
}

void TStationEditor::Cancel() {
  if (editing_ && station_) project_.Addresses().SetFree(station_->Address, false);
}

}  // namespace configurator
