// The text that --dump-after prints.
#include "host/dump.h"

#include <gtest/gtest.h>

#include <clocale>
#include <sstream>

#include "host/library_backend.h"
#include "host/tests/fake_library.h"

namespace host {
namespace {

namespace com = platform::com;
using testing::FakeLibrary;

TEST(DumpTest, FileTimeText) {
  struct Row {
    const char* name;
    uint64_t ft;
    const char* text;
  } rows[] = {
      {"zero", 0, "1601-01-01 00:00:00.000"},
      {"unix epoch", platform::kFileTimeUnixEpoch, "1970-01-01 00:00:00.000"},
      {"leap day, milliseconds cut not rounded", platform::kFileTimeUnixEpoch + 951'825'599'999'9999ull,
       "2000-02-29 11:59:59.999"},
      {"last moment of a year", platform::kFileTimeUnixEpoch + 1'704'067'199'123'0000ull, "2023-12-31 23:59:59.123"},
      {"before the first leap day of a century",
       platform::kFileTimeUnixEpoch - 2'208'988'800'0000000ull - 864'000'000'000ull * 307, "1899-02-28 00:00:00.000"},
      {"largest time stamp", ~0ull, "60056-05-28 05:36:10.955"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(FileTimeText(platform::U64ToFileTime(r.ft)), r.text);
  }
}

TEST(DumpTest, ValueTextKeepsThePointWhateverTheLocaleAndTheLineWhole) {
  const char* saved = std::setlocale(LC_ALL, nullptr);
  std::string restore = saved ? saved : "C";
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 not installed";
  struct Row {
    com::Variant value;
    const char* text;
  } rows[] = {
      {com::Variant::R8(12.5), "12.5"}, {com::Variant::R8(-0.1), "-0.1"},           {com::Variant::I4(-42), "-42"},
      {com::Variant::I2(3), "3"},       {com::Variant::Str("a\tb\r\nc"), "a b  c"}, {com::Variant(), ""},
      {com::Variant::Error(5), ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(ValueText(r.value), r.text);
  }
  std::setlocale(LC_ALL, restore.c_str());
}

TEST(DumpTest, OneLinePerItemInNamespaceOrderEachFollowedByItsProperties) {
  FakeLibrary& lib = FakeLibrary::Get();
  lib.Reset();
  lib.tags = {
      {"", "RS_KOM_FAIL", com::VT_I4, 1, 2, {}},
      {"Br\xFCnnen",
       "Pegel",
       com::VT_R8,
       1,
       272,
       {{5001, "Item Unit", com::Variant::Str("m\xC2\xB3")},
        {5002, "Item Faktor", com::Variant::R8(0.1)},
        {5004, "Item Decimals", com::Variant::I2(2)}}},
      {"Br\xFCnnen", "Pumpe", com::VT_I4, 3, 304, {{5007, "Item Infos", com::Variant::I2(0)}}},
  };
  const platform::FILETIME stamp = platform::U64ToFileTime(platform::kFileTimeUnixEpoch + 17'000'000'001'234'000ull);
  lib.Set(2, com::Variant::I4(0), 0xC0, stamp);
  lib.Set(272, com::Variant::R8(1.25), 0xC0, stamp);
  lib.Set(304, com::Variant::I4(1), 0x14, stamp);
  NameSpace ns;
  ns.Build(FakeLibrary::TheExports().build_name_space);
  LibraryBackend backend(FakeLibrary::TheExports().handle_requests);
  std::ostringstream out;
  WriteDump(ns, backend, out);
  EXPECT_EQ(out.str(),
            "ZFM.RS_KOM_FAIL\t3\t1\t0\t192\t2023-11-14 22:13:20.123\n"
            "ZFM.Br\xC3\xBCnnen.Pegel\t5\t1\t1.25\t192\t2023-11-14 22:13:20.123\n"
            "\t5001\tItem Unit\t8\tm\xC2\xB3\n"
            "\t5002\tItem Faktor\t5\t0.1\n"
            "\t5004\tItem Decimals\t2\t2\n"
            "ZFM.Br\xC3\xBCnnen.Pumpe\t3\t3\t1\t20\t2023-11-14 22:13:20.123\n"
            "\t5007\tItem Infos\t2\t0\n");
  // All items in one read batch.
  EXPECT_EQ(lib.Calls().back(), "read 3");
}

}  // namespace
}  // namespace host
