#include "serial/com_select.h"

#include <gtest/gtest.h>

#include <memory>

#include "serial/fake_backend.h"

namespace serial {
namespace {

std::vector<std::string> TwoPorts() { return {"ttyS0", "ttyUSB0"}; }
std::vector<std::string> NoPorts() { return {}; }

TEST(TComSelect, EachKindListsItsTextsAndSelectsTheFirstWithoutAPort) {
  struct Row {
    const char* name;
    TComProperty kind;
    std::vector<std::string> items;
  } rows[] = {
      {"baud rate", cpBaudRate, {"Custom", "110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200",
                                 "38400", "56000", "57600", "115200", "128000", "256000"}},
      {"data bits", cpDataBits, {"5", "6", "7", "8"}},
      {"stop bits", cpStopBits, {"1", "1.5", "2"}},
      {"parity", cpParity, {"None", "Odd", "Even", "Mark", "Space"}},
      {"flow control", cpFlowControl, {"Hardware", "Software", "None", "Custom"}},
      {"port", cpPort, {"ttyS0", "ttyUSB0"}},
      {"none", cpNone, {}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    TComSelect box(TwoPorts);
    box.SetComProperty(cpBaudRate);  // refilled, not appended
    box.SetComProperty(r.kind);
    EXPECT_EQ(box.Items, r.items);
    EXPECT_EQ(box.Text(), r.items.empty() ? "" : r.items[0]);
  }
  TComSelect empty(NoPorts);
  empty.SetComProperty(cpPort);
  EXPECT_EQ(empty.ItemIndex, -1);
  EXPECT_EQ(empty.Text(), "");
}

TEST(TComSelect, TextSelectsAKnownItemOnly) {
  TComSelect box;
  box.SetComProperty(cpBaudRate);
  box.SetText("4800");
  EXPECT_EQ(box.Text(), "4800");
  box.SetText("4711");
  EXPECT_EQ(box.Text(), "4800");
  box.SetComProperty(cpParity);
  box.SetText("even");
  EXPECT_EQ(box.Text(), "Even");
}

TEST(TComSelect, ALinkedPortShowsItsValueAndTakesChoicesWithAutoApply) {
  auto port = std::make_unique<TComPort>(std::make_shared<FakeComBackend>());
  port->SetBaudRate(br19200);
  port->Parity().SetBits(prMark);
  TComSelect baud, parity;
  baud.SetComPort(port.get());
  baud.SetComProperty(cpBaudRate);
  EXPECT_EQ(baud.Text(), "19200");
  EXPECT_EQ(baud.BaudRate, br19200);
  parity.SetComProperty(cpParity);
  parity.SetComPort(port.get());
  EXPECT_EQ(parity.Text(), "Mark");

  baud.Change(2);  // without AutoApply the choice is only kept
  EXPECT_EQ(baud.BaudRate, br300);
  EXPECT_EQ(port->BaudRate(), br19200);
  baud.AutoApply = parity.AutoApply = true;
  baud.Change(6);
  parity.Change(2);
  EXPECT_EQ(port->BaudRate(), br4800);
  EXPECT_EQ(port->Parity().Bits(), prEven);

  port.reset();  // the boxes let go of the port and fall back to their first item
  EXPECT_EQ(baud.ComPort(), nullptr);
  EXPECT_EQ(baud.Text(), "Custom");
  parity.Change(1);
  EXPECT_EQ(parity.Parity, prOdd);
}

}  // namespace
}  // namespace serial
