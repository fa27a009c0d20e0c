#include "serial/com_select.h"

#include "serial/com_texts.h"
#include "serial/port_list.h"

namespace serial {

namespace {
std::vector<std::string> MachinePorts() {
  std::vector<std::string> list;
  ListSerialPorts(list);
  return list;
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

template <class E>
void AddTexts(std::vector<std::string>& items, int count, std::string (*text)(E)) {
  for (int i = 0; i < count; ++i) items.push_back(text(E(i)));
}
}  // namespace

TComSelect::TComSelect(std::vector<std::string> (*systemPorts)()) : system_ports_(systemPorts ? systemPorts : MachinePorts) {}

TComSelect::~TComSelect() {
  if (port_) port_->RemoveFreeNotification(this);
}

void TComSelect::SetComProperty(TComProperty value) {
  property_ = value;
  Items.clear();
  ItemIndex = -1;
  switch (value) {
    case cpPort: Items = system_ports_(); break;
    case cpBaudRate: AddTexts(Items, kBaudRateCount, BaudRateText); break;
    case cpDataBits: AddTexts(Items, 4, DataBitsText); break;
    case cpStopBits: AddTexts(Items, 3, StopBitsText); break;
    case cpParity: AddTexts(Items, 5, ParityText); break;
    case cpFlowControl: AddTexts(Items, 4, FlowControlText); break;
    case cpNone: break;
  }
  if (Items.empty()) return;
  if (port_)
    SelectPortValue();
  else
    ItemIndex = 0;
}

void TComSelect::SetComPort(TCustomComPort* port) {
  if (port == port_) return;
  if (port_) port_->RemoveFreeNotification(this);
  port_ = port;
  if (!port_) return;
  port_->FreeNotification(this);
  SelectPortValue();
}

void TComSelect::PortRemoved(TCustomComPort& port) {
  if (&port != port_) return;
  port_ = nullptr;
  if (!Items.empty()) ItemIndex = 0;
}

std::string TComSelect::Text() const {
  return ItemIndex >= 0 && size_t(ItemIndex) < Items.size() ? Items[size_t(ItemIndex)] : std::string();
}

int TComSelect::IndexOf(const std::string& text) const {
  for (size_t i = 0; i < Items.size(); ++i)
    if (EqualNoCase(Items[i], text)) return int(i);
  return -1;
}

void TComSelect::SetText(const std::string& text) {
  int i = IndexOf(text);
  if (i >= 0) ItemIndex = i;
}

void TComSelect::SelectPortValue() {
  int i = IndexOf(PortValueText());
  if (i < 0) return;
  ItemIndex = i;
  Store(Items[size_t(i)]);
}

void TComSelect::Change(int index) {
  if (index < 0 || size_t(index) >= Items.size()) return;
  ItemIndex = index;
  Store(Items[size_t(index)]);
  if (!AutoApply || !port_) return;
  switch (property_) {
    case cpPort: port_->SetPort(Port); break;
    case cpBaudRate: port_->SetBaudRate(BaudRate); break;
    case cpDataBits: port_->SetDataBits(DataBits); break;
    case cpStopBits: port_->SetStopBits(StopBits); break;
    case cpParity: port_->Parity().SetBits(Parity); break;
    case cpFlowControl: port_->FlowControl().SetFlowControl(FlowControl); break;
    case cpNone: break;
  }
}

std::string TComSelect::PortValueText() const {
  if (!port_) return {};
  switch (property_) {
    case cpPort: return port_->Port();
    case cpBaudRate: return BaudRateText(port_->BaudRate());
    case cpDataBits: return DataBitsText(port_->DataBits());
    case cpStopBits: return StopBitsText(port_->StopBits());
    case cpParity: return ParityText(port_->Parity().Bits());
    case cpFlowControl: return FlowControlText(port_->FlowControl().FlowControl());
    case cpNone: break;
  }
  return {};
}

void TComSelect::Store(const std::string& text) {
  switch (property_) {
    case cpPort: Port = text; break;
    case cpBaudRate: BaudRate = TextToBaudRate(text); break;
    case cpDataBits: DataBits = TextToDataBits(text); break;
    case cpStopBits: StopBits = TextToStopBits(text); break;
    case cpParity: Parity = TextToParity(text); break;
    case cpFlowControl: FlowControl = TextToFlowControl(text); break;
    case cpNone: break;
  }
}

}  // namespace serial
