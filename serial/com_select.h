// What a combo box for one serial setting holds and decides: the texts of the setting's
// values, the value of the chosen text, and the optional link to a port to which a choice is
// applied. The window toolkit's combo box shows Items and reports the user's choice.
#pragma once

#include <string>
#include <vector>

#include "serial/com_port.h"
#include "serial/com_types.h"

namespace serial {

enum TComProperty { cpNone, cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl };

class TComSelect final : public TComPortObserver {
 public:
  // systemPorts lists the machine's ports for the cpPort kind (ListSerialPorts by default).
  explicit TComSelect(std::vector<std::string> (*systemPorts)() = nullptr);
  ~TComSelect() override;
  TComSelect(const TComSelect&) = delete;
  TComSelect& operator=(const TComSelect&) = delete;

  TComProperty ComProperty() const { return property_; }
  // Fills Items with the kind's texts and selects the linked port's value (index 0 without port).
  void SetComProperty(TComProperty value);
  TCustomComPort* ComPort() const { return port_; }
  // Links a port (nullptr: none); the item of its current value becomes the selection.
  void SetComPort(TCustomComPort* port);
  bool AutoApply = false;

  // The selected item's text, "" when nothing is selected.
  std::string Text() const;
  // Selects the item equal to text ignoring case, as the list's own search does; an unknown
  // text leaves the selection as it is.
  void SetText(const std::string& text);
  // The user picked item index: its value is kept and, with AutoApply, given to the port.
  void Change(int index);

  std::vector<std::string> Items;
  int ItemIndex = -1;

  // The last chosen value of every setting (ordinal 0 until one is chosen).
  std::string Port;
  TBaudRate BaudRate = brCustom;
  TDataBits DataBits = dbFive;
  TStopBits StopBits = sbOneStopBit;
  TParityBits Parity = prNone;
  TFlowControl FlowControl = fcHardware;

 private:
  void PortRemoved(TCustomComPort& port) override;
  // The linked port's value of the kind as text ("" when no port or no kind).
  std::string PortValueText() const;
  int IndexOf(const std::string& text) const;
  // Selects the linked port's value and keeps it, when it is among the items.
  void SelectPortValue();
  // Stores the value of text for the kind.
  void Store(const std::string& text);

  std::vector<std::string> (*system_ports_)();
  TComProperty property_ = cpNone;
  TCustomComPort* port_ = nullptr;
};

}  // namespace serial
