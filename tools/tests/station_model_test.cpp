#include "tools/radiosim/station_model.h"

#include <gtest/gtest.h>

#include "tools/radiosim/telegram.h"

namespace radiosim {
namespace {

using std::chrono::milliseconds;

StationShape Shape(int be, int ae, int ba, int aa) {
  return {.name = "S", .index = 1, .adr1 = 12, .path = {12, 0, 0, 0}, .binaryInputs = be, .analogInputs = ae,
          .binaryOutputs = ba, .analogOutputs = aa, .params = 36};
}

TEST(StationModel, RegisterSpaceOfEachClass) {
  struct Row {
    int be, ae, ba, aa;
    int inputs, outputs;  // registers with the status word counted
  } rows[] = {{0, 0, 0, 0, 1, 0}, {16, 2, 1, 1, 4, 2}, {17, 0, 40, 3, 3, 6}};
  for (const Row& r : rows) {
    SCOPED_TRACE(std::to_string(r.be) + " BE " + std::to_string(r.ba) + " BA");
    StationModel m(Shape(r.be, r.ae, r.ba, r.aa), {});
    EXPECT_EQ(m.Size(kInputs), r.inputs);
    EXPECT_EQ(m.Size(kOutputs), r.outputs);
    EXPECT_EQ(m.Size(kParams), 36);
    EXPECT_TRUE(m.Read(kInputs, -1, milliseconds(0)));
    EXPECT_TRUE(m.Read(kInputs, r.inputs - 2, milliseconds(0)));
    EXPECT_FALSE(m.Read(kInputs, r.inputs - 1, milliseconds(0)));
    EXPECT_FALSE(m.Read(kInputs, -2, milliseconds(0)));
    EXPECT_FALSE(m.Read(kOutputs, r.outputs, milliseconds(0)));
    EXPECT_FALSE(m.Read(kNone, 0, milliseconds(0)));
  }
}

TEST(StationModel, BinaryInputWordsCarryNoBitsBeyondTheChannels) {
  StationModel m(Shape(20, 0, 0, 0), {});
  EXPECT_NE(*m.Read(kInputs, 0, milliseconds(0)), 0);
  EXPECT_EQ(*m.Read(kInputs, 1, milliseconds(0)) & ~0x000F, 0);
}

TEST(StationModel, ParametersNameTheStation) {
  StationModel m(Shape(0, 0, 0, 0), {});
  EXPECT_EQ(*m.Read(kParams, 0, milliseconds(0)), 1);  // radio layer up
  EXPECT_EQ(*m.Read(kParams, 6, milliseconds(0)), 12);
  EXPECT_EQ(*m.Read(kParams, 7, milliseconds(0)), StationModel::kVersion);
}

TEST(StationModel, AnalogInputsMoveInsideTheirRange) {
  StationModel m(Shape(16, 3, 0, 0), {.analogPeriod = milliseconds(1000)});
  const int first = m.BinaryWords(kInputs);
  bool moved = false;
  for (int t = 0; t <= 2000; t += 50) {
    for (int a = 0; a < 3; ++a) {
      const uint16_t v = *m.Read(kInputs, first + a, milliseconds(t));
      EXPECT_GE(v, StationModel::kAnalogLow);
      EXPECT_LE(v, StationModel::kAnalogHigh);
    }
    moved = moved || *m.Read(kInputs, first, milliseconds(t)) != *m.Read(kInputs, first, milliseconds(0));
  }
  EXPECT_TRUE(moved);
  // Set by hand, an input stands still.
  ASSERT_TRUE(m.Set(kInputs, first + 1, 4000));
  EXPECT_EQ(*m.Read(kInputs, first + 1, milliseconds(700)), 4000);
  EXPECT_EQ(*m.Read(kInputs, first + 1, milliseconds(1300)), 4000);
}

TEST(StationModel, AnalogInputsStandStillWithoutPeriod) {
  StationModel m(Shape(0, 2, 0, 0), {.analogPeriod = milliseconds(0)});
  EXPECT_EQ(*m.Read(kInputs, 0, milliseconds(0)), *m.Read(kInputs, 0, milliseconds(12345)));
  EXPECT_NE(*m.Read(kInputs, 0, milliseconds(0)), *m.Read(kInputs, 1, milliseconds(0)));
}

TEST(StationModel, BinaryOutputsFollowWritesAfterTheRelayDelay) {
  struct Write {
    int ms;
    uint16_t value;
  };
  struct Read {
    int ms;
    uint16_t value;
  };
  struct Row {
    const char* name;
    std::vector<Write> writes;
    std::vector<Read> reads;
  } rows[] = {
      {"switches after the delay", {{0, 5}}, {{0, 0}, {99, 0}, {100, 5}}},
      {"the same value written again does not start the delay over", {{0, 5}, {50, 5}, {90, 5}},
       {{99, 0}, {100, 5}, {190, 5}}},
      {"a new value starts its own delay", {{0, 5}, {150, 6}}, {{149, 5}, {249, 5}, {250, 6}}},
      {"writing back the state cancels the change", {{0, 5}, {50, 0}}, {{100, 0}, {200, 0}}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    StationModel m(Shape(0, 0, 16, 1), {.relayDelay = milliseconds(100)});
    size_t w = 0;
    for (const Read& rd : r.reads) {
      while (w < r.writes.size() && r.writes[w].ms <= rd.ms) {
        ASSERT_TRUE(m.Write(kOutputs, 0, r.writes[w].value, milliseconds(r.writes[w].ms)));
        ++w;
      }
      EXPECT_EQ(*m.Read(kOutputs, 0, milliseconds(rd.ms)), rd.value) << "at " << rd.ms << " ms";
    }
  }
}

TEST(StationModel, AnalogOutputsTakeWritesAtOnce) {
  StationModel m(Shape(0, 0, 16, 1), {.relayDelay = milliseconds(100)});
  ASSERT_TRUE(m.Write(kOutputs, 1, 777, milliseconds(0)));
  EXPECT_EQ(*m.Read(kOutputs, 1, milliseconds(0)), 777);
  EXPECT_FALSE(m.Write(kOutputs, 2, 1, milliseconds(0)));
}

}  // namespace
}  // namespace radiosim
