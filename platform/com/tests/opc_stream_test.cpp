#include "platform/com/opc_stream.h"

#include <gtest/gtest.h>

namespace platform::com {
namespace {

std::vector<OpcStreamItem> Sample() {
  return {
      {7, 0xD8, {1, 2}, Variant::R8(1.5)},
      {8, 0xC0, {3, 4}, Variant::Str("Pumpe \xC3\xBC" "ber")},
      {9, 0x08, {5, 6}, Variant::I4(-3)},
  };
}

TEST(OpcStreamTest, DataBlocksRoundTripInBothFormats) {
  for (bool with_time : {true, false}) {
    SCOPED_TRACE(with_time);
    std::vector<uint8_t> block = BuildOpcDataStream(with_time, 42, 5, S_OK, Sample());
    OpcStreamHeader h;
    std::vector<OpcStreamItem> items;
    ASSERT_TRUE(ParseOpcDataStream(block, with_time, &h, &items));
    EXPECT_EQ(h.dwSize, block.size());
    EXPECT_EQ(h.dwItemCount, 3u);
    EXPECT_EQ(h.hClientGroup, 42u);
    EXPECT_EQ(h.dwTransactionID, 5u);
    ASSERT_EQ(items.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(items[i].hClient, Sample()[i].hClient);
      EXPECT_EQ(items[i].wQuality, Sample()[i].wQuality);
      EXPECT_EQ(items[i].value, Sample()[i].value);
      if (with_time) {
        EXPECT_EQ(items[i].ftTimeStamp, Sample()[i].ftTimeStamp);
      }
    }
  }
}

TEST(OpcStreamTest, LayoutOfTheFirstItem) {
  std::vector<uint8_t> block = BuildOpcDataStream(true, 1, 0, S_OK, {{7, 0xC0, {0, 0}, Variant::I2(300)}});
  ASSERT_EQ(block.size(), 20u + 20u + 16u);
  EXPECT_EQ(block[20], 7);   // client handle
  EXPECT_EQ(block[24], 40);  // value offset: after the one item header
  EXPECT_EQ(block[28], 0xC0);
  EXPECT_EQ(block[40], VT_I2);
  EXPECT_EQ(block[48] | block[49] << 8, 300);
}

TEST(OpcStreamTest, RefusesBlocksThatDoNotHoldTogether) {
  std::vector<uint8_t> good = BuildOpcDataStream(true, 1, 0, S_OK, Sample());
  struct Row {
    const char* label;
    std::vector<uint8_t> block;
  };
  std::vector<Row> rows;
  rows.push_back({"empty", {}});
  rows.push_back({"cut short", std::vector<uint8_t>(good.begin(), good.end() - 3)});
  auto wrong_count = good;
  wrong_count[4] = 200;
  rows.push_back({"count past the block", wrong_count});
  auto wrong_offset = good;
  wrong_offset[24] = 0xF0;
  wrong_offset[25] = 0xFF;
  rows.push_back({"value offset past the block", wrong_offset});
  auto wrong_size = good;
  wrong_size[0] ^= 1;
  rows.push_back({"size field differs", wrong_size});
  // The text's byte count of the second item claims more than there is.
  auto long_text = good;
  size_t text_at = (long_text[44] | long_text[45] << 8) + 16;
  long_text[text_at + 1] = 0x7F;
  rows.push_back({"text longer than the block", long_text});
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    OpcStreamHeader h;
    std::vector<OpcStreamItem> items;
    EXPECT_FALSE(ParseOpcDataStream(row.block, true, &h, &items));
  }
}

TEST(OpcStreamTest, WriteCompleteRoundTrips) {
  auto block = BuildOpcWriteCompleteStream(3, 9, S_FALSE, {{1, S_OK}, {2, OPC_E_BADRIGHTS}});
  OpcStreamHeader h;
  std::vector<OpcStreamWriteResult> results;
  ASSERT_TRUE(ParseOpcWriteCompleteStream(block, &h, &results));
  EXPECT_EQ(h.dwTransactionID, 9u);
  EXPECT_EQ(h.hrStatus, S_FALSE);
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[1].hrError, OPC_E_BADRIGHTS);
  block.pop_back();
  EXPECT_FALSE(ParseOpcWriteCompleteStream(block, &h, &results));
}

}  // namespace
}  // namespace platform::com
