// Host threads reading and writing at once while a driver-like thread stores answers and
// confirms writes under RegisterLock, as the driver does. Run under ThreadSanitizer too: no data
// race, no value torn from its time stamp, no write lost.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <shared_mutex>
#include <thread>

#include "server/driver/fml.h"
#include "server/opc/item_handle.h"
#include "server/opc/tests/exports_fixture.h"

namespace opc::testing {
namespace {

namespace com = platform::com;

constexpr int kBatches = 5000;

class StressTest : public ExportsTest {
 protected:
  // One answer: every analogue input of both stations takes raw k, stamped with k; every
  // pending write is confirmed.
  static void StoreAnswer(uint64_t k) {
    std::unique_lock lock(driver::RegisterLock);
    driver::AnswerTime = platform::U64ToFileTime(k);
    for (int32_t s : {1, 2}) {
      driver::TFuMo& st = driver::FML->Items(s);
      for (int32_t r = 0; r < st.RegCount(driver::kGroupAE); ++r) st.SetWertInt(driver::kGroupAE, r, int32_t(k), 0xC0);
      for (int32_t g : {driver::kGroupAA, driver::kGroupBA})
        for (int32_t r = 0; r < st.RegCount(g); ++r) {
          driver::TWert& w = st.GetWert(g, r);
          if (!w.bWritePending) continue;
          w.bWritePending = false;
          w.WertInt = int32_t(w.WriteWert);
          w.Quality = 0xC0;
          w.TimeStamp = driver::AnswerTime;
        }
    }
  }
};

TEST_F(StressTest, ReadersWritersAndDriverAtOnce) {
  WriteIni(kStations, kChannels);
  StartLog({});
  Load();
  ASSERT_TRUE(host.Start());
  const int32_t druck = host.Handle("ZFM1.Pumpe.Druck"), pegel = host.Handle("ZFM1.Pumpe.Pegel"),
                temp = host.Handle("ZFM1.Turm.Temp"), stell = host.Handle("ZFM1.Pumpe.Stell"),
                a3 = host.Handle("ZFM1.Pumpe.A3"), dout = host.Handle("ZFM1.Pumpe.DOUT0-15");

  std::atomic<bool> done{false};
  std::atomic<int> failures{0};
  auto check = [&](bool ok) {
    if (!ok) ++failures;
  };

  std::thread driver([&] {
    for (uint64_t k = 1; !done; ++k) StoreAnswer(k);
  });

  std::vector<std::thread> hosts;
  for (int t = 0; t < 3; ++t)
    hosts.emplace_back([&] {
      for (int i = 0; i < kBatches; ++i)
        for (const Answer& a : host.Read({druck, pegel, temp})) {
          if (a.quality != 0xC0) continue;  // not answered yet
          const double k = double(platform::FileTimeToU64(a.time_stamp));
          check(a.value == com::Variant::R8(k * 0.1) || a.value == com::Variant::I4(int32_t(k)));
        }
    });
  // Each writer owns its register: after its write a read shows the write pending or confirmed.
  std::atomic<int32_t> last_stell{0}, last_a3{0};
  hosts.emplace_back([&] {
    for (int32_t v = 1; v <= kBatches; ++v) {
      check(host.Write(stell, com::Variant::I4(v)).result == 0);
      last_stell = v;
      Answer a = host.Read(stell);
      check(a.quality == 20 || (a.quality == 0xC0 && a.value == com::Variant::I4(v)));
    }
  });
  hosts.emplace_back([&] {
    for (int32_t v = 1; v <= kBatches; ++v) {
      check(host.Write(a3, com::Variant::I4(v & 1)).result == 0);
      last_a3 = v & 1;
      check(host.Write(dout, com::Variant::I4(0)).result == 0);  // spreads over A0..A9, A3 included
      last_a3 = 0;
    }
  });
  for (auto& t : hosts) t.join();
  done = true;
  driver.join();

  EXPECT_EQ(failures, 0);
  std::shared_lock lock(driver::RegisterLock);
  for (auto [handle, last] : {std::pair{stell, last_stell.load()}, std::pair{a3, last_a3.load()}}) {
    ItemHandle h = ItemHandle::Decode(handle);
    const driver::TWert& w = driver::FML->Items(h.station).GetWert(h.group, h.reg);
    EXPECT_EQ(w.bWritePending ? int32_t(w.WriteWert) : w.WertInt, last) << handle;
  }
}

}  // namespace
}  // namespace opc::testing
