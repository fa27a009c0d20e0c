// ostrel-host against clients that send what no sound client would: invented format names by
// the thousand, browse filters of megabytes, and a burst of refreshes from a client that is
// then killed. Other clients must be served all the same.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/tests/installed_host.h"
#include "host/tests/raw_client.h"
#include "platform/com/class_registry.h"
#include "platform/com/data_object.h"
#include "platform/com/opc_da.h"
#include "platform/com/rpc/client.h"
#include "platform/com/testing/recording_sink.h"

namespace host::testing {
namespace {

using namespace std::chrono_literals;
namespace com = platform::com;
namespace pb = qar::com;
using Stub = RawClient::Stub;

class JunkRequests : public ::testing::Test {
 protected:
  void SetUp() override {
    in_.WriteIni();
    in_.Write("DEMO", "");  // no line work needed
    ASSERT_EQ(in_.Run({"-REGSERVER"}).exit_code, 0);
    ASSERT_TRUE(in_.Spawn({}));
    auto running = com::FindRunningServer(kOstrelClsid);
    ASSERT_TRUE(running);
    target_ = running->endpoint;
  }
  void TearDown() override { EXPECT_EQ(in_.Terminate(), 0); }

  InstalledHost in_;
  std::string target_;
};

// More invented names than the process's format table could ever hold, and long ones, from
// several clients: a client that comes afterwards still advises the format of its stream.
TEST_F(JunkRequests, InventedFormatNamesLeaveStreamAdviseWorking) {
  constexpr int kClients = 4, kNamesEach = 4200;
  std::atomic<int> refused{0}, other{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      RawClient raw(target_);
      pb::DAdviseRequest req;
      req.set_group(raw.AddGroup());
      req.set_aspect(com::DVASPECT_CONTENT);
      req.set_lindex(-1);
      req.set_tymed(com::TYMED_HGLOBAL);
      req.set_sink(1);
      for (int i = 0; i < kNamesEach; ++i) {
        // A few names of a megabyte among the short ones.
        req.set_format(i % 1000 == 0 ? std::string(1 << 20, char('a' + c)) + std::to_string(i)
                                     : "INVENTED-" + std::to_string(c) + "-" + std::to_string(i));
        pb::AdviseReply rep;
        const bool answered = raw.Call(&Stub::DAdvise, req, &rep).ok();
        (answered && rep.hr() == com::DV_E_FORMATETC ? refused : other)++;
      }
    });
  }
  for (auto& t : clients) t.join();
  EXPECT_EQ(refused, kClients * kNamesEach);
  EXPECT_EQ(other, 0);

  // A fresh client of the client library, as a DA 1.0 client would advise.
  com::Apartment apartment;
  com::rpc::ActivationOptions o;
  o.apartment = &apartment;
  o.start_timeout_ms = 30000;
  std::shared_ptr<com::IUnknown> unk;
  std::string error;
  ASSERT_EQ(com::rpc::CreateServerByName(kOstrelProgId, o, &unk, &error), com::S_OK) << error;
  com::OPCHANDLE handle;
  com::DWORD rate;
  std::shared_ptr<com::IUnknown> group;
  ASSERT_EQ(com::Query<com::IOPCServer>(unk)->AddGroup("", com::TRUE, 100, 7, nullptr, nullptr, 0, &handle, &rate,
                                                       com::IID_IDataObject, &group),
            com::S_OK);
  com::OPCITEMDEF def;
  def.szItemID = "ZFM1.Turm.Temp";
  def.hClient = 5;
  std::vector<com::OPCITEMRESULT> results;
  std::vector<com::HRESULT> errors;
  ASSERT_EQ(com::Query<com::IOPCItemMgt>(group)->AddItems(1, &def, &results, &errors), com::S_OK);
  com::FORMATETC f;
  f.cfFormat = com::RegisterClipboardFormat(com::kOpcStmFormatDataTime);
  auto sink = std::make_shared<com::testing::RecordingSink>();
  com::DWORD connection;
  ASSERT_EQ(com::Query<com::IDataObject>(group)->DAdvise(&f, com::ADVF_PRIMEFIRST, sink, &connection), com::S_OK);
  EXPECT_TRUE(apartment.RunUntil(
      [&] { return std::any_of(sink->events.begin(), sink->events.end(), [](auto& e) { return e.kind == "stream"; }); },
      60s));
}

// Clients that browse with filters of megabytes, again and again, while another client adds
// items: the other client's call is answered (within its generous deadline) while they go on.
TEST_F(JunkRequests, LongBrowseFiltersLeaveOtherClientsServed) {
  const std::string stars(8 << 20, '*');
  std::string alternating;
  for (size_t i = 0; i < (8u << 20); i += 2) alternating += "*E";
  const struct Row {
    std::string filter;
    com::HRESULT hr;
  } rows[] = {
      {stars, com::S_OK},                                  // one "*": every item
      {"ZFM1.Pumpe.E1" + stars, com::S_OK},                // E1, E10..E19
      {std::string(8 << 20, '?'), com::E_INVALIDARG},      // longer than any item ID
      {alternating, com::E_INVALIDARG},                    // as many "E" as that
      {"[" + std::string(1 << 20, 'a'), com::OPC_E_INVALIDFILTER},  // never closed
  };
  constexpr int kBrowsers = 8;
  std::atomic<bool> stop{false};
  std::atomic<int> sent{0}, wrong{0};
  std::vector<std::thread> browsers;
  for (int b = 0; b < kBrowsers; ++b) {
    browsers.emplace_back([&, b] {
      RawClient raw(target_);
      for (int i = b; !stop; ++i) {
        const Row& row = rows[size_t(i) % std::size(rows)];
        pb::BrowseRequest req;
        req.set_browse_type(com::OPC_FLAT);
        req.set_filter(row.filter);
        pb::StringsReply rep;
        ++sent;
        // Each browse gives up after a while, as an impatient client would; the host must
        // not go on with it.
        const grpc::Status st = raw.Call(&Stub::BrowseOPCItemIDs, req, &rep, 20s);
        if (stop) break;
        if (!st.ok() || rep.hr() != row.hr) ++wrong;
        if (row.hr == com::S_OK && !stop && st.ok() && rep.strings_size() == 0) ++wrong;
      }
    });
  }
  // The other client comes once every browser has sent a browse.
  while (sent < kBrowsers * 2) std::this_thread::yield();
  RawClient other(target_);
  const pb::ItemsRequest items = RawClient::ActiveItems(other.AddGroup(), 20, "ZFM1.Pumpe.E");
  pb::ItemResultsReply added;
  const grpc::Status st = other.Call(&Stub::AddItems, items, &added);
  stop = true;
  for (auto& t : browsers) t.join();
  ASSERT_TRUE(st.ok()) << st.error_message();
  EXPECT_EQ(added.hr(), com::S_OK);
  EXPECT_EQ(added.results_size(), 20);
  EXPECT_EQ(wrong, 0);
}

// A client process makes a group of 100 000 items, sends refreshes of it from the device until
// they are refused (the group holds only so many) and is killed with them pending. Another
// client's refresh of a few items is still answered, and SIGTERM still ends the host.
class DeadClientRefreshes : public JunkRequests {
 protected:
  void TearDown() override {
    if (flood_ > 0) {
      kill(flood_, SIGKILL);
      waitpid(flood_, nullptr, 0);
    }
    if (!terminated_) JunkRequests::TearDown();
  }
  pid_t flood_ = -1;
  bool terminated_ = false;
};

TEST_F(DeadClientRefreshes, AnotherClientsRefreshIsAnsweredAndTheHostEnds) {
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const std::string program = REFRESH_FLOOD;
#ifdef __SANITIZE_THREAD__
  // ThreadSanitizer looks at every earlier report (the transport library's, suppressed) for
  // each new one: a group of 100 000 items would keep it busy for minutes. The bound on waiting
  // refreshes does not depend on the group's size.
  const std::string group_size = "1000";
#else
  const std::string group_size = "100000";
#endif
  std::vector<std::string> args = {program, target_, group_size, "5000"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  flood_ = fork();
  ASSERT_GE(flood_, 0);
  if (flood_ == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  // Its one line comes once it has sent its refreshes; then it is killed with them pending.
  FILE* said = fdopen(out[0], "r");
  ASSERT_NE(said, nullptr);
  int accepted = -1, refused = -1, other = -1;
  const int fields = std::fscanf(said, "accepted %d refused %d other %d", &accepted, &refused, &other);
  std::fclose(said);
  ASSERT_EQ(kill(flood_, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(waitpid(flood_, &status, 0), flood_);
  flood_ = -1;
  ASSERT_EQ(fields, 3) << "the flooding client ended early with status " << status;
  EXPECT_GT(accepted, 0);
  EXPECT_GT(refused, 0);  // beyond the bound of one group
  EXPECT_LE(refused, 1);  // it stops at the first
  EXPECT_EQ(other, 0);

  RawClient raw(target_);
  const uint32_t group = raw.AddGroup();
  ASSERT_NE(group, 0u);
  const pb::ItemsRequest items = RawClient::ActiveItems(group, 5, "ZFM1.Pumpe.E");
  pb::ItemResultsReply added;
  ASSERT_TRUE(raw.Call(&Stub::AddItems, items, &added).ok());
  ASSERT_EQ(added.hr(), com::S_OK);
  ASSERT_TRUE(raw.AdviseData(group));
  constexpr uint32_t kTransaction = 77;
  pb::RefreshRequest refresh;
  refresh.set_group(group);
  refresh.set_source(com::OPC_DS_DEVICE);
  refresh.set_transaction_id(kTransaction);
  pb::AsyncReply rep;
  ASSERT_TRUE(raw.Call(&Stub::Refresh2, refresh, &rep).ok());
  ASSERT_EQ(rep.hr(), com::S_OK);
  // Its completion: a data change of the five items with the refresh's transaction.
  auto answered = std::async(std::launch::async, [&] {
    for (pb::Event e; raw.reader->Read(&e);) {
      if (e.has_data_change() && e.data_change().transaction_id() == kTransaction)
        return e.data_change().client_handles_size();
    }
    return -1;
  });
  if (answered.wait_for(120s) != std::future_status::ready) raw.stream.TryCancel();
  EXPECT_EQ(answered.get(), 5);

  terminated_ = true;
  EXPECT_EQ(in_.Terminate(), 0);  // waits for the host's end
}

}  // namespace
}  // namespace host::testing
