#include <gtest/gtest.h>

#include <cstring>

#include "platform/com/bstr.h"
#include "server/driver/fml.h"
#include "server/opc/item_handle.h"
#include "server/opc/tests/exports_fixture.h"

namespace opc::testing {
namespace {

namespace com = platform::com;
namespace tk = platform::toolkit;
using driver::TFuMo;
using driver::TWert;

constexpr int32_t kDruck = 272;  // Pumpe, group 1 register 0: factor 0.1, a float register
constexpr int32_t kPegel = 272 + 65536;
constexpr int32_t kStell = 304;  // Pumpe, first analogue output
constexpr int32_t kWordRegister = 256;  // Pumpe, group 0 register 0; + n * 65536 for register n

class RequestsTest : public ExportsTest {
 protected:
  void SetUp() override {
    ExportsTest::SetUp();
    WriteIni(kStations, kChannels);
  }
  TFuMo& Pumpe() { return driver::FML->Items(1); }
  TWert& Record(int32_t handle) {
    ItemHandle h = ItemHandle::Decode(handle);
    return driver::FML->Items(h.station).GetWert(h.group, h.reg);
  }
  void ClearMarks() {
    for (int32_t i = 0; i < driver::FML->Count(); ++i)
      for (size_t k = 1; k <= 3; ++k) {
        driver::FML->Items(i).iWantRd[k] = 0;
        driver::FML->Items(i).bWantWr[k] = false;
      }
  }
};

struct ReadRow {
  const char* name;
  int32_t handle;
  int32_t raw;  // stored as an answer before the read; -1: never answered
  com::Variant value;
  uint16_t quality;
  int32_t wanted_class;  // 0: none
};

class Reads : public RequestsTest, public ::testing::WithParamInterface<ReadRow> {};

TEST_P(Reads, AnswerFromTheImageAndMarkTheClass) {
  const ReadRow& row = GetParam();
  StartLog();
  Load();
  ClearMarks();
  const ItemHandle h = ItemHandle::Decode(row.handle);
  TFuMo& st = driver::FML->Items(h.station);
  driver::AnswerTime = platform::U64ToFileTime(133'000'000'000'000'000ull);
  if (row.raw >= 0) st.SetWertInt(h.group, h.reg, row.raw, 0xC0);

  Answer a = host.Read(row.handle);
  EXPECT_EQ(a.state, 2);
  EXPECT_EQ(a.result, 0);
  EXPECT_EQ(a.value, row.value);
  EXPECT_EQ(a.quality, row.quality);
  EXPECT_EQ(a.time_stamp, st.GetWert(h.group, h.reg).TimeStamp);
  if (row.raw >= 0) {
    EXPECT_EQ(a.time_stamp, driver::AnswerTime);
  }
  for (int32_t k = 1; k <= 3; ++k) EXPECT_EQ(st.iWantRd[size_t(k)], k == row.wanted_class ? 1 : 0) << k;
}

INSTANTIATE_TEST_SUITE_P(
    Requests, Reads,
    ::testing::Values(ReadRow{"FloatRegister", kDruck, 125, com::Variant::R8(12.5), 0xC0, 1},
                      ReadRow{"IntegerRegister", kPegel, 7, com::Variant::I4(7), 0xC0, 1},
                      ReadRow{"NeverAnswered", kStell, -1, com::Variant::I4(0), 8, 2},
                      ReadRow{"BinaryInput", 288 + 3 * 65536, 1, com::Variant::I4(1), 0xC0, 1},
                      ReadRow{"BinaryOutput", 320 + 65536, 1, com::Variant::I4(1), 0xC0, 2},
                      ReadRow{"RadioModemParameter", 256 + 80 + 6 * 65536, 4711, com::Variant::I4(4711), 0xC0, 3},
                      ReadRow{"SystemRegister", kWordRegister + 2 * 65536, 3, com::Variant::I4(3), 0xC0, 0},
                      ReadRow{"CentralModemStatus", 0, 1, com::Variant::I4(1), 0xC0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

struct WriteRow {
  const char* name;
  int32_t handle;
  com::Variant value;
  bool pending;       // else taken as the integer value at once
  double write_wert;  // or the integer value
  int32_t wish_class;
};

class Writes : public RequestsTest, public ::testing::WithParamInterface<WriteRow> {};

TEST_P(Writes, StoreAPendingValueAndWishTheClass) {
  const WriteRow& row = GetParam();
  StartLog();
  Load();
  ClearMarks();
  const ItemHandle h = ItemHandle::Decode(row.handle);
  TFuMo& st = driver::FML->Items(h.station);
  const TWert before = Record(row.handle);

  Answer a = host.Write(row.handle, row.value);
  EXPECT_EQ(a.state, 2);
  EXPECT_EQ(a.result, 0);
  EXPECT_EQ(a.quality, 0);
  const TWert& w = Record(row.handle);
  EXPECT_EQ(w.bWritePending, row.pending);
  if (row.pending) {
    EXPECT_EQ(w.WriteWert, row.write_wert);
    EXPECT_EQ(w.Quality, 20);
  } else {
    EXPECT_EQ(w.WertInt, int32_t(row.write_wert));
    EXPECT_EQ(w.Quality, before.Quality);
  }
  for (int32_t k = 1; k <= 3; ++k) EXPECT_EQ(st.bWantWr[size_t(k)], k == row.wish_class) << k;

  // Until the driver confirms, a read shows the pending quality.
  if (row.pending) {
    EXPECT_EQ(host.Read(row.handle).quality, 20);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Requests, Writes,
    ::testing::Values(WriteRow{"AnalogueOutput", kStell, com::Variant::I4(42), true, 42, 2},
                      WriteRow{"WritableInput", 272 + 2 * 65536, com::Variant::R8(3.25), true, 3.25, 1},
                      WriteRow{"RadioModemParameter", 80 + 16 * 65536, com::Variant::I4(9), true, 9, 3},
                      WriteRow{"StationStatusWord", kWordRegister + 4 * 65536, com::Variant::I4(1), true, 1, 1},
                      WriteRow{"FailCounterWishesNothing", kWordRegister + 2 * 65536, com::Variant::I4(0), true, 0, 0},
                      WriteRow{"TextConverts", kStell, com::Variant::Str(" 7 "), true, 7, 2},
                      WriteRow{"GoodAnswersAtOnce", kWordRegister, com::Variant::I4(17), false, 17, 0},
                      WriteRow{"GoodInputAnswersRoundHalfEven", kWordRegister + 65536, com::Variant::R8(2.5), false,
                               2, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RequestsTest, OutputWordIsSpreadOverItsBinaryOutputs) {
  StartLog();
  Load();
  ClearMarks();
  // Pumpe: 20 binary inputs fill two words, so register 7 is the first output word; 10 outputs.
  host.Write(kWordRegister + 7 * 65536, com::Variant::I4(0xFC05));
  for (int32_t r = 0; r < 10; ++r) {
    SCOPED_TRACE(r);
    const TWert& w = Pumpe().GetWert(4, r);
    EXPECT_TRUE(w.bWritePending);
    EXPECT_EQ(w.Quality, 20);
    EXPECT_EQ(w.WriteWert, (r == 0 || r == 2) ? 1 : 0);
  }
  EXPECT_EQ(Pumpe().GetWert(0, 7).WriteWert, 0xFC05);
  EXPECT_TRUE(Pumpe().GetWert(0, 7).bWritePending);
  EXPECT_TRUE(Pumpe().bWantWr[2]);
  EXPECT_FALSE(Pumpe().bWantWr[1]);
}

TEST_F(RequestsTest, InputWordIsSpreadOverItsBinaryInputs) {
  StartLog();
  Load();
  ClearMarks();
  host.Write(kWordRegister + 6 * 65536, com::Variant::I4(0x9));  // DIN16-31: inputs 16..19
  const int32_t expected[4] = {1, 0, 0, 1};
  for (int32_t r = 16; r < 20; ++r) {
    EXPECT_TRUE(Pumpe().GetWert(2, r).bWritePending) << r;
    EXPECT_EQ(Pumpe().GetWert(2, r).WriteWert, expected[r - 16]) << r;
  }
  for (int32_t r = 0; r < 16; ++r) EXPECT_FALSE(Pumpe().GetWert(2, r).bWritePending) << r;
  for (int32_t r = 0; r < 10; ++r) EXPECT_FALSE(Pumpe().GetWert(4, r).bWritePending) << r;
  EXPECT_TRUE(Pumpe().bWantWr[1]);
  EXPECT_FALSE(Pumpe().bWantWr[2]);
}

tk::TDARequest Filled(int32_t handle) {
  tk::TDARequest r = Request(handle);
  std::memset(r.HostData, 0x5A, sizeof r.HostData);
  r.State = 7;
  r.Result = 55;
  r.Quality = 0xAB;
  com::RawVariant v;
  com::RawVariantInit(&v);
  v.vt = com::VT_I4;
  v.lVal = 99;
  tk::SetRequestValue(r, v);
  r.TimeStamp = platform::U64ToFileTime(12345);
  return r;
}

TEST_F(RequestsTest, PropertyHandleIsNeitherReadNorWritten) {
  StartLog();
  Load();
  ClearMarks();
  for (int32_t op : {tk::kRequestRead, tk::kRequestWrite}) {
    SCOPED_TRACE(op);
    auto out = host.Requests(op, {Filled(kStell + 1)});
    EXPECT_EQ(Decode(out[0]).state, 2);
    EXPECT_EQ(Decode(out[0]).quality, 0);
    EXPECT_EQ(Decode(out[0]).result, 55);
    EXPECT_EQ(tk::RequestValue(out[0]).lVal, 99);
    EXPECT_FALSE(Record(kStell).bWritePending);
    EXPECT_EQ(Pumpe().iWantRd[2], 0);
  }
}

TEST_F(RequestsTest, OtherOperationOnlyTakesTheRecordsUp) {
  StartLog();
  Load();
  ClearMarks();
  auto out = host.Requests(2, {Filled(kDruck), Filled(kStell)});
  for (const auto& r : out) {
    EXPECT_EQ(Decode(r).state, 2);
    EXPECT_EQ(Decode(r).quality, 0);
    EXPECT_EQ(Decode(r).result, 0);
    EXPECT_EQ(tk::RequestValue(r).lVal, 99);
  }
  EXPECT_FALSE(Record(kStell).bWritePending);
  EXPECT_EQ(Pumpe().iWantRd[1], 0);
}

struct BadStationRow {
  const char* name;
  int32_t operation;
  int32_t step;
};

class BadStation : public RequestsTest, public ::testing::WithParamInterface<BadStationRow> {};

TEST_P(BadStation, EndsTheBatchAndLeavesTheRestAlone) {
  StartLog({});  // logging off: the exception line is written all the same
  Load();
  std::vector<tk::TDARequest> in;
  for (int i = 0; i < 8; ++i) in.push_back(Filled(i == 4 ? 9 * 256 + 48 : kStell));
  auto out = host.Requests(GetParam().operation, in);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(Decode(out[size_t(i)]).state, 2) << i;
    EXPECT_EQ(Decode(out[size_t(i)]).result, 0) << i;
  }
  EXPECT_EQ(Decode(out[4]).state, 2);
  EXPECT_EQ(Decode(out[4]).quality, 0);
  EXPECT_EQ(Decode(out[4]).result, 55);
  EXPECT_EQ(tk::RequestValue(out[4]).lVal, 99);
  for (int i = 5; i < 8; ++i) EXPECT_EQ(std::memcmp(&out[size_t(i)], &in[size_t(i)], sizeof in[0]), 0) << i;
  EXPECT_EQ(LogTexts(), std::vector<std::string>{"Except in HandleDSRequest! 4/8 at " +
                                                 std::to_string(GetParam().step) +
                                                 " List index out of bounds (9)"});
  // The lock was given back.
  ASSERT_TRUE(driver::RegisterLock.try_lock());
  driver::RegisterLock.unlock();
}

INSTANTIATE_TEST_SUITE_P(Requests, BadStation,
                         ::testing::Values(BadStationRow{"Read", tk::kRequestRead, 3},
                                           BadStationRow{"Write", tk::kRequestWrite, 5}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RequestsTest, WriteThatDoesNotConvertChangesNothing) {
  StartLog({});
  Load();
  // A host presets the result with a failure: the library sets 0 only for what it handled.
  tk::TDARequest r = Filled(kStell);
  com::RawVariant text;
  ASSERT_EQ(com::VariantToRaw(com::Variant::Str("abc"), &text), 0);
  tk::SetRequestValue(r, text);
  auto out = host.Requests(tk::kRequestWrite, {r});
  EXPECT_EQ(Decode(out[0]).state, 2);
  EXPECT_EQ(Decode(out[0]).result, 55);
  EXPECT_FALSE(Record(kStell).bWritePending);
  EXPECT_EQ(Record(kStell).Quality, 8);
  EXPECT_EQ(LogTexts(),
            std::vector<std::string>{"Except in HandleDSRequest! 0/1 at 5 Could not convert variant of type 8 into type 5"});
  com::RawVariantClear(&text);
}

TEST_F(RequestsTest, WithoutStationListEveryRequestFailsCleanly) {
  StartLog({});
  Load();
  host.Stop();
  EXPECT_EQ(host.Read(kDruck).quality, 0);
  EXPECT_EQ(LogTexts().back(), "Except in HandleDSRequest! 0/1 at 3 no station list");
}

TEST_F(RequestsTest, ReadFreesTheTextLeftInTheRecord) {
  StartLog();
  Load();
  tk::TDARequest r = Request(kPegel);
  com::RawVariant text;
  ASSERT_EQ(com::VariantToRaw(com::Variant::Str("left over"), &text), 0);
  tk::SetRequestValue(r, text);
  auto out = host.Requests(tk::kRequestRead, {r});
  EXPECT_EQ(tk::RequestValue(out[0]).vt, com::VT_I4);  // the text was freed (the leak checker sees it)
}

struct TraceRow {
  const char* debug;
  std::vector<std::string> lines;
};

class TraceLines : public RequestsTest, public ::testing::WithParamInterface<TraceRow> {};

TEST_P(TraceLines, FollowDebugBits16And1) {
  StartLog({{"DEBUG", GetParam().debug}});
  Load();
  driver::FML->Items(1).SetWertInt(1, 0, 125, 0xC0);
  host.Read({kDruck, kDruck + 1});
  host.Write(kStell, com::Variant::I4(42));
  EXPECT_EQ(LogFrom("  DArequest"), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, TraceLines,
    ::testing::Values(TraceRow{"16", {"  DArequest0 Anz=2", "   OPC-RW:1:1-0: PropIndex=1", "  DArequest1 Anz=1"}},
                      TraceRow{"17",
                               {"  DArequest0 Anz=2", "   OPC-Read:1:1-0 =12.5 Q=$C0", "   OPC-RW:1:1-0: PropIndex=1",
                                "  DArequest1 Anz=1", "   OPC-Write:1:3-0 =42"}}));

}  // namespace
}  // namespace opc::testing
