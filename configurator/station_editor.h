// The station dialog without its window: which station it edits or creates, what its fields
// show, which extension modules each slot offers, and what OK stores into the station,
// including the channel list built from the type's and the modules' channel counts.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "configurator/model.h"

namespace configurator {

class TProject;

struct TChannelCounts {
  int32_t AA = 0, AE = 0, BA = 0, BE = 0;
};
// The names of new channels: prefix + number.
struct TChannelPrefixes {
  std::string AA, AE, BA, BE;
};

// Makes the channel list hold the counts in the blocks AA, AE, BA, BE (in this order).
// Existing channels of a block keep their settings; a block grows or shrinks at its end. A new
// name already used in the station gets "_A" ("_B", ... "_Z") appended.
void RebuildChannels(TFuMo& station, const TChannelCounts& counts, const TChannelPrefixes& prefixes);

// One extension-module slot: its list (name and table position per item), the selected item
// and whether the user may change it.
struct TModuleBox {
  struct Item {
    std::string Name;
    int32_t TablePos = 0;
    bool operator==(const Item&) const = default;
  };
  std::vector<Item> Items;
  int Index = 0;  // -1: nothing selected
  bool Enabled = false;
  int32_t SelectedPos() const { return Index >= 0 && size_t(Index) < Items.size() ? Items[size_t(Index)].TablePos : -1; }
};

class TStationEditor {
 public:
  static constexpr int kSlots = kModuleSlots;

  // editing: the tree's edit command, which has set the project's station-edit flag; the
  // dialog then edits the current node's station. Otherwise it creates a new one.
  TStationEditor(TProject& project, bool editing);

  // The dialog is shown: the fields are filled from the station (editing) or with the
  // defaults. Only the first call fills them; later activations keep what the user typed.
  void Activate();
  // The user picked type index (and module item index in slot 1..8).
  void TypeChange(int index);
  void ModuleChange(int slot, int index);
  // Stores the fields into the station. False when the dialog must stay open (a message has
  // been shown).
  bool Ok();
  // Gives an edited station its address back.
  void Cancel();

  TFuMo& Station() { return *station_; }
  TProject& Project() { return project_; }
  // The new station after OK when inserting (the caller puts it into the tree).
  std::unique_ptr<TFuMo> TakeNewStation() { return std::move(new_); }
  bool Editing() const { return editing_; }

  // Texts kept at creation (section FM).
  std::string Caption;
  std::string DefaultName;
  std::string ModuleLabelFormat;
  TChannelPrefixes Prefixes;

  // The fields as the dialog shows them.
  std::string Name;
  int TypeIndex = 0;
  std::vector<int32_t> FreeAddresses;
  int AddressIndex = -1;
  std::array<TModuleBox, kSlots> Modules;
  std::array<std::string, kSlots> ModuleLabels;
  int32_t ExtraWait = 0;
  bool WaitVisible = false;
  bool OnlineCheck = false;
  bool OnlineCheckVisible = false;
  bool Relay = false;
  // Slot (1..8) whose box wants the input focus, 0 for none; the window clears it.
  int FocusSlot = 0;
  bool FocusName = false;  // the name field wants the input focus; the window clears it

 private:
  void Setup();
  void FilterModules();
  bool StationNameUsed(const std::string& name) const;

  TProject& project_;
  bool editing_;
  bool activated_ = false;
  bool type_changed_ = false;
  // The type chosen in the dialog; the station takes it only on OK, so Cancel leaves it whole.
  DeviceType type_;
  TFuMo* station_ = nullptr;
  std::unique_ptr<TFuMo> new_;
};

}  // namespace configurator
