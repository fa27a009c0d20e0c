// The server model against a backend that records what it is asked, on a clock moved by hand.
#include "platform/com/da_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <map>
#include <thread>
#include <utility>

#include "platform/com/data_object.h"
#include "platform/com/opc_stream.h"
#include "platform/com/testing/recording_sink.h"

namespace platform::com {
namespace {

using testing::RecordingSink;

class RecordingBackend final : public DaBackend {
 public:
  void Read(const std::vector<uint32_t>& handles, std::vector<Reading>* readings) override {
    reads.push_back(handles);
    if (during_read) std::exchange(during_read, nullptr)();
    for (uint32_t h : handles) {
      // The driver stamps a register at every answer, changed or not.
      if (restamp) values[h].stamp = U64ToFileTime(FileTimeToU64(values[h].stamp) + 1);
      readings->push_back(values[h]);
    }
  }
  void Write(const std::vector<uint32_t>& handles, const std::vector<Variant>& vs,
             std::vector<HRESULT>* results) override {
    for (size_t i = 0; i < handles.size(); ++i) {
      writes.emplace_back(handles[i], vs[i]);
      results->push_back(handles[i] == 99 ? E_FAIL : S_OK);
    }
  }
  void Set(uint32_t h, Variant v, WORD q = OPC_QUALITY_GOOD) {
    values[h] = {std::move(v), q, U64ToFileTime(FileTimeToU64(values[h].stamp) + 1)};
  }
  std::map<uint32_t, Reading> values;
  bool restamp = false;
  std::function<void()> during_read;  // once, inside the next read, as another client's call would
  std::vector<std::vector<uint32_t>> reads;
  std::vector<std::pair<uint32_t, Variant>> writes;
};

class DaServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto root = space_.AddNode(AddressSpace::kTop, "Zentrale");
    auto s1 = space_.AddNode(*root, "Station1");
    space_.AddTag(*s1, "AE1", VT_R8, OPC_READABLE, 10);
    space_.AddTag(*s1, "BA1", VT_I4, OPC_READABLE | OPC_WRITEABLE, 11);
    space_.AddTag(*s1, "Bad", VT_I4, OPC_READABLE | OPC_WRITEABLE, 99);
    backend_.Set(10, Variant::R8(1.5));
    backend_.Set(11, Variant::I4(0));
    backend_.Set(99, Variant::I4(0), OPC_QUALITY_NOT_CONNECTED);
    DaServerOptions o;
    o.vendor_info = "model";
    model_ = DaServerModel::Create(space_, backend_, clock_, o);
    server_ = Query<IOPCServer>(model_->NewServer());
  }

  struct Group {
    OPCHANDLE handle = 0;
    std::shared_ptr<IUnknown> unk;
    std::vector<OPCHANDLE> items;
  };
  Group AddGroup(DWORD rate, std::vector<std::string> ids, BOOL active = TRUE) {
    Group g;
    DWORD revised;
    EXPECT_TRUE(SUCCEEDED(server_->AddGroup("", active, rate, 7, nullptr, nullptr, 0, &g.handle, &revised,
                                            IID_IOPCItemMgt, &g.unk)));
    std::vector<OPCITEMDEF> defs(ids.size());
    for (size_t i = 0; i < ids.size(); ++i) {
      defs[i].szItemID = "Zentrale.Station1." + ids[i];
      defs[i].hClient = static_cast<OPCHANDLE>(100 + i);
    }
    std::vector<OPCITEMRESULT> results;
    std::vector<HRESULT> errors;
    EXPECT_EQ(Query<IOPCItemMgt>(g.unk)->AddItems(static_cast<DWORD>(defs.size()), defs.data(), &results, &errors),
              S_OK);
    for (auto& r : results) g.items.push_back(r.hServer);
    return g;
  }
  std::shared_ptr<RecordingSink> Advise(const Group& g) {
    auto sink = std::make_shared<RecordingSink>();
    std::shared_ptr<IConnectionPoint> point;
    EXPECT_EQ(Query<IConnectionPointContainer>(g.unk)->FindConnectionPoint(IID_IOPCDataCallback, &point), S_OK);
    DWORD cookie;
    EXPECT_EQ(point->Advise(std::static_pointer_cast<IOPCDataCallback>(sink), &cookie), S_OK);
    return sink;
  }
  // The item handles of every callback after the first, in order.
  static std::vector<OPCHANDLE> ReportedAfterTheFirst(const RecordingSink& sink) {
    std::vector<OPCHANDLE> reported;
    for (size_t i = 1; i < sink.events.size(); ++i) {
      reported.insert(reported.end(), sink.events[i].handles.begin(), sink.events[i].handles.end());
    }
    return reported;
  }
  void Step(uint32_t ms) {
    clock_.Advance(std::chrono::milliseconds(ms));
    model_->Poll();
  }

  AddressSpace space_;
  RecordingBackend backend_;
  platform::ManualClock clock_;
  std::shared_ptr<DaServerModel> model_;
  std::shared_ptr<IOPCServer> server_;
};

TEST_F(DaServerTest, PollsActiveItemsOncePerRateAndReportsChanges) {
  Group g = AddGroup(250, {"AE1", "BA1"});
  EXPECT_EQ(Query<IOPCItemMgt>(g.unk)->SetActiveState(1, &g.items[1], FALSE, nullptr), E_INVALIDARG);
  std::vector<HRESULT> errors;
  ASSERT_EQ(Query<IOPCItemMgt>(g.unk)->SetActiveState(1, &g.items[1], FALSE, &errors), S_OK);
  auto sink = Advise(g);
  model_->Poll();
  ASSERT_EQ(backend_.reads.size(), 1u);
  EXPECT_EQ(backend_.reads[0], std::vector<uint32_t>{10});  // the inactive item is never read
  ASSERT_EQ(sink->events.size(), 1u);                        // the full callback after advise
  EXPECT_EQ(sink->events[0].handles, std::vector<OPCHANDLE>{100});

  Step(100);  // not due yet: revised rate 300
  EXPECT_EQ(backend_.reads.size(), 1u);
  Step(200);
  EXPECT_EQ(backend_.reads.size(), 2u);
  EXPECT_EQ(sink->events.size(), 1u);  // nothing changed, nothing sent
  backend_.Set(10, Variant::R8(2.5));
  Step(300);
  ASSERT_EQ(sink->events.size(), 2u);
  EXPECT_EQ(sink->events[1].values, std::vector<Variant>{Variant::R8(2.5)});

  // Activating the item brings it in at the next poll, in full.
  ASSERT_EQ(Query<IOPCItemMgt>(g.unk)->SetActiveState(1, &g.items[1], TRUE, &errors), S_OK);
  model_->Poll();
  ASSERT_EQ(sink->events.size(), 3u);
  EXPECT_EQ(sink->events[2].handles, std::vector<OPCHANDLE>{101});

  // An inactive group reads nothing at all.
  BOOL off = FALSE;
  DWORD revised;
  ASSERT_EQ(Query<IOPCGroupStateMgt>(g.unk)->SetState(nullptr, &revised, &off, nullptr, nullptr, nullptr, nullptr),
            S_OK);
  size_t reads = backend_.reads.size();
  Step(1000);
  EXPECT_EQ(backend_.reads.size(), reads);
  // Activated again: a full callback of every item.
  BOOL on = TRUE;
  ASSERT_EQ(Query<IOPCGroupStateMgt>(g.unk)->SetState(nullptr, &revised, &on, nullptr, nullptr, nullptr, nullptr),
            S_OK);
  model_->Poll();
  ASSERT_EQ(sink->events.size(), 4u);
  EXPECT_EQ(sink->events[3].handles.size(), 2u);
}

// A data change carries the items whose value or quality changed since they were last
// reported; a register stamped anew with the same value and quality is not a change.
TEST_F(DaServerTest, DataChangesCarryOnlyChangedValuesOrQualities) {
  struct Row {
    const char* label;
    std::function<void()> change;
    std::vector<OPCHANDLE> reported;
  } rows[] = {
      {"a new time stamp only", [] {}, {}},
      {"a new value", [this] { backend_.Set(10, Variant::R8(2.5)); }, {100}},
      {"a new quality", [this] { backend_.Set(10, Variant::R8(1.5), OPC_QUALITY_UNCERTAIN); }, {100}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    backend_.restamp = false;
    backend_.Set(10, Variant::R8(1.5));
    Group g = AddGroup(100, {"AE1", "BA1"});
    auto sink = Advise(g);
    model_->Poll();
    ASSERT_EQ(sink->Count("data"), 1u);  // the first report after the advise has them all
    EXPECT_EQ(sink->events[0].handles, (std::vector<OPCHANDLE>{100, 101}));
    backend_.restamp = true;
    row.change();
    for (int i = 0; i < 3; ++i) Step(100);
    EXPECT_EQ(ReportedAfterTheFirst(*sink), row.reported);
    ASSERT_EQ(server_->RemoveGroup(g.handle, TRUE), S_OK);
  }
}

// What a client switches off while a poll waits for the device is not reported from that read.
TEST_F(DaServerTest, WhatIsSwitchedOffDuringThePollsReadIsNotReported) {
  struct Row {
    const char* label;
    std::function<void(const Group&)> off;
    std::vector<OPCHANDLE> reported;
  } rows[] = {
      {"the group",
       [](const Group& g) {
         DWORD revised;
         const BOOL inactive = FALSE;
         EXPECT_EQ(Query<IOPCGroupStateMgt>(g.unk)->SetState(nullptr, &revised, &inactive, nullptr, nullptr, nullptr,
                                                             nullptr),
                   S_OK);
       },
       {}},
      {"one item",
       [](const Group& g) {
         std::vector<HRESULT> errors;
         EXPECT_EQ(Query<IOPCItemMgt>(g.unk)->SetActiveState(1, &g.items[1], FALSE, &errors), S_OK);
       },
       {100}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    Group g = AddGroup(100, {"AE1", "BA1"});
    auto sink = Advise(g);
    model_->Poll();
    ASSERT_EQ(sink->Count("data"), 1u);
    backend_.Set(10, Variant::R8(backend_.values[10].value.Real() + 1));
    backend_.Set(11, Variant::I4(static_cast<int32_t>(backend_.values[11].value.Int() + 1)));
    backend_.during_read = [&] { row.off(g); };
    Step(100);
    EXPECT_EQ(backend_.during_read, nullptr) << "no read";
    EXPECT_EQ(ReportedAfterTheFirst(*sink), row.reported);
    ASSERT_EQ(server_->RemoveGroup(g.handle, TRUE), S_OK);
  }
}

TEST_F(DaServerTest, WritesAreCheckedThenConvertedToTheCanonicalType) {
  Group g = AddGroup(100, {"BA1", "AE1", "Bad"});
  struct Row {
    const char* label;
    OPCHANDLE handle;
    Variant value;
    HRESULT error;
  } rows[] = {
      {"text to an integer output", g.items[0], Variant::Str("5"), S_OK},
      {"read-only item", g.items[1], Variant::R8(1), OPC_E_BADRIGHTS},
      {"no number", g.items[0], Variant::Str("five"), OPC_E_BADTYPE},
      {"a number beyond the integer", g.items[0], Variant::R8(1e12), OPC_E_RANGE},
      {"not a number to an integer", g.items[0], Variant::R8(std::nan("")), OPC_E_RANGE},
      {"unknown handle", 12345, Variant::I4(1), OPC_E_INVALIDHANDLE},
      {"refused by the backend", g.items[2], Variant::I4(1), E_FAIL},
      {"empty value (would be 0)", g.items[0], Variant(), OPC_E_BADTYPE},
      {"null value", g.items[0], Variant::Null(), OPC_E_BADTYPE},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    std::vector<HRESULT> errors;
    Query<IOPCSyncIO>(g.unk)->Write(1, &row.handle, &row.value, &errors);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], row.error);
  }
  ASSERT_EQ(backend_.writes.size(), 2u);  // only what passed the checks reached the backend
  EXPECT_EQ(backend_.writes[0], std::make_pair(uint32_t{11}, Variant::I4(5)));
}

// A blank value beside a good one, on each way a client writes: the blank one is refused
// and only the good one reaches the backend.
TEST_F(DaServerTest, BlankWriteValuesAreRefusedOnEveryWritePath) {
  struct Row {
    const char* label;
    // Writes the two values to the two handles; the errors of the call come back.
    std::function<std::vector<HRESULT>(const Group&, const OPCHANDLE*, const Variant*)> write;
  } rows[] = {
      {"synchronous",
       [](const Group& g, const OPCHANDLE* h, const Variant* v) {
         std::vector<HRESULT> errors;
         EXPECT_EQ(Query<IOPCSyncIO>(g.unk)->Write(2, h, v, &errors), S_FALSE);
         return errors;
       }},
      {"asynchronous 2.0",
       [this](const Group& g, const OPCHANDLE* h, const Variant* v) {
         Advise(g);
         DWORD cancel;
         std::vector<HRESULT> errors;
         EXPECT_EQ(Query<IOPCAsyncIO2>(g.unk)->Write(2, h, v, 1, &cancel, &errors), S_FALSE);
         return errors;
       }},
      {"DA 1.0 data object",
       [](const Group& g, const OPCHANDLE* h, const Variant* v) {
         FORMATETC done;
         done.cfFormat = RegisterClipboardFormat(kOpcStmFormatWriteComplete);
         DWORD connection, transaction;
         EXPECT_EQ(Query<IDataObject>(g.unk)->DAdvise(&done, 0, std::make_shared<RecordingSink>(), &connection), S_OK);
         std::vector<HRESULT> errors;
         EXPECT_EQ(Query<IOPCAsyncIO>(g.unk)->Write(connection, 2, h, v, &transaction, &errors), S_FALSE);
         return errors;
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    backend_.writes.clear();
    Group g = AddGroup(100, {"BA1"});
    const OPCHANDLE h[] = {g.items[0], g.items[0]};
    const Variant v[] = {Variant(), Variant::I4(7)};
    EXPECT_EQ(row.write(g, h, v), (std::vector<HRESULT>{OPC_E_BADTYPE, S_OK}));
    model_->Poll();  // the asynchronous ones write now
    ASSERT_EQ(backend_.writes.size(), 1u);
    EXPECT_EQ(backend_.writes[0], std::make_pair(uint32_t{11}, Variant::I4(7)));
  }
}

// Each requested type belongs to the handle at its position, whatever comes before it.
TEST_F(DaServerTest, SetDatatypesKeepsEachTypeWithItsHandle) {
  Group g = AddGroup(100, {"AE1", "BA1"});
  struct Row {
    const char* label;
    std::vector<OPCHANDLE> handles;
    std::vector<VARTYPE> types;
    std::vector<HRESULT> errors;
    VARTYPE ae1, ba1;  // the types the two items are then read in
  } rows[] = {
      {"unknown handle first", {12345, g.items[0], g.items[1]}, {VT_I2, VT_BSTR, VT_R8}, {OPC_E_INVALIDHANDLE, S_OK, S_OK},
       VT_BSTR, VT_R8},
      {"unknown handle between", {g.items[1], 12345, g.items[0]}, {VT_I2, VT_BSTR, VT_I4},
       {S_OK, OPC_E_INVALIDHANDLE, S_OK}, VT_I4, VT_I2},
      {"a type that does not fit", {g.items[0], g.items[1]}, {VARTYPE(0x7777), VT_EMPTY}, {OPC_E_BADTYPE, S_OK},
       VT_I4, VT_I4},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    std::vector<HRESULT> errors;
    Query<IOPCItemMgt>(g.unk)->SetDatatypes(static_cast<DWORD>(row.handles.size()), row.handles.data(),
                                            row.types.data(), &errors);
    EXPECT_EQ(errors, row.errors);
    std::vector<OPCITEMSTATE> states;
    ASSERT_EQ(Query<IOPCSyncIO>(g.unk)->Read(OPC_DS_DEVICE, 2, g.items.data(), &states, &errors), S_OK);
    EXPECT_EQ(states[0].vDataValue.vt(), row.ae1);
    EXPECT_EQ(states[1].vDataValue.vt(), row.ba1);
  }
}

// Two calls of one client at once (the transport runs a client's calls on several threads).
TEST_F(DaServerTest, ConcurrentAddGroupsWithOneNameMakeOneGroup) {
  for (int round = 0; round < 300; ++round) {
    const std::string name = "G" + std::to_string(round);
    std::atomic<int> ready{0};
    HRESULT results[2];
    auto add = [&](int i) {
      ready++;
      while (ready < 2) {
      }
      OPCHANDLE h;
      DWORD revised;
      std::shared_ptr<IUnknown> unk;
      results[i] = server_->AddGroup(name, TRUE, 100, 1, nullptr, nullptr, 0, &h, &revised, IID_IOPCItemMgt, &unk);
    };
    std::thread a(add, 0), b(add, 1);
    a.join();
    b.join();
    ASSERT_EQ(std::count(std::begin(results), std::end(results), S_OK), 1) << name;
    ASSERT_EQ(std::count(std::begin(results), std::end(results), OPC_E_DUPLICATENAME), 1) << name;
  }
}

// A client's server object may go (its session ended) while another thread is in a call that
// looks at it; that call must finish rather than wait on itself.
TEST_F(DaServerTest, ServerObjectGoingDuringACallThatLooksAtIt) {
  struct Row {
    const char* label;
    std::function<void(IOPCGroupStateMgt&)> call;
  } rows[] = {
      {"renaming a group", [](IOPCGroupStateMgt& g) { g.SetName("renamed"); }},
      {"counting the groups", [this](IOPCGroupStateMgt&) { model_->GroupCount(); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    for (int round = 0; round < 200; ++round) {
      auto server = Query<IOPCServer>(model_->NewServer());
      OPCHANDLE h;
      DWORD revised;
      std::shared_ptr<IUnknown> unk;
      ASSERT_EQ(server->AddGroup("", TRUE, 100, 1, nullptr, nullptr, 0, &h, &revised, IID_IOPCGroupStateMgt, &unk),
                S_OK);
      auto group = Query<IOPCGroupStateMgt>(unk);
      std::atomic<bool> stop{false};
      std::atomic<int> calls{0};
      std::promise<void> done;
      std::thread caller([&] {
        while (!stop) {
          row.call(*group);
          calls++;
        }
        done.set_value();
      });
      while (calls < 3) {
      }
      server.reset();  // the last reference but the caller's
      stop = true;
      if (done.get_future().wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        // The caller waits on itself: nothing can end it, so neither can the test.
        std::fprintf(stderr, "%s: the call hangs once the server object goes\n", row.label);
        std::abort();
      }
      caller.join();
    }
  }
}

TEST_F(DaServerTest, AsynchronousCallsCompleteAtThePoll) {
  Group g = AddGroup(1000, {"BA1", "AE1"});
  auto io = Query<IOPCAsyncIO2>(g.unk);
  DWORD cancel = 0;
  std::vector<HRESULT> errors;
  const Variant v[] = {Variant::I4(3), Variant::R8(1)};
  EXPECT_EQ(io->Write(2, g.items.data(), v, 1, &cancel, &errors), CONNECT_E_NOCONNECTION);  // no callback yet
  auto sink = Advise(g);
  model_->Poll();  // the full callback
  ASSERT_EQ(io->Write(2, g.items.data(), v, 1, &cancel, &errors), S_FALSE);
  EXPECT_EQ(errors, (std::vector<HRESULT>{S_OK, OPC_E_BADRIGHTS}));
  EXPECT_TRUE(backend_.writes.empty());  // written at the poll, not in the call
  ASSERT_EQ(io->Read(1, &g.items[1], 2, &cancel, &errors), S_OK);
  DWORD refresh;
  ASSERT_EQ(io->Refresh2(OPC_DS_CACHE, 3, &refresh), S_OK);
  EXPECT_EQ(io->Cancel2(refresh), S_OK);
  EXPECT_EQ(io->Cancel2(refresh), E_FAIL);
  model_->Poll();
  ASSERT_EQ(sink->events.size(), 4u);
  EXPECT_EQ(sink->events[1].kind, "cancel");
  EXPECT_EQ(sink->events[2].kind, "write");
  EXPECT_EQ(sink->events[2].handles, std::vector<OPCHANDLE>{100});
  EXPECT_EQ(sink->events[3].kind, "read");
  EXPECT_EQ(sink->events[3].transaction, 2u);
  EXPECT_EQ(backend_.writes.size(), 1u);
}

TEST_F(DaServerTest, ServerCallsAndProperties) {
  OPCHANDLE h;
  DWORD revised;
  std::shared_ptr<IUnknown> g;
  EXPECT_EQ(server_->AddGroup("A", TRUE, 50, 1, nullptr, nullptr, 0, &h, &revised, IID_IOPCItemMgt, &g),
            OPC_S_UNSUPPORTEDRATE);
  EXPECT_EQ(revised, 100u);
  EXPECT_EQ(server_->AddGroup("A", TRUE, 100, 1, nullptr, nullptr, 0, &h, &revised, IID_IOPCItemMgt, &g),
            OPC_E_DUPLICATENAME);
  // Another client's server object has groups of its own.
  auto other = Query<IOPCServer>(model_->NewServer());
  OPCHANDLE theirs;
  EXPECT_EQ(other->AddGroup("A", TRUE, 100, 1, nullptr, nullptr, 0, &theirs, &revised, IID_IOPCItemMgt, &g), S_OK);
  EXPECT_EQ(server_->RemoveGroup(theirs, FALSE), E_INVALIDARG);
  EXPECT_EQ(model_->GroupCount(), 2u);
  other.reset();  // the client is gone, and its groups with it
  EXPECT_EQ(model_->GroupCount(), 1u);

  model_->SetProperties("Zentrale.Station1.AE1", {{5001, "Item Unit", VT_BSTR, Variant::Str("mA")}});
  auto props = Query<IOPCItemProperties>(server_);
  DWORD count;
  std::vector<DWORD> ids;
  std::vector<std::string> descriptions;
  std::vector<VARTYPE> types;
  ASSERT_EQ(props->QueryAvailableProperties("Zentrale.Station1.AE1", &count, &ids, &descriptions, &types), S_OK);
  EXPECT_EQ(ids, (std::vector<DWORD>{1, 2, 3, 4, 5, 6, 5001}));
  const DWORD wanted[] = {1, 2, 3, 5, 5001, 5002};
  std::vector<Variant> values;
  std::vector<HRESULT> errors;
  ASSERT_EQ(props->GetItemProperties("Zentrale.Station1.AE1", 6, wanted, &values, &errors), S_FALSE);
  EXPECT_EQ(values[0], Variant::I2(VT_R8));
  EXPECT_EQ(values[1], Variant::R8(1.5));
  EXPECT_EQ(values[2], Variant::I2(OPC_QUALITY_GOOD));
  EXPECT_EQ(values[3], Variant::I4(OPC_READABLE));
  EXPECT_EQ(values[4], Variant::Str("mA"));
  EXPECT_EQ(errors[5], OPC_E_INVALID_PID);
  EXPECT_EQ(props->QueryAvailableProperties("Zentrale.Nope", &count, &ids, &descriptions, &types),
            OPC_E_UNKNOWNITEMID);

  std::shared_ptr<IEnumString> e;
  ASSERT_EQ(Query<IOPCBrowseServerAddressSpace>(server_)->BrowseOPCItemIDs(OPC_FLAT, "*1", VT_EMPTY, 0, &e), S_OK);
  EXPECT_EQ(ReadAll<std::string>(e.get()), (std::vector<std::string>{"Zentrale.Station1.AE1", "Zentrale.Station1.BA1"}));
}

// A cache read answers out of service (0x1C) only for what is not active; an active item
// that was not polled yet shows its register as it is (a register never answered is bad,
// not connected).
TEST_F(DaServerTest, CacheReadsShowOutOfServiceOnlyForWhatIsInactive) {
  struct Row {
    const char* label;
    BOOL group_active;
    BOOL item_active;
    WORD quality;
    Variant value;
  } rows[] = {
      {"inactive group", FALSE, TRUE, 0x1C, Variant()},
      {"inactive item", TRUE, FALSE, 0x1C, Variant()},
      {"active item not polled yet", TRUE, TRUE, OPC_QUALITY_NOT_CONNECTED, Variant::I4(0)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    backend_.reads.clear();
    Group g = AddGroup(100, {"Bad"}, row.group_active);
    std::vector<HRESULT> errors;
    if (!row.item_active) {
      ASSERT_EQ(Query<IOPCItemMgt>(g.unk)->SetActiveState(1, &g.items[0], FALSE, &errors), S_OK);
    }
    std::vector<OPCITEMSTATE> states;
    ASSERT_EQ(Query<IOPCSyncIO>(g.unk)->Read(OPC_DS_CACHE, 1, g.items.data(), &states, &errors), S_OK);
    EXPECT_EQ(states[0].wQuality, row.quality);
    EXPECT_EQ(states[0].vDataValue, row.value);
    EXPECT_EQ(states[0].hClient, 100u);
    if (row.quality == 0x1C) {
      EXPECT_TRUE(backend_.reads.empty());  // nothing inactive is read
    }
    // From the device, every item is read.
    ASSERT_EQ(Query<IOPCSyncIO>(g.unk)->Read(OPC_DS_DEVICE, 1, g.items.data(), &states, &errors), S_OK);
    EXPECT_EQ(states[0].wQuality, OPC_QUALITY_NOT_CONNECTED);
    ASSERT_EQ(server_->RemoveGroup(g.handle, TRUE), S_OK);
  }
}

TEST_F(DaServerTest, DataObjectStreamsWithoutConnectionPoints) {
  DaServerOptions o;
  o.connection_points = false;
  auto model = DaServerModel::Create(space_, backend_, clock_, o);
  auto server = model->NewServer();
  EXPECT_EQ(Query<IConnectionPointContainer>(server), nullptr);
  OPCHANDLE h;
  DWORD revised;
  std::shared_ptr<IUnknown> g;
  ASSERT_EQ(Query<IOPCServer>(server)->AddGroup("G", TRUE, 100, 3, nullptr, nullptr, 0, &h, &revised,
                                                 IID_IDataObject, &g),
            S_OK);
  EXPECT_EQ(Query<IConnectionPointContainer>(g), nullptr);
  OPCITEMDEF def;
  def.szItemID = "Zentrale.Station1.BA1";
  def.hClient = 5;
  std::vector<OPCITEMRESULT> results;
  std::vector<HRESULT> errors;
  ASSERT_EQ(Query<IOPCItemMgt>(g)->AddItems(1, &def, &results, &errors), S_OK);
  auto sink = std::make_shared<RecordingSink>();
  FORMATETC data, done;
  data.cfFormat = RegisterClipboardFormat(kOpcStmFormatData);
  done.cfFormat = RegisterClipboardFormat(kOpcStmFormatWriteComplete);
  DWORD c1, c2;
  ASSERT_EQ(Query<IDataObject>(g)->DAdvise(&data, ADVF_PRIMEFIRST, sink, &c1), S_OK);
  ASSERT_EQ(Query<IDataObject>(g)->DAdvise(&done, 0, sink, &c2), S_OK);
  DWORD transaction;
  const Variant one = Variant::I4(1);
  EXPECT_EQ(Query<IOPCAsyncIO>(g)->Write(c1, 1, &results[0].hServer, &one, &transaction, &errors),
            CONNECT_E_NOCONNECTION);  // the data sink takes no completions
  ASSERT_EQ(Query<IOPCAsyncIO>(g)->Write(c2, 1, &results[0].hServer, &one, &transaction, &errors), S_OK);
  model->Poll();
  ASSERT_EQ(sink->events.size(), 2u);
  OpcStreamHeader header;
  std::vector<OpcStreamWriteResult> done_rows;
  ASSERT_TRUE(ParseOpcWriteCompleteStream(sink->events[0].block, &header, &done_rows));
  EXPECT_EQ(header.dwTransactionID, transaction);
  std::vector<OpcStreamItem> items;
  ASSERT_TRUE(ParseOpcDataStream(sink->events[1].block, false, &header, &items));
  EXPECT_EQ(header.hClientGroup, 3u);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].hClient, 5u);
}

// Rates are revised up to multiples of the fastest rate on both roads a rate comes in; the
// largest rates get the largest multiple a DWORD holds, never a rate that wrapped to 0.
TEST_F(DaServerTest, RevisedRatesKeepTheirOrderUpToTheLargest) {
  struct Row {
    DWORD requested, revised;
  } rows[] = {{0, 100},
              {100, 100},
              {101, 200},
              {2147483748u, 2147483800u},
              {4294967197u, 4294967200u},
              {4294967200u, 4294967200u},
              {4294967201u, 4294967200u},
              {0xFFFFFFFFu, 4294967200u}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.requested);
    const HRESULT expected = row.revised == row.requested ? S_OK : OPC_S_UNSUPPORTEDRATE;
    OPCHANDLE handle;
    DWORD revised = 0;
    std::shared_ptr<IUnknown> unk;
    ASSERT_EQ(server_->AddGroup("", TRUE, row.requested, 1, nullptr, nullptr, 0, &handle, &revised,
                                IID_IOPCGroupStateMgt, &unk),
              expected);
    EXPECT_EQ(revised, row.revised);
    revised = 0;
    EXPECT_EQ(Query<IOPCGroupStateMgt>(unk)->SetState(&row.requested, &revised, nullptr, nullptr, nullptr, nullptr,
                                                      nullptr),
              expected);
    EXPECT_EQ(revised, row.revised);
  }
}

// A group is read when its rate has passed on the clock and not before: for rates beyond half
// the tick's range, for the largest rate (where the poller waits instead of spinning) and
// across the tick's wrap-around.
TEST(DaServerRateTest, AGroupIsReadWhenItsRateHasPassedAndNotBefore) {
  struct Row {
    const char* label;
    uint32_t tick;
    DWORD rate;
  } rows[] = {{"a second", 0, 1000},
              {"beyond half the tick's range", 0, 2147483748u},
              {"the largest rate", 7, 0xFFFFFFFFu},
              {"across the tick's wrap-around", 0xFFFFFF00u, 1000}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    AddressSpace space;
    space.AddTag(*space.AddNode(AddressSpace::kTop, "Zentrale"), "AE1", VT_R8, OPC_READABLE, 10);
    RecordingBackend backend;
    platform::ManualClock clock(platform::ManualClock::TimePoint{std::chrono::seconds{1'700'000'000}}, row.tick);
    auto model = DaServerModel::Create(space, backend, clock, {});
    auto server = Query<IOPCServer>(model->NewServer());
    OPCHANDLE handle;
    DWORD revised;
    std::shared_ptr<IUnknown> unk;
    ASSERT_TRUE(SUCCEEDED(server->AddGroup("", TRUE, row.rate, 1, nullptr, nullptr, 0, &handle, &revised,
                                           IID_IOPCItemMgt, &unk)));
    OPCITEMDEF def;
    def.szItemID = "Zentrale.AE1";
    std::vector<OPCITEMRESULT> results;
    std::vector<HRESULT> errors;
    ASSERT_EQ(Query<IOPCItemMgt>(unk)->AddItems(1, &def, &results, &errors), S_OK);
    model->Poll();
    ASSERT_EQ(backend.reads.size(), 1u);  // at once
    clock.Advance(std::chrono::milliseconds(100));
    EXPECT_GT(model->Poll(), 0u);
    EXPECT_EQ(backend.reads.size(), 1u);
    clock.Advance(std::chrono::milliseconds(revised - 101));
    model->Poll();
    EXPECT_EQ(backend.reads.size(), 1u) << "read 1 ms before its time";
    clock.Advance(std::chrono::milliseconds(1));
    model->Poll();
    EXPECT_EQ(backend.reads.size(), 2u);
    // A shorter rate counts from when it is set, not from the due time of the longer one.
    const DWORD second = 1000;
    ASSERT_TRUE(SUCCEEDED(
        Query<IOPCGroupStateMgt>(unk)->SetState(&second, &revised, nullptr, nullptr, nullptr, nullptr, nullptr)));
    clock.Advance(std::chrono::milliseconds(1000));
    model->Poll();
    EXPECT_EQ(backend.reads.size(), 3u);
  }
}

// Every refresh waiting at a poll is served from one device read, and each still gets its own
// completion with its transaction, in the order asked.
TEST_F(DaServerTest, RefreshesWaitingAtAPollShareOneDeviceRead) {
  Group g = AddGroup(1000, {"AE1", "BA1"});
  auto sink = Advise(g);
  model_->Poll();  // the full callback
  auto io = Query<IOPCAsyncIO2>(g.unk);
  const OPCDATASOURCE sources[] = {OPC_DS_DEVICE, OPC_DS_CACHE, OPC_DS_DEVICE, OPC_DS_CACHE};
  DWORD cancel;
  for (DWORD t = 0; t < 4; ++t) ASSERT_EQ(io->Refresh2(sources[t], 11 + t, &cancel), S_OK);
  backend_.Set(10, Variant::R8(2.5));
  const size_t reads = backend_.reads.size();
  model_->Poll();
  EXPECT_EQ(backend_.reads.size(), reads + 1);
  ASSERT_EQ(sink->events.size(), 5u);
  for (DWORD t = 0; t < 4; ++t) {
    const auto& e = sink->events[1 + t];
    EXPECT_EQ(e.kind, "data");
    EXPECT_EQ(e.transaction, 11 + t);
    EXPECT_EQ(e.handles, (std::vector<OPCHANDLE>{100, 101}));
    EXPECT_EQ(e.values.at(0), Variant::R8(2.5));
  }
}

// A group takes only so many waiting refreshes; beyond, Refresh2 is refused until a poll has
// served them, and the client's other groups are not held to that group's count.
TEST_F(DaServerTest, RefreshesBeyondTheBoundOfAGroupAreRefused) {
  Group g = AddGroup(1000, {"AE1"}), other = AddGroup(1000, {"BA1"});
  auto sink = Advise(g);
  Advise(other);
  model_->Poll();
  auto io = Query<IOPCAsyncIO2>(g.unk);
  DWORD cancel;
  for (DWORD t = 1; t <= DaServerModel::kMaxPendingRefreshes; ++t) ASSERT_EQ(io->Refresh2(OPC_DS_CACHE, t, &cancel), S_OK);
  EXPECT_EQ(io->Refresh2(OPC_DS_DEVICE, 1000, &cancel), OPC_E_REFRESHINPROGRESS);
  EXPECT_EQ(Query<IOPCAsyncIO2>(other.unk)->Refresh2(OPC_DS_CACHE, 1, &cancel), S_OK);
  model_->Poll();
  EXPECT_EQ(sink->Count("data"), 1 + DaServerModel::kMaxPendingRefreshes);
  EXPECT_EQ(io->Refresh2(OPC_DS_CACHE, 1001, &cancel), S_OK);
}

// What ends a group's waiting work ends it at once: no further device read and no further
// completion for a group removed while the device is read, for one whose client is cut off at
// its first completion (as the transport cuts off a client that does not read its events),
// or once the model is stopped.
TEST_F(DaServerTest, WaitingWorkEndsAtOnceWhenItsGroupGoesOrTheModelStops) {
  struct Row {
    const char* label;
    bool in_the_read;  // else at the first completion
    bool stop;         // else the group is removed
    size_t completions;
  } rows[] = {{"removed while the device is read", true, false, 0},
              {"removed at its first completion", false, false, 1},
              {"stopped at its first completion", false, true, 1}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    model_ = DaServerModel::Create(space_, backend_, clock_, {});  // a fresh one: a row may stop it
    server_ = Query<IOPCServer>(model_->NewServer());
    Group g = AddGroup(1000, {"AE1", "BA1"});
    auto sink = Advise(g);
    model_->Poll();
    auto io = Query<IOPCAsyncIO2>(g.unk);
    DWORD cancel;
    std::vector<HRESULT> errors;
    for (DWORD t = 1; t <= 3; ++t) ASSERT_EQ(io->Read(1, &g.items[0], t, &cancel, &errors), S_OK);
    for (DWORD t = 4; t <= 5; ++t) ASSERT_EQ(io->Refresh2(OPC_DS_DEVICE, t, &cancel), S_OK);
    auto end = [&, model = model_.get(), server = server_.get(), handle = g.handle] {
      if (row.stop) {
        model->StopPolling();
      } else {
        server->RemoveGroup(handle, TRUE);
      }
    };
    if (row.in_the_read) {
      backend_.during_read = end;
    } else {
      sink->after = [&](const auto&) { end(); };
    }
    const size_t reads = backend_.reads.size(), events = sink->events.size();
    clock_.Advance(std::chrono::milliseconds(1000));  // the group is due as well
    model_->Poll();
    EXPECT_EQ(backend_.reads.size(), reads + 1);
    EXPECT_EQ(sink->events.size(), events + row.completions);
    clock_.Advance(std::chrono::milliseconds(1000));
    model_->Poll();
    EXPECT_EQ(backend_.reads.size(), reads + 1);
  }
}

// A stop leaves out the reads still waiting, but a write taken for the poll under way reaches
// the device and its client hears of it: a write once accepted is not lost to a stop.
TEST_F(DaServerTest, AStopLeavesOutWaitingReadsButNotATakenWrite) {
  Group g = AddGroup(1000, {"AE1", "BA1"});
  auto sink = Advise(g);
  model_->Poll();
  auto io = Query<IOPCAsyncIO2>(g.unk);
  DWORD cancel;
  std::vector<HRESULT> errors;
  const Variant one = Variant::I4(1);
  ASSERT_EQ(io->Read(1, &g.items[0], 1, &cancel, &errors), S_OK);
  ASSERT_EQ(io->Write(1, &g.items[1], &one, 2, &cancel, &errors), S_OK);
  ASSERT_EQ(io->Read(1, &g.items[0], 3, &cancel, &errors), S_OK);
  sink->after = [&](const auto&) { model_->StopPolling(); };
  const size_t events = sink->events.size();
  model_->Poll();
  ASSERT_EQ(sink->events.size(), events + 2);
  EXPECT_EQ(sink->events[events].transaction, 1u);
  EXPECT_EQ(sink->events[events + 1].kind, "write");
  EXPECT_EQ(backend_.writes.size(), 1u);
}

// Refreshes share a read only while nothing else comes between them: a refresh queued after a
// read or a write reports what the device gave after that completion, never older values.
TEST_F(DaServerTest, ARefreshAfterAReadOrWriteShowsWhatCameAfterIt) {
  for (const bool write : {false, true}) {
    SCOPED_TRACE(write ? "write between" : "read between");
    Group g = AddGroup(1000, {"AE1", "BA1"});
    auto sink = Advise(g);
    backend_.Set(10, Variant::R8(1.5));
    model_->Poll();
    auto io = Query<IOPCAsyncIO2>(g.unk);
    DWORD cancel;
    std::vector<HRESULT> errors;
    const Variant one = Variant::I4(1);
    ASSERT_EQ(io->Refresh2(OPC_DS_DEVICE, 1, &cancel), S_OK);
    if (write) {
      ASSERT_EQ(io->Write(1, &g.items[1], &one, 2, &cancel, &errors), S_OK);
    } else {
      ASSERT_EQ(io->Read(1, &g.items[0], 2, &cancel, &errors), S_OK);
    }
    ASSERT_EQ(io->Refresh2(OPC_DS_DEVICE, 3, &cancel), S_OK);
    // The device's value changes once the first refresh is out.
    sink->after = [&](const auto& e) {
      if (e.transaction == 1) backend_.Set(10, Variant::R8(9.0));
    };
    model_->Poll();
    sink->after = nullptr;
    auto last = std::find_if(sink->events.rbegin(), sink->events.rend(),
                             [](const auto& e) { return e.kind == "data" && e.transaction == 3; });
    ASSERT_NE(last, sink->events.rend());
    EXPECT_EQ(last->values.at(0), Variant::R8(9.0));
  }
}

// After a stop no asynchronous call is taken (none would be completed), and a write taken
// before it still goes to the device, whichever group it waits in.
TEST_F(DaServerTest, AfterAStopAsynchronousCallsAreRefusedAndTakenWritesStillGoOut) {
  Group first = AddGroup(1000, {"AE1"}), second = AddGroup(1000, {"BA1"});
  Advise(first);
  auto sink = Advise(second);
  model_->Poll();
  DWORD cancel;
  std::vector<HRESULT> errors;
  const Variant one = Variant::I4(1);
  ASSERT_EQ(Query<IOPCAsyncIO2>(second.unk)->Write(1, &second.items[0], &one, 7, &cancel, &errors), S_OK);
  model_->StopPolling();
  auto io = Query<IOPCAsyncIO2>(first.unk);
  EXPECT_EQ(io->Read(1, &first.items[0], 1, &cancel, &errors), E_FAIL);
  EXPECT_EQ(io->Refresh2(OPC_DS_CACHE, 2, &cancel), E_FAIL);
  EXPECT_EQ(Query<IOPCAsyncIO2>(second.unk)->Write(1, &second.items[0], &one, 3, &cancel, &errors), E_FAIL);
  const size_t reads = backend_.reads.size();
  model_->Poll();
  EXPECT_EQ(backend_.reads.size(), reads) << "a stopped model reads nothing";
  ASSERT_EQ(backend_.writes.size(), 1u);
  EXPECT_EQ(sink->Count("write"), 1u);
}

// A device whose reads of one item wait until the test lets them go, so that a poll can be
// held inside its device read for as long as the test needs.
class GatedBackend final : public DaBackend {
 public:
  static constexpr uint32_t kGated = 1;
  void Read(const std::vector<uint32_t>& handles, std::vector<Reading>* readings) override {
    std::unique_lock lock(mutex_);
    if (std::find(handles.begin(), handles.end(), kGated) != handles.end()) {
      ++held_;
      changed_.notify_all();
      changed_.wait(lock, [this] { return open_; });
      --held_;
    }
    for (uint32_t h : handles) {
      readings->emplace_back();
      readings->back().value = Variant::I4(static_cast<int32_t>(h));
      readings->back().quality = OPC_QUALITY_GOOD;
    }
  }
  void Write(const std::vector<uint32_t>& handles, const std::vector<Variant>&, std::vector<HRESULT>* results) override {
    results->assign(handles.size(), S_OK);
  }
  void Close() {
    std::lock_guard lock(mutex_);
    open_ = false;
  }
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  bool AwaitHeldRead() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(60), [this] { return held_ > 0; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = true;
  int held_ = 0;
};

// While a poll waits for the device, the model serves every other call: clients come, make
// groups, ask and go; even the polled group answers what it knows without a device read.
TEST(DaServerLockingTest, APollWaitingForTheDeviceHoldsNoCallUp) {
  AddressSpace space;
  auto node = space.AddNode(*space.AddNode(AddressSpace::kTop, "Zentrale"), "Station1");
  space.AddTag(*node, "Gated", VT_I4, OPC_READABLE, GatedBackend::kGated);
  space.AddTag(*node, "Other", VT_I4, OPC_READABLE | OPC_WRITEABLE, 2);
  GatedBackend backend;
  platform::ManualClock clock;
  auto model = DaServerModel::Create(space, backend, clock, {});
  struct Client {
    std::shared_ptr<IOPCServer> server;
    OPCHANDLE group = 0;
    std::shared_ptr<IUnknown> unk;
    std::vector<OPCHANDLE> items;
  };
  auto connect = [&](const std::string& item) {
    Client c;
    c.server = Query<IOPCServer>(model->NewServer());
    DWORD revised;
    EXPECT_EQ(c.server->AddGroup("", TRUE, 100, 1, nullptr, nullptr, 0, &c.group, &revised, IID_IOPCItemMgt, &c.unk),
              S_OK);
    OPCITEMDEF def;
    def.szItemID = "Zentrale.Station1." + item;
    std::vector<OPCITEMRESULT> results;
    std::vector<HRESULT> errors;
    EXPECT_EQ(Query<IOPCItemMgt>(c.unk)->AddItems(1, &def, &results, &errors), S_OK);
    c.items.push_back(results.at(0).hServer);
    return c;
  };
  Client polled = connect("Gated");
  struct Row {
    const char* label;
    std::function<void()> call;
  } rows[] = {
      {"a new client connects and asks for the status",
       [&] {
         OPCSERVERSTATUS status;
         EXPECT_EQ(Query<IOPCServer>(model->NewServer())->GetStatus(&status), S_OK);
       }},
      {"another client makes a group, adds, reads and writes",
       [&] {
         Client c = connect("Other");
         std::vector<OPCITEMSTATE> states;
         std::vector<HRESULT> errors;
         EXPECT_EQ(Query<IOPCSyncIO>(c.unk)->Read(OPC_DS_CACHE, 1, c.items.data(), &states, &errors), S_OK);
         const Variant one = Variant::I4(1);
         EXPECT_EQ(Query<IOPCSyncIO>(c.unk)->Write(1, c.items.data(), &one, &errors), S_OK);
       }},
      {"a client goes and its groups with it",
       [&] {
         size_t before = model->GroupCount();
         connect("Other");
         EXPECT_EQ(model->GroupCount(), before);
       }},
      {"the polling client asks for its status and its group's state",
       [&] {
         OPCSERVERSTATUS status;
         EXPECT_EQ(polled.server->GetStatus(&status), S_OK);
         DWORD rate;
         BOOL active;
         std::string name;
         LONG bias;
         float deadband;
         LCID lcid;
         OPCHANDLE client, handle;
         EXPECT_EQ(Query<IOPCGroupStateMgt>(polled.unk)
                       ->GetState(&rate, &active, &name, &bias, &deadband, &lcid, &client, &handle),
                   S_OK);
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    backend.Close();
    clock.Advance(std::chrono::milliseconds(100));
    std::thread poller([&] { model->Poll(); });
    ASSERT_TRUE(backend.AwaitHeldRead());
    auto call = std::async(std::launch::async, row.call);
    // Generous: a call that does not wait for the poll is done in microseconds.
    EXPECT_EQ(call.wait_for(std::chrono::seconds(30)), std::future_status::ready) << "the call waits for the poll";
    backend.Open();
    call.get();
    poller.join();
  }
  // The polled group may go while its poll waits; the poll then reports to nobody.
  backend.Close();
  clock.Advance(std::chrono::milliseconds(100));
  std::thread poller([&] { model->Poll(); });
  ASSERT_TRUE(backend.AwaitHeldRead());
  auto removed = std::async(std::launch::async, [&] { return polled.server->RemoveGroup(polled.group, TRUE); });
  EXPECT_EQ(removed.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  backend.Open();
  EXPECT_EQ(removed.get(), S_OK);
  poller.join();
  EXPECT_EQ(model->GroupCount(), 0u);
}

}  // namespace
}  // namespace platform::com
