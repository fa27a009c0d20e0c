// Reads and writes through the library's request export, record by record.
#include "host/library_backend.h"

#include <gtest/gtest.h>

#include "host/tests/fake_library.h"

namespace host {
namespace {

namespace com = platform::com;
using testing::FakeLibrary;

class LibraryBackendTest : public ::testing::Test {
 protected:
  void SetUp() override { lib.Reset(); }
  FakeLibrary& lib = FakeLibrary::Get();
  LibraryBackend backend{FakeLibrary::TheExports().handle_requests};
};

TEST_F(LibraryBackendTest, ReadsValueQualityAndStampOfEveryRecordInOneBatch) {
  const platform::FILETIME stamp = platform::U64ToFileTime(133'000'000'000'000'000ull);
  lib.Set(16, com::Variant::R8(12.5), 0xC0, stamp);
  lib.Set(32, com::Variant::I4(-3), 0x14, stamp);
  std::vector<com::DaBackend::Reading> r;
  backend.Read({16, 32, 48}, &r);
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].value, com::Variant::R8(12.5));
  EXPECT_EQ(r[0].quality, 0xC0);
  EXPECT_EQ(r[0].stamp, stamp);
  EXPECT_EQ(r[1].value, com::Variant::I4(-3));
  EXPECT_EQ(r[1].quality, 0x14);
  EXPECT_EQ(r[2].quality, 8);  // never answered
  EXPECT_EQ(lib.Calls().back(), "read 3");
}

TEST_F(LibraryBackendTest, RecordsTheLibraryDidNotHandleAreBadAndWithoutValue) {
  lib.Set(16, com::Variant::I4(1), 0xC0);
  lib.Set(48, com::Variant::I4(3), 0xC0);
  lib.FailAt(32);  // the library ends the batch at this record
  std::vector<com::DaBackend::Reading> r;
  backend.Read({16, 32, 48}, &r);
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].quality, 0xC0);
  for (size_t i : {1u, 2u}) {
    SCOPED_TRACE(i);
    EXPECT_EQ(r[i].quality, com::OPC_QUALITY_BAD);
    EXPECT_EQ(r[i].value, com::Variant());
  }

  std::vector<com::HRESULT> results;
  backend.Write({16, 32, 48}, {com::Variant::I4(7), com::Variant::I4(8), com::Variant::I4(9)}, &results);
  EXPECT_EQ(results, (std::vector<com::HRESULT>{com::S_OK, com::E_FAIL, com::E_FAIL}));
  ASSERT_EQ(lib.Writes().size(), 1u);
  EXPECT_EQ(lib.Writes()[0], std::make_pair(16, com::Variant::I4(7)));
}

TEST_F(LibraryBackendTest, WritesCarryTheirValuesAndTheHostFreesWhatItSent) {
  std::vector<com::HRESULT> results;
  // A text value travels as an allocated string in the record; the leak checker sees it freed.
  backend.Write({16, 32},
                {com::Variant::Str("S\xC3\xBC"
                                   "d"),
                 com::Variant::R8(2.5)},
                &results);
  EXPECT_EQ(results, (std::vector<com::HRESULT>{com::S_OK, com::S_OK}));
  auto writes = lib.Writes();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].second, com::Variant::Str("S\xC3\xBC"
                                                "d"));
  EXPECT_EQ(writes[1].second, com::Variant::R8(2.5));
}

TEST_F(LibraryBackendTest, EmptyBatchesDoNotCallTheLibrary) {
  std::vector<com::DaBackend::Reading> r;
  std::vector<com::HRESULT> results;
  backend.Read({}, &r);
  backend.Write({}, {}, &results);
  EXPECT_TRUE(lib.Calls().empty());
}

}  // namespace
}  // namespace host
