// The state texts, the value texts and the LED geometry.
#include <gtest/gtest.h>

#include "platform/com/variant.h"
#include "visualisation/global.h"
#include "visualisation/led_table.h"

namespace lumaro {
namespace {

using platform::com::Variant;

TEST(StateTexts, ModemDcfAndServer) {
  struct Case {
    int64_t value;
    const char* modem;
    const char* dcf;
  } cases[] = {
      {1, "Ok", "Initialisiert"},
      {-1, "Keine Verbindung", "unbekannt"},
      {-2, "Keine SRN", "unbekannt"},
      {-3, "Interner Fehler", "unbekannt"},
      {-4, "Simulationsmodus", "unbekannt"},
      {0, "unbekannt", "Sucht"},
      {2, "unbekannt", "Ok"},
      {3, "unbekannt", "Asynchron"},
      {7, "unbekannt", "unbekannt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(ModemStatusText(c.value), c.modem);
    EXPECT_EQ(DcfStateText(c.value), c.dcf);
  }
  const char* server[] = {"unbekannt",    "verbunden", "nicht verbunden", "nicht konfiguriert",
                          "unterbrochen", "Testmodus", "unbekannt"};
  for (int state = 0; state <= 6; ++state) {
    SCOPED_TRACE(state);
    EXPECT_EQ(ServerStatusText(true, state), server[state]);
    EXPECT_EQ(ServerStatusText(false, state), "nicht verbunden");
  }
}

TEST(ValueTexts, LocaleDecimalPointForRealsOnly) {
  const NumberFormat german{',', ';'};
  EXPECT_EQ(ValueText(Variant::R8(12.5), german), "12,5");
  EXPECT_EQ(ValueText(Variant::I4(1205), german), "1205");
  EXPECT_EQ(ValueText(Variant::Str("a.b"), german), "a.b");
  EXPECT_EQ(ValueText(Variant(), german), "");
  EXPECT_EQ(FormatDecimals(12.345, 2, german), "12,35");
  EXPECT_EQ(FormatDecimals(12.345, 0, NumberFormat{}), "12");
  EXPECT_EQ(FormatDecimals(1.5, -3, NumberFormat{}), "2");  // a negative count means none
}

TEST(LedTable, ClickHitsWithinFivePixelsInBothDirections) {
  struct Case {
    const char* name;
    int x, y;
    int row;
  } cases[] = {
      {"input 1 centre", 37, 112, 0},
      {"output 1 centre", 37, 204, 16},
      {"output 9 five pixels off in both", 218, 209, 24},
      {"six pixels beside output 1", 43, 204, -1},
      {"six pixels below output 1", 37, 210, -1},
      {"bar LED 4", 495, 204, 35},
      {"an LED that is not driven", 564, 112, 46},
      {"between two inputs", 46, 112, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(LedAt(c.x, c.y), c.row);
  }
}

TEST(LedTable, ColourNumbers) {
  EXPECT_EQ(LedColourNumber(0, true, true), 5);    // input on: green
  EXPECT_EQ(LedColourNumber(0, true, false), 4);   // input off: dark green
  EXPECT_EQ(LedColourNumber(16, true, true), 7);   // output on: red
  EXPECT_EQ(LedColourNumber(35, true, true), 3);   // bar LED 4 on: yellow
  EXPECT_EQ(LedColourNumber(16, false, true), 0);  // invalid: grey
}

}  // namespace
}  // namespace lumaro
