// The central-modem dialog and the project-name dialog without their windows: what the fields
// show, the check of a newly chosen type, and what OK stores.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "configurator/model.h"

namespace configurator {

class TProject;
class TStationTree;

// Whether a station directly under the central modem has stations of its own.
bool HasNestedStations(const TStationTree& tree);

// The port names the dialog offers: COM1 .. COM8, then the machine's ports that are not one of
// those under another name (ttyS0 is COM1), then the stored name when it is none of them, so
// that OK keeps a port the list would not show.
std::vector<std::string> CentralPortItems(const std::string& stored, const std::vector<std::string>& machinePorts);

class TZFMEditor {
 public:
  TZFMEditor(TProject& project, std::vector<std::string> machinePorts);

  // The dialog is shown: the edited object is the current node's central modem, or a new one
  // without a current node. Only the first call fills the fields.
  void Activate();
  // The user picked type index. False when the type is refused (a mode without nesting while
  // stations are nested): the box has been shown and TypeIndex is the previous type again.
  bool TypeChange(int index);
  // Stores the fields into the object. False when the dialog must stay open.
  bool Ok();

  TZFM& Object() { return *object_; }
  TProject& Project() { return project_; }
  // The new object after OK when there was no current node (the caller makes it the root).
  std::unique_ptr<TZFM> TakeNew() { return std::move(new_); }

  std::string Caption;  // ZFM T1

  std::string Name;
  int TypeIndex = 0;
  int Mode = -1;  // the radio button shown: 0, 1, 2, or -1 for none
  std::vector<std::string> PortItems;
  std::string Port;  // the selected port item, "" for none
  std::string BaudRate, DataBits, Parity, StopBits;  // texts of the setting boxes
  int32_t ExtraWait = 0;
  bool FocusName = false;  // the name field wants the input focus; the window clears it

 private:
  TProject& project_;
  std::vector<std::string> machine_ports_;
  bool activated_ = false;
  int previous_type_ = 0;
  std::string previous_name_;
  TZFM* object_ = nullptr;
  std::unique_ptr<TZFM> new_;
};

// OK of the project-name dialog: an empty name shows message 4 and gives false; otherwise the
// name becomes the project path (a bare name; saving puts the data folder in front).
bool AcceptProjectName(TProject& project, const std::string& name);

}  // namespace configurator
