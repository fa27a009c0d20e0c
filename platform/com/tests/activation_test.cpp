// Activation through the registry: a registered server program is started when nothing
// serves its class, a stale record is ignored, and every way of failing says why.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/com/class_registry.h"
#include "platform/com/opc_common.h"
#include "platform/com/tests/transport_fixture.h"

extern char** environ;

namespace platform::com::testing {
namespace {

class ActivationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The started server program reads the same registry and puts its socket here.
    setenv("QAR_REGISTRY", registry_file_.c_str(), 1);
    setenv("QAR_SOCKET_DIR", dir_.Path().c_str(), 1);
  }
  // The server is waited for: it takes its record out of the registry as it ends, and would
  // otherwise write it back into the folder that is being removed.
  void TearDown() override {
    if (auto running = FindRunningServer(kFakeClsid, reg_)) {
      const auto pid = static_cast<pid_t>(running->pid);
      kill(pid, SIGTERM);
      EXPECT_TRUE(Eventually([&] { return kill(pid, 0) != 0 && errno == ESRCH; }));
    }
  }

  void Register(const std::string& command) {
    ServerRegistration r;
    r.clsid = kFakeClsid;
    r.prog_id = "Qar.Fake.1";
    r.version_independent_prog_id = "Qar.Fake";
    r.readable_name = "Fake server";
    r.command = command;
    r.categories = {CATID_OPCDAServer20};
    ASSERT_TRUE(RegisterServer(r, reg_));
  }

  rpc::ActivationOptions Options(uint32_t timeout_ms = 10000) {
    rpc::ActivationOptions o;
    o.apartment = &apartment_;
    o.registry_file = registry_file_;
    o.start_timeout_ms = timeout_ms;
    return o;
  }

  platform::testing::TempDir dir_;
  std::string registry_file_ = dir_ / "registry";
  Registry reg_{registry_file_};
  Apartment apartment_;
};

TEST_F(ActivationTest, StartsTheRegisteredProgramAndSurvivesItsDeath) {
  Register(QAR_TEST_SERVER);
  std::shared_ptr<IUnknown> unk;
  std::string error;
  ASSERT_EQ(rpc::CreateServerByName("Qar.Fake", Options(), &unk, &error), S_OK) << error;
  auto server = Query<IOPCServer>(unk);
  ASSERT_TRUE(server);
  OPCHANDLE handle;
  DWORD rate;
  std::shared_ptr<IUnknown> group;
  EXPECT_EQ(server->AddGroup("G", TRUE, 100, 1, nullptr, nullptr, 0, &handle, &rate, IID_IOPCItemMgt, &group), S_OK);

  // A second client finds the running server rather than starting another.
  auto first = FindRunningServer(kFakeClsid, reg_);
  ASSERT_TRUE(first);
  std::shared_ptr<IUnknown> again;
  ASSERT_EQ(rpc::CreateServerByName("{7A3E51C2-44D0-4F6B-9B1D-2C558E016A33}", Options(), &again, &error), S_OK)
      << error;
  EXPECT_EQ(FindRunningServer(kFakeClsid, reg_)->pid, first->pid);

  // Killed: every call fails with the disconnection error, and its record stays behind.
  ASSERT_EQ(kill(static_cast<pid_t>(first->pid), SIGKILL), 0);
  OPCSERVERSTATUS status;
  EXPECT_TRUE(Eventually([&] { return server->GetStatus(&status) == RPC_E_DISCONNECTED; }));
  EXPECT_EQ(Query<IOPCGroupStateMgt>(group)->SetName("x"), RPC_E_DISCONNECTED);
  EXPECT_EQ(Query<IOPCServer>(again)->RemoveGroup(1, TRUE), RPC_E_DISCONNECTED);

  // The next activation sees through the stale record and socket and starts a new server.
  std::shared_ptr<IUnknown> fresh;
  ASSERT_EQ(rpc::CreateServer(kFakeClsid, Options(), &fresh, &error), S_OK) << error;
  EXPECT_NE(FindRunningServer(kFakeClsid, reg_)->pid, first->pid);
  EXPECT_EQ(Query<IOPCServer>(fresh)->GetStatus(&status), S_OK);
}

TEST_F(ActivationTest, ServerStopSendsShutdownThenDisconnects) {
  Register(QAR_TEST_SERVER);
  std::shared_ptr<IUnknown> unk;
  std::string error;
  ASSERT_EQ(rpc::CreateServer(kFakeClsid, Options(), &unk, &error), S_OK) << error;
  auto sink = std::make_shared<RecordingSink>();
  std::shared_ptr<IConnectionPoint> point;
  ASSERT_EQ(Query<IConnectionPointContainer>(unk)->FindConnectionPoint(IID_IOPCShutdown, &point), S_OK);
  DWORD cookie;
  ASSERT_EQ(point->Advise(std::static_pointer_cast<IOPCShutdown>(sink), &cookie), S_OK);
  kill(static_cast<pid_t>(FindRunningServer(kFakeClsid, reg_)->pid), SIGTERM);
  ASSERT_TRUE(apartment_.RunUntil([&] { return sink->Count("shutdown") == 1; }, std::chrono::seconds(10)));
  EXPECT_EQ(sink->events[0].text, "server stopped");
  OPCSERVERSTATUS status;
  EXPECT_TRUE(Eventually([&] { return Query<IOPCServer>(unk)->GetStatus(&status) == RPC_E_DISCONNECTED; }));
  EXPECT_TRUE(Eventually([&] { return !FindRunningServer(kFakeClsid, reg_); }));
}

TEST_F(ActivationTest, FailuresSayWhy) {
  struct Row {
    const char* label;
    std::string command;  // "" leaves the class unregistered
    std::string name;
    std::string computer;
    HRESULT hr;
    const char* text;  // part of the error text
  } rows[] = {
      {"class not registered", "", "{7A3E51C2-44D0-4F6B-9B1D-2C558E016A33}", "", REGDB_E_CLASSNOTREG,
       "not registered"},
      {"unknown ProgID", "", "Qar.Nobody", "", CO_E_CLASSSTRING, "neither"},
      {"program missing", "/nonexistent/server", "Qar.Fake", "", CO_E_APPNOTFOUND, "/nonexistent/server"},
      {"program ends at once", "/bin/false", "Qar.Fake", "", CO_E_SERVER_EXEC_FAILURE, "exit code 1"},
      {"another computer", QAR_TEST_SERVER, "Qar.Fake", "no-such-host", RPC_S_SERVER_UNAVAILABLE, "no-such-host"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    reg_.DeleteKey("HKEY_CLASSES_ROOT\\CLSID");
    if (!row.command.empty()) Register(row.command);
    rpc::ActivationOptions o = Options();
    o.computer_name = row.computer;
    std::shared_ptr<IUnknown> unk;
    std::string error;
    EXPECT_EQ(rpc::CreateServerByName(row.name, o, &unk, &error), row.hr) << error;
    EXPECT_NE(error.find(row.text), std::string::npos) << error;
    EXPECT_EQ(unk, nullptr);
  }
}

TEST_F(ActivationTest, ThisComputerByNameIsLocal) {
  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  std::string upper = host;
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  EXPECT_TRUE(rpc::IsLocalComputer(""));
  EXPECT_TRUE(rpc::IsLocalComputer(" "));
  EXPECT_TRUE(rpc::IsLocalComputer(upper));
  EXPECT_FALSE(rpc::IsLocalComputer(upper + "x"));
}

TEST(ComputerNameTest, AShortOrAFullNameOfThisComputerIsLocal) {
  struct Row {
    const char* label;
    const char* typed;
    const char* host;  // as gethostname() gives it
    bool local;
  } rows[] = {
      {"blank", " ", "plant1", true},
      {"blank, host name unknown", "", "", true},
      {"short name, full host name", "Plant1", "plant1.example.com", true},
      {"full name, short host name", "PLANT1.example.com", "plant1", true},
      {"both full", "plant1.EXAMPLE.com", "plant1.example.com", true},
      {"same short name in another domain", "plant1.other.org", "plant1.example.com", false},
      {"another computer", "plant2", "plant1.example.com", false},
      {"a name this one's begins with", "plant", "plant1.example.com", false},
      {"this one's name begins with it", "plant1x", "plant1", false},
      {"host name unknown", "plant1", "", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    EXPECT_EQ(rpc::NamesThisComputer(row.typed, row.host), row.local);
  }
}

TEST_F(ActivationTest, GivesUpOnAServerThatNeverServes) {
  // The program lives on but never serves; the wait is measured on a clock that moves only
  // as the activation sleeps, so the test does not sit through the time-out.
  const std::string pid_file = dir_ / "pid";
  Register("/bin/sh -c \"echo $$ > " + pid_file + "; exec sleep 60\"");
  platform::ManualClock clock;
  rpc::ActivationOptions o = Options(1000);
  o.clock = &clock;
  std::shared_ptr<IUnknown> unk;
  std::string error;
  EXPECT_EQ(rpc::CreateServer(kFakeClsid, o, &unk, &error), CO_E_SERVER_EXEC_FAILURE);
  EXPECT_NE(error.find("within 1000 ms"), std::string::npos) << error;
  EXPECT_GE(clock.TickMs(), 1000u);
  ASSERT_TRUE(Eventually([&] { return !dir_.Read("pid").empty(); }));
  kill(std::stoi(dir_.Read("pid")), SIGKILL);
}

// A client process killed mid-session: its session and groups go while a poll of another
// client's group waits for the device, and a new client is served meanwhile.
TEST_F(TransportTest, ClientProcessDeathRemovesItsGroupsWhileAPollWaits) {
  setenv("QAR_REGISTRY", serve_.registry_file.c_str(), 1);
  auto keep = Connect();
  Group stays = AddGroup(keep.get(), "stays", 1);
  AddItems(stays, {"Zentrale.Station1.AE1"});
  device_->HoldReads("Zentrale.Station1.AE1");
  std::thread poll([this] { device_->Tick(); });
  struct Release {
    std::shared_ptr<FakeDevice> device;
    std::thread& poll;
    ~Release() {
      device->ReleaseReads();
      poll.join();
    }
  } release{device_, poll};
  ASSERT_TRUE(device_->AwaitHeldRead());
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const char* argv[] = {QAR_TEST_CLIENT, "{7A3E51C2-44D0-4F6B-9B1D-2C558E016A33}", nullptr};
  pid_t pid;
  ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char**>(argv), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  char said[16] = {};
  ASSERT_GT(read(out[0], said, sizeof said - 1), 0);
  close(out[0]);
  EXPECT_STREQ(said, "ready\n");
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_TRUE(Eventually([&] { return device_->GroupCount() == 1 && endpoint_->ClientCount() == 1; }));
  auto fresh = Connect();
  ASSERT_TRUE(fresh);
  AddGroup(fresh.get(), "new", 2);
  OPCSERVERSTATUS st;
  EXPECT_EQ(fresh->GetStatus(&st), S_OK);
  EXPECT_EQ(st.dwGroupCount, 1u);
  EXPECT_EQ(keep->GetStatus(&st), S_OK);
}

}  // namespace
}  // namespace platform::com::testing
