#include "platform/com/apartment.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/com/connection_point.h"
#include "platform/com/enum.h"
#include "platform/com/opc_common.h"

namespace platform::com {
namespace {

TEST(ApartmentTest, RunsPostedWorkInOrderOnTheRunningThread) {
  Apartment apartment;
  std::vector<int> seen;
  std::thread::id runner;
  std::thread poster([&] {
    for (int i = 0; i < 100; ++i) apartment.Post([&, i] {
      seen.push_back(i);
      runner = std::this_thread::get_id();
    });
  });
  poster.join();
  EXPECT_TRUE(seen.empty());  // nothing runs until the owner's loop runs it
  EXPECT_EQ(apartment.RunPending(), 100u);
  ASSERT_EQ(seen.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(seen[i], i);
  EXPECT_EQ(runner, std::this_thread::get_id());
}

TEST(ApartmentTest, WorkPostedByWorkWaitsForTheNextRun) {
  Apartment apartment;
  int runs = 0;
  apartment.Post([&] {
    ++runs;
    apartment.Post([&] { ++runs; });
  });
  EXPECT_EQ(apartment.RunPending(), 1u);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(apartment.Pending(), 1u);
  apartment.RunPending();
  EXPECT_EQ(runs, 2);
}

TEST(ApartmentTest, WakeUpHookHearsEveryPost) {
  Apartment apartment;
  std::atomic<int> wakes{0};
  apartment.SetWakeUp([&] { ++wakes; });
  apartment.Post([] {});
  apartment.Post([] {});
  EXPECT_EQ(wakes, 2);
  EXPECT_EQ(apartment.Pending(), 2u);
}

TEST(ApartmentTest, WaitReturnsAsSoonAsWorkArrives) {
  Apartment apartment;
  bool ran = false;
  std::thread poster([&] { apartment.Post([&] { ran = true; }); });
  EXPECT_TRUE(apartment.RunUntil([&] { return ran; }, std::chrono::seconds(30)));
  poster.join();
}

class Sink final : public IOPCShutdown, public std::enable_shared_from_this<Sink> {
 public:
  HRESULT QueryInterface(const IID& riid, std::shared_ptr<IUnknown>* ppv) override {
    return AnswerQuery(this, riid, ppv, {IID_IOPCShutdown});
  }
  HRESULT ShutdownRequest(const std::string& reason) override {
    reasons.push_back(reason);
    return S_OK;
  }
  std::vector<std::string> reasons;
};

class NotASink final : public IConnectionPointContainer, public std::enable_shared_from_this<NotASink> {
 public:
  HRESULT QueryInterface(const IID& riid, std::shared_ptr<IUnknown>* ppv) override {
    return AnswerQuery(this, riid, ppv, {IID_IConnectionPointContainer});
  }
  HRESULT FindConnectionPoint(const IID&, std::shared_ptr<IConnectionPoint>*) override { return E_NOTIMPL; }
};

TEST(ConnectionPointTest, AdviseChecksTheSinkAndTheLimit) {
  auto point = std::make_shared<ConnectionPoint<IOPCShutdown>>(1);
  DWORD cookie = 99;
  EXPECT_EQ(point->Advise(std::make_shared<NotASink>(), &cookie), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(point->Advise(nullptr, &cookie), E_POINTER);
  auto sink = std::make_shared<Sink>();
  ASSERT_EQ(point->Advise(std::static_pointer_cast<IUnknown>(sink), &cookie), S_OK);
  DWORD second = 0;
  EXPECT_EQ(point->Advise(std::static_pointer_cast<IUnknown>(std::make_shared<Sink>()), &second),
            CONNECT_E_ADVISELIMIT);
  for (auto& s : point->Sinks()) s->ShutdownRequest("bye");
  EXPECT_EQ(sink->reasons, std::vector<std::string>{"bye"});
  EXPECT_EQ(point->Unadvise(cookie + 1), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(point->Unadvise(cookie), S_OK);
  EXPECT_EQ(point->Unadvise(cookie), CONNECT_E_NOCONNECTION);
  EXPECT_TRUE(point->Sinks().empty());
}

TEST(QueryInterfaceTest, AnswersOnlyOfferedInterfaces) {
  std::shared_ptr<IUnknown> sink = std::static_pointer_cast<IOPCShutdown>(std::make_shared<Sink>());
  EXPECT_NE(Query<IOPCShutdown>(sink), nullptr);
  EXPECT_EQ(Query<IOPCCommon>(sink), nullptr);
  std::shared_ptr<IOPCCommon> common;
  EXPECT_EQ(QueryInterface(sink.get(), &common), E_NOINTERFACE);
  EXPECT_EQ(QueryInterface<IOPCCommon>(nullptr, &common), E_POINTER);
}

TEST(EnumTest, NextHandsOutWhatIsLeft) {
  StringListEnum e({"a", "b", "c"});
  std::string out[2];
  ULONG got = 0;
  EXPECT_EQ(e.Next(2, out, &got), S_OK);
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(out[1], "b");
  EXPECT_EQ(e.Next(2, out, &got), S_FALSE);
  EXPECT_EQ(got, 1u);
  EXPECT_EQ(out[0], "c");
  EXPECT_EQ(e.Next(1, out, &got), S_FALSE);
  EXPECT_EQ(got, 0u);
  e.Reset();
  EXPECT_EQ(e.Skip(5), S_FALSE);
  e.Reset();
  EXPECT_EQ(ReadAll<std::string>(&e), (std::vector<std::string>{"a", "b", "c"}));
}

}  // namespace
}  // namespace platform::com
