#include "server/opc/debug_window/debug_texts.h"

#include <gtest/gtest.h>

namespace opc {
namespace {

TDebugStation Pumpe() {
  TDebugStation st;
  st.StationName = "Pumpe";
  st.Adr1 = 12;
  st.bDoneRd = {false, true, false, true};
  st.iWantRd = {0, 1, 0, 37};
  st.bWantWr = {false, false, true, false};
  st.Timeouts.Timeout = {-809, 360, -1013, 0, 6000, -2};
  st.Timeouts.RegCnt = {10, 3, 5, 0, 40, 2};
  return st;
}

const std::vector<std::string> kPumpeLines{
    "Gruppe: IN\tOUT\tSYS\t",
    "bDoneRd TRUE \tFALSE\tTRUE \t",
    "iWantRd 1\t0\t37\t",
    "bWantWr FALSE\tTRUE \tFALSE\t",
    "",
    "TO-Typ: START\tOUT\tINOUT\tIN\tSYS\tTEMP\t",
    "RegCnt: 10\t3\t5\t0\t40\t2\t",
    "Timeout:-809\t360\t-1013\t0\t6000\t-2\t",
};

driver::TFunkView Request(int32_t af) {
  driver::TFunkView f;
  f.ZS = 3;
  f.AktFM = 2;
  f.Is3964r = true;
  f.DOfs = 9;
  f.AF = af;
  f.US = 2;
  f.PutKl = 2, f.PutStart = 0, f.PutAnz = 3;
  f.GetKl = 1, f.GetStart = -1, f.GetAnz = 5;
  f.TOindex = 2;
  f.TO = 1234;
  return f;
}

TDebugSnapshot Snap(std::optional<driver::TFunkView> funk, int32_t count, std::optional<TDebugStation> station) {
  TDebugSnapshot s;
  s.Funk = funk;
  s.StationCount = count;
  s.Station = std::move(station);
  return s;
}

struct TextsRow {
  const char* name;
  TDebugSnapshot snapshot;
  std::optional<std::vector<std::string>> zfm;
  std::string caption;
  std::vector<std::string> fm;
};

TEST(DebugTexts, OfOneSnapshot) {
  TDebugStation central;
  central.StationName = "ZFM1";
  central.Adr1 = central.Adr2 = central.Adr3 = -1;
  TDebugStation relayed = Pumpe();
  relayed.StationName = "M\xFChle";  // Windows-1252 stays as it is
  relayed.Adr1 = 40, relayed.Adr2 = 3, relayed.Adr3 = 7;
  driver::TFunkView idle;  // nothing published yet: all zero
  idle.Is3964r = false;

  const std::vector<TextsRow> rows{
      {"without protocol object the memo keeps its text", Snap(std::nullopt, 3, Pumpe()), std::nullopt,
       "Pumpe  (12:0:0)", kPumpeLines},
      {"station request",
       Snap(Request(4), 3, Pumpe()),
       std::vector<std::string>{"ZS=3 AktFM=2 3964r=TRUE  DOfs=9", "AF=4: US=2 Put:2:0/3 Get:1:-1/5",
                                "   TOindex=2 TO=1234"},
       "Pumpe  (12:0:0)", kPumpeLines},
      {"central-modem query shows no ranges",
       Snap(Request(3), 3, Pumpe()),
       std::vector<std::string>{"ZS=3 AktFM=2 3964r=TRUE  DOfs=9", "AF=3: ", "   TOindex=2 TO=1234"},
       "Pumpe  (12:0:0)", kPumpeLines},
      {"nothing published yet",
       Snap(idle, 3, central),
       std::vector<std::string>{"ZS=0 AktFM=0 3964r=FALSE DOfs=0", "AF=0: ", "   TOindex=0 TO=0"},
       "ZFM1  (-1:-1:-1)",
       {"Gruppe: IN\tOUT\tSYS\t", "bDoneRd FALSE\tFALSE\tFALSE\t", "iWantRd 0\t0\t0\t", "bWantWr FALSE\tFALSE\tFALSE\t",
        "", "TO-Typ: START\tOUT\tINOUT\tIN\tSYS\tTEMP\t", "RegCnt: 0\t0\t0\t0\t0\t0\t", "Timeout:0\t0\t0\t0\t0\t0\t"}},
      {"station behind two relays", Snap(std::nullopt, 3, relayed), std::nullopt, "M\xFChle  (40:3:7)", kPumpeLines},
      {"no station list", Snap(std::nullopt, 0, std::nullopt), std::nullopt, "", {}},
  };
  for (const TextsRow& row : rows) {
    SCOPED_TRACE(row.name);
    const TDebugTexts t = RefreshTexts(row.snapshot);
    EXPECT_EQ(t.Zfm, row.zfm);
    EXPECT_EQ(t.FmCaption, row.caption);
    EXPECT_EQ(t.Fm, row.fm);
  }
}

TEST(DebugTexts, SpinStaysWithinTheStationList) {
  struct Row {
    const char* name;
    int32_t shown, count, up, down;
  } rows[] = {
      {"first of three", 0, 3, 1, 0},
      {"middle", 1, 3, 2, 0},
      {"last of three", 2, 3, 2, 1},
      {"central modem only", 0, 1, 0, 0},
      {"no station list", 0, 0, 0, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(SpinUp(r.shown, r.count), r.up);
    EXPECT_EQ(SpinDown(r.shown), r.down);
  }
}

}  // namespace
}  // namespace opc
