// Data changes that wait for a client's loop: which merge, and what the merged one holds.
#include "platform/com/rpc/pending_change.h"

#include <gtest/gtest.h>

#include "platform/com/data_object.h"
#include "platform/com/opc_stream.h"

namespace platform::com::rpc {
namespace {

OpcStreamItem Item(OPCHANDLE h, WORD quality, Variant v, uint64_t stamp) {
  OpcStreamItem it;
  it.hClient = h;
  it.wQuality = quality;
  it.ftTimeStamp = U64ToFileTime(stamp);
  it.value = std::move(v);
  return it;
}

TEST(PendingChange, OnlyOrdinaryDataStreamsMerge) {
  const std::vector<OpcStreamItem> one{Item(5, OPC_QUALITY_GOOD, Variant::I4(1), 100)};
  struct Row {
    const char* name;
    const char* format;
    DWORD transaction;
    HRESULT status;
    bool merges;
  } rows[] = {
      {"timed change", kOpcStmFormatDataTime, 0, S_OK, true},
      {"change without times", kOpcStmFormatData, 0, S_OK, true},
      {"result of a call", kOpcStmFormatDataTime, 9, S_OK, false},
      {"failing status", kOpcStmFormatDataTime, 0, E_FAIL, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const auto block =
        BuildOpcDataStream(std::string(r.format) == kOpcStmFormatDataTime, 3, r.transaction, r.status, one);
    EXPECT_EQ(PendingChange::FromStream(r.format, block).has_value(), r.merges);
  }
  EXPECT_FALSE(
      PendingChange::FromStream(kOpcStmFormatWriteComplete, BuildOpcWriteCompleteStream(3, 0, S_OK, {{5, S_OK}}))
          .has_value());
  EXPECT_FALSE(PendingChange::FromStream(kOpcStmFormatDataTime, {1, 2, 3}).has_value());
}

TEST(PendingChange, ItemsKeepTheirPlaceAndTheLatestWins) {
  auto first = PendingChange::FromStream(kOpcStmFormatDataTime,
                                         BuildOpcDataStream(true, 3, 0, S_OK,
                                                            {Item(5, OPC_QUALITY_GOOD, Variant::I4(1), 100),
                                                             Item(6, OPC_QUALITY_GOOD, Variant::Str("a"), 100)}));
  auto later = PendingChange::FromStream(kOpcStmFormatDataTime,
                                         BuildOpcDataStream(true, 3, 0, S_OK,
                                                            {Item(7, OPC_QUALITY_GOOD, Variant::R8(2.5), 200),
                                                             Item(5, OPC_QUALITY_NOT_CONNECTED, Variant::I4(9), 300)}));
  ASSERT_TRUE(first && later);
  ASSERT_TRUE(first->Takes(*later));
  first->Merge(*later);
  OpcStreamHeader header;
  std::vector<OpcStreamItem> items;
  ASSERT_TRUE(ParseOpcDataStream(first->StreamBlock(), true, &header, &items));
  EXPECT_EQ(header.hClientGroup, 3u);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].hClient, 5u);
  EXPECT_EQ(items[0].value, Variant::I4(9));
  EXPECT_EQ(items[0].wQuality, OPC_QUALITY_NOT_CONNECTED);
  EXPECT_EQ(FileTimeToU64(items[0].ftTimeStamp), 300u);
  EXPECT_EQ(items[1].value, Variant::Str("a"));
  EXPECT_EQ(items[2].hClient, 7u);
  EXPECT_EQ(first->MasterQuality(), S_FALSE);

  // Another group's or another format's change does not go into it.
  auto other_group = PendingChange::FromStream(
      kOpcStmFormatDataTime, BuildOpcDataStream(true, 4, 0, S_OK, {Item(5, OPC_QUALITY_GOOD, Variant::I4(1), 1)}));
  auto other_format = PendingChange::FromStream(
      kOpcStmFormatData, BuildOpcDataStream(false, 3, 0, S_OK, {Item(5, OPC_QUALITY_GOOD, Variant::I4(1), 1)}));
  EXPECT_FALSE(first->Takes(*other_group));
  EXPECT_FALSE(first->Takes(*other_format));
}

}  // namespace
}  // namespace platform::com::rpc
