// ostrel-host installed in a server folder, serving the simulator's network to clients that
// find it by ProgID, as a process-control program would.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "host/tests/installed_host.h"
#include "platform/com/class_registry.h"
#include "platform/com/data_object.h"
#include "platform/com/enum.h"
#include "platform/com/opc_common.h"
#include "platform/com/opc_da.h"
#include "platform/com/opc_stream.h"
#include "platform/com/rpc/client.h"
#include "platform/com/testing/recording_sink.h"
#include "platform/registry.h"
#include "platform/testing/scoped_env.h"
#include "tools/testing/simulator_process.h"

namespace host::testing {
namespace {

using namespace std::chrono_literals;
namespace com = platform::com;
using com::testing::RecordingSink;
using radiosim::testing::SimulatorProcess;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A client of the host on the test's own loop.
struct Client {
  com::Apartment apartment;
  std::shared_ptr<com::IUnknown> unk;
  std::shared_ptr<RecordingSink> sink = std::make_shared<RecordingSink>();

  com::HRESULT Connect(std::string* error) {
    com::rpc::ActivationOptions o;
    o.apartment = &apartment;
    o.start_timeout_ms = 30000;
    return com::rpc::CreateServerByName(kOstrelProgId, o, &unk, error);
  }
  template <class I>
  std::shared_ptr<I> As(const std::shared_ptr<com::IUnknown>& obj) const {
    return com::Query<I>(obj);
  }
  void Advise(const std::shared_ptr<com::IUnknown>& obj, const com::IID& iid) {
    std::shared_ptr<com::IConnectionPoint> point;
    ASSERT_EQ(As<com::IConnectionPointContainer>(obj)->FindConnectionPoint(iid, &point), com::S_OK);
    com::DWORD cookie;
    ASSERT_EQ(point->Advise(std::static_pointer_cast<com::IOPCDataCallback>(sink), &cookie), com::S_OK);
  }
  // Runs the loop until an event of the kind satisfies pred (bounded by the radio network's pace).
  bool Await(const std::string& kind, const std::function<bool(const com::testing::Recorded&)>& pred = {}) {
    return apartment.RunUntil(
        [&] {
          return std::any_of(sink->events.begin(), sink->events.end(),
                             [&](const auto& e) { return e.kind == kind && (!pred || pred(e)); });
        },
        30s);
  }
  std::vector<std::string> Browse(com::OPCBROWSETYPE type, const std::string& filter, com::DWORD rights = 0) {
    std::shared_ptr<com::IEnumString> names;
    auto browser = As<com::IOPCBrowseServerAddressSpace>(unk);
    EXPECT_TRUE(com::SUCCEEDED(browser->BrowseOPCItemIDs(type, filter, com::VT_EMPTY, rights, &names)));
    std::vector<std::string> out;
    std::string name;
    while (names && names->Next(1, &name, nullptr) == com::S_OK) out.push_back(name);
    return out;
  }
};

// The value an item had in some data change, with its quality.
bool Reports(const com::testing::Recorded& e, com::OPCHANDLE client, const std::optional<com::Variant>& value,
             com::WORD quality) {
  for (size_t i = 0; i < e.handles.size(); ++i)
    if (e.handles[i] == client && e.qualities[i] == quality && (!value || e.values[i] == *value)) return true;
  return false;
}

// The socket inodes a process holds that listen on TCP (IPv4 or IPv6).
std::vector<std::string> TcpListeners(uint32_t pid) {
  std::set<std::string> inodes;
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  for (const auto& e :
       std::filesystem::directory_iterator(fds, std::filesystem::directory_options::skip_permission_denied)) {
    std::error_code ec;
    const std::string target = std::filesystem::read_symlink(e.path(), ec).string();
    if (!ec && target.rfind("socket:[", 0) == 0) inodes.insert(target.substr(8, target.size() - 9));
  }
  std::vector<std::string> out;
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // the heading
    while (std::getline(in, line)) {
      std::istringstream f(line);
      std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
      f >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
      if (state == "0A" && inodes.count(inode)) out.push_back(local);  // 0A: LISTEN
    }
  }
  return out;
}

TEST(OstrelHost, RegistrationSwitchesInAnyCaseWriteAndRemoveTheServersKeys) {
  InstalledHost in;
  platform::Registry reg;
  const std::string cls = com::ClassKey(kOstrelClsid);
  for (const char* on : {"-REGSERVER", "-RegServer"}) {
    SCOPED_TRACE(on);
    Output o = in.Run({on});
    ASSERT_EQ(o.exit_code, 0) << o.err;
    EXPECT_EQ(reg.String(cls + "\\LocalServer32"), in.Program());
    EXPECT_EQ(reg.String(cls), "Qar OPC DA Server for Radiomodems");
    for (const char* prog_id : {"Qar.OPC_DA_Server_RM", "Qar.OPC_DA_Server_RM.1"}) {
      com::CLSID clsid;
      EXPECT_EQ(com::CLSIDFromProgID(prog_id, &clsid), com::S_OK) << prog_id;
      EXPECT_EQ(clsid, kOstrelClsid);
      EXPECT_TRUE(reg.KeyExists(std::string(platform::kClassesRoot) + "\\" + prog_id + "\\OPC")) << prog_id;
    }
    EXPECT_EQ(reg.String(std::string(platform::kClassesRoot) + "\\Qar.OPC_DA_Server_RM\\CurVer"),
              "Qar.OPC_DA_Server_RM.1");
    for (const com::CATID& c : {com::CATID_OPCDAServer10, com::CATID_OPCDAServer20})
      EXPECT_TRUE(reg.KeyExists(cls + "\\Implemented Categories\\" + com::GuidToString(c)));
    // Registering reads no configuration: there is none in this folder.
    EXPECT_FALSE(Contains(o.err, "could not be started"));
  }
  Output o = in.Run({"-UnRegServer"});
  ASSERT_EQ(o.exit_code, 0) << o.err;
  EXPECT_FALSE(reg.KeyExists(cls));
  com::CLSID clsid;
  EXPECT_EQ(com::CLSIDFromProgID("Qar.OPC_DA_Server_RM", &clsid), com::CO_E_CLASSSTRING);
}

// A client finds the server by its ProgID (activation starts the host), browses the network,
// adds items, gets live values, writes an output and sees it confirmed by the station, and is
// told when the host stops.
TEST(OstrelHost, ClientByProgIdReadsWritesAndIsToldWhenTheHostStops) {
  InstalledHost in;
  in.WriteIni();
  in.Write("SAVE_ERR", "");
  ASSERT_EQ(in.Run({"-REGSERVER"}).exit_code, 0);
  SimulatorProcess sim(in.Folder(), {"--radio-delay", "0"});
  ASSERT_TRUE(sim.Start()) << sim.Error();

  Client c;
  std::string error;
  ASSERT_EQ(c.Connect(&error), com::S_OK) << error;
  const std::optional<uint32_t> pid = in.RunningPid();
  ASSERT_TRUE(pid);
  // Local only: a socket for the user alone, in a folder for the user alone, and no TCP port.
  const auto running = com::FindRunningServer(kOstrelClsid);
  ASSERT_TRUE(running);
  const std::filesystem::path socket = running->endpoint.substr(std::string("unix:").size());
  EXPECT_EQ(std::filesystem::status(socket).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(std::filesystem::status(socket.parent_path()).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all);
  EXPECT_TRUE(TcpListeners(*pid).empty());

  EXPECT_EQ(c.Browse(com::OPC_BRANCH, ""), std::vector<std::string>{"ZFM1"});
  auto browser = c.As<com::IOPCBrowseServerAddressSpace>(c.unk);
  ASSERT_EQ(browser->ChangeBrowsePosition(com::OPC_BROWSE_DOWN, "ZFM1"), com::S_OK);
  EXPECT_EQ(c.Browse(com::OPC_BRANCH, ""), (std::vector<std::string>{"Pumpe", "Turm"}));
  ASSERT_EQ(browser->ChangeBrowsePosition(com::OPC_BROWSE_DOWN, "Pumpe"), com::S_OK);
  EXPECT_EQ(c.Browse(com::OPC_LEAF, "A[0-2]"), (std::vector<std::string>{"A0", "A1", "A2"}));
  std::string id;
  ASSERT_EQ(browser->GetItemID("Druck", &id), com::S_OK);
  EXPECT_EQ(id, "ZFM1.Pumpe.Druck");

  c.Advise(c.unk, com::IID_IOPCShutdown);
  auto server = c.As<com::IOPCServer>(c.unk);
  com::OPCHANDLE group_handle;
  com::DWORD rate;
  std::shared_ptr<com::IUnknown> group;
  ASSERT_EQ(server->AddGroup("Pumpe", com::TRUE, 200, 1, nullptr, nullptr, 0, &group_handle, &rate,
                             com::IID_IOPCItemMgt, &group),
            com::S_OK);
  std::vector<com::OPCITEMDEF> defs(3);
  defs[0].szItemID = "ZFM1.Pumpe.Druck", defs[0].hClient = 1;
  defs[1].szItemID = "ZFM1.Pumpe.A3", defs[1].hClient = 2;
  defs[2].szItemID = "ZFM1.Pumpe.Nichts", defs[2].hClient = 3;
  std::vector<com::OPCITEMRESULT> results;
  std::vector<com::HRESULT> errors;
  ASSERT_EQ(c.As<com::IOPCItemMgt>(group)->AddItems(3, defs.data(), &results, &errors), com::S_FALSE);
  EXPECT_EQ(errors, (std::vector<com::HRESULT>{com::S_OK, com::S_OK, com::OPC_E_UNKNOWNITEMID}));
  EXPECT_EQ(results[0].vtCanonicalDataType, com::VT_R8);
  EXPECT_EQ(results[1].dwAccessRights, 3u);

  c.Advise(group, com::IID_IOPCDataCallback);
  ASSERT_TRUE(c.Await("data", [](const auto& e) { return Reports(e, 1, std::nullopt, com::OPC_QUALITY_GOOD); }))
      << "no good value of the pressure";

  const com::Variant on = com::Variant::I4(1);
  com::DWORD cancel;
  ASSERT_EQ(c.As<com::IOPCAsyncIO2>(group)->Write(1, &results[1].hServer, &on, 42, &cancel, &errors), com::S_OK);
  ASSERT_TRUE(c.Await(
      "write", [](const auto& e) { return e.transaction == 42 && e.errors == std::vector<com::HRESULT>{com::S_OK}; }));
  ASSERT_TRUE(c.Await("data", [&](const auto& e) { return Reports(e, 2, on, com::OPC_QUALITY_GOOD); }))
      << "the station never confirmed the output";
  const std::vector<int> outputs = sim.Registers("Pumpe", 2);
  ASSERT_FALSE(outputs.empty());
  EXPECT_EQ(outputs[0] & 8, 8);

  kill(pid_t(*pid), SIGTERM);
  ASSERT_TRUE(c.Await("shutdown"));
  EXPECT_TRUE(AwaitExit(*pid));
  com::OPCSERVERSTATUS status;
  EXPECT_EQ(server->GetStatus(&status), com::RPC_E_DISCONNECTED);
  EXPECT_FALSE(in.RunningPid());
  // The library was stopped and unloaded: its log closes with the stop and end lines.
  const std::string log = in.Read("Problem2.TXT");
  EXPECT_TRUE(Contains(log, "SOXpSStop: Free FML (inkl. aller FuMo) OK")) << log;
  EXPECT_LT(log.find("SOXpSStop: Free FML"), log.rfind("[Ende PC-Programm"));
}

TEST(OstrelHost, OpcDa10OnlyHostServesItsClientsByStreams) {
  InstalledHost in;
  in.WriteIni();
  in.Write("DEMO", "");  // no line work needed: the first full callback is the point
  ASSERT_EQ(in.Run({"-REGSERVER"}).exit_code, 0);
  ASSERT_TRUE(in.Spawn({"--da10-only"}));
  Client c;
  std::string error;
  ASSERT_EQ(c.Connect(&error), com::S_OK) << error;
  EXPECT_FALSE(c.As<com::IConnectionPointContainer>(c.unk));
  com::OPCHANDLE handle;
  com::DWORD rate;
  std::shared_ptr<com::IUnknown> group;
  ASSERT_EQ(c.As<com::IOPCServer>(c.unk)->AddGroup("", com::TRUE, 100, 7, nullptr, nullptr, 0, &handle, &rate,
                                                   com::IID_IDataObject, &group),
            com::S_OK);
  EXPECT_FALSE(c.As<com::IConnectionPointContainer>(group));
  com::OPCITEMDEF def;
  def.szItemID = "ZFM1.Turm.Temp";
  def.hClient = 5;
  std::vector<com::OPCITEMRESULT> results;
  std::vector<com::HRESULT> errors;
  ASSERT_EQ(c.As<com::IOPCItemMgt>(group)->AddItems(1, &def, &results, &errors), com::S_OK);
  com::FORMATETC f;
  f.cfFormat = com::RegisterClipboardFormat(com::kOpcStmFormatDataTime);
  com::DWORD connection;
  ASSERT_EQ(c.As<com::IDataObject>(group)->DAdvise(&f, com::ADVF_PRIMEFIRST, c.sink, &connection), com::S_OK);
  ASSERT_TRUE(c.Await("stream"));
  const auto& e =
      *std::find_if(c.sink->events.begin(), c.sink->events.end(), [](const auto& r) { return r.kind == "stream"; });
  com::OpcStreamHeader header;
  std::vector<com::OpcStreamItem> items;
  ASSERT_TRUE(com::ParseOpcDataStream(e.block, true, &header, &items));
  EXPECT_EQ(header.hClientGroup, 7u);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].hClient, 5u);
  EXPECT_EQ(items[0].wQuality, com::OPC_QUALITY_NOT_CONNECTED);  // never polled without the line
  EXPECT_EQ(in.Terminate(), 0);
}

TEST(OstrelHost, DumpAfterPrintsEveryItemWithItsPropertiesThenStops) {
  InstalledHost in;
  in.WriteIni();
  SimulatorProcess sim(in.Folder(), {"--radio-delay", "0"});
  ASSERT_TRUE(sim.Start()) << sim.Error();
  ASSERT_EQ(in.Run({"-REGSERVER"}).exit_code, 0);
  Output o = in.Run({"--dump-after", "3"});
  ASSERT_EQ(o.exit_code, 0) << o.err;
  const std::vector<std::string> lines = Lines(o.out);
  ASSERT_FALSE(lines.empty());
  const std::regex item(R"(([^\t]+)\t(\d+)\t(\d+)\t([^\t]*)\t(\d+)\t\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})");
  const std::regex property(R"(\t\d+\t[^\t]+\t\d+\t[^\t]*)");
  std::vector<std::string> ids;
  for (const std::string& line : lines) {
    std::smatch m;
    if (std::regex_match(line, m, item)) {
      ids.push_back(m[1]);
    } else {
      EXPECT_TRUE(std::regex_match(line, property)) << line;
    }
  }
  // Namespace order: the central modem's registers, then each station's by group.
  EXPECT_EQ(ids.front(), "ZFM1.RS_STATUS");
  auto at = [&](const std::string& id) { return std::find(ids.begin(), ids.end(), id) - ids.begin(); };
  EXPECT_LT(at("ZFM1.Pumpe.Druck"), at("ZFM1.Pumpe.E0"));
  EXPECT_LT(at("ZFM1.Pumpe.E19"), at("ZFM1.Pumpe.Stell"));
  EXPECT_LT(at("ZFM1.Pumpe.A9"), at("ZFM1.Turm.Temp"));
  EXPECT_LT(at("ZFM1.Turm.Temp"), std::ptrdiff_t(ids.size()));

  auto druck =
      std::find_if(lines.begin(), lines.end(), [](const auto& l) { return l.rfind("ZFM1.Pumpe.Druck\t", 0) == 0; });
  ASSERT_NE(druck, lines.end());
  std::smatch m;
  ASSERT_TRUE(std::regex_match(*druck, m, item));
  EXPECT_EQ(m[2], "5");    // VT_R8: a scaled channel
  EXPECT_EQ(m[3], "1");    // read only
  EXPECT_EQ(m[5], "192");  // the network was polled
  EXPECT_EQ(
      std::vector<std::string>(druck + 1, druck + 6),
      (std::vector<std::string>{"\t5001\tItem Unit\t8\tbar", "\t5002\tItem Faktor\t5\t0.1", "\t5003\tItem Offset\t5\t0",
                                "\t5004\tItem Decimals\t2\t1", "\t5007\tItem Infos\t2\t3"}));
  // Texts of the server's code page come out in UTF-8.
  EXPECT_TRUE(Contains(o.out,
                       "\t5001\tItem Unit\t8\t\xC2\xB0"
                       "C\n"));
  EXPECT_FALSE(in.RunningPid());
}

// The demo's example network as the demo runs it: every station answers, also the one behind
// the relay station.
TEST(OstrelHost, DemoNetworkPollsEveryStation) {
  InstalledHost in;
  std::string ini;
  std::ifstream demo(DEMO_INI, std::ios::binary);
  ini.assign(std::istreambuf_iterator<char>(demo), std::istreambuf_iterator<char>());
  const std::string com1 = "RS232=COM1,";
  ASSERT_NE(ini.find(com1), std::string::npos);
  ini.replace(ini.find(com1), com1.size(), "RS232=" + SimulatorProcess::DefaultPortPath(in.Folder()) + ",");
  in.Write("Ostrel.INI", ini);
  SimulatorProcess sim(in.Folder(), {"--radio-delay", "0"});
  ASSERT_TRUE(sim.Start()) << sim.Error();
  ASSERT_EQ(in.Run({"-REGSERVER"}).exit_code, 0);
  Output o = in.Run({"--dump-after", "3"});
  ASSERT_EQ(o.exit_code, 0) << o.err;
  for (const char* id :
       {"Zentrale.Brunnen.Pegel", "Zentrale.Pumpwerk.Druck", "Zentrale.Hochbeh\xC3\xA4lter.F\xC3\xBCllstand"}) {
    SCOPED_TRACE(id);
    const std::regex good(std::string("(^|\n)") + id + "\t[35]\t1\t[-0-9.]+\t192\t");
    EXPECT_TRUE(std::regex_search(o.out, good)) << o.out;
  }
  EXPECT_FALSE(Contains(o.out, "Relais Berg"));  // a relay station is not polled
}

// How often the server library was loaded in the folder: each load starts its log anew.
size_t LibraryLoads(const InstalledHost& in) {
  const std::string log = in.Read("Problem2.TXT");
  size_t n = 0;
  for (size_t at = 0; (at = log.find("[Neustart ", at)) != std::string::npos; ++at) ++n;
  return n;
}

TEST(OstrelHost, HostThatCannotServeSaysWhyAndEnds) {
  enum Running { kNone, kSameUser, kOwnRunFolder };
  struct Row {
    const char* name;
    std::vector<std::string> args;
    bool ini, library;
    Running running;
    int exit_code;
    const char* says;
  } rows[] = {
      // The configuration's own error, not the refused namespace build that followed it.
      {"no configuration", {}, false, true, kNone, 1,
       "OPC-Server could not be started!\nErr= -$0D\nMsg= FML: configfile not found!\n(code=-13)"},
      {"no server library beside it", {}, true, false, kNone, 1, "cannot load the server library"},
      {"unknown argument", {"--fast"}, true, true, kNone, 2, "unknown argument \"--fast\""},
      {"another host serves the folder", {}, true, true, kSameUser, 1, "another host already serves the server folder"},
      // As another user's host would: its socket, lock and registry record elsewhere.
      {"another host serves the folder, from a socket folder of its own", {"--dump-after", "0"}, true, true,
       kOwnRunFolder, 1, "another host already serves the server folder"},
      {"registration while a host serves the folder", {"-REGSERVER"}, true, true, kSameUser, 1,
       "another host already serves the server folder"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    InstalledHost in;
    if (r.ini) in.WriteIni();
    in.Write("DEMO", "");
    in.Write("SAVE_ERR", "");  // the log is kept in the folder
    ASSERT_EQ(in.Run({"-REGSERVER"}).exit_code, 0);
    if (r.running != kNone) {
      ASSERT_TRUE(in.Spawn({}));
      Client first;
      std::string error;
      ASSERT_EQ(first.Connect(&error), com::S_OK) << error;  // it serves now
    }
    if (!r.library) std::filesystem::remove(in.Folder() + "libOstrel.so");
    const size_t loads = LibraryLoads(in);
    ASSERT_GT(loads, 0u);
    std::optional<platform::testing::TempDir> own_run;
    std::string saved_run = getenv("XDG_RUNTIME_DIR");
    if (r.running == kOwnRunFolder) setenv("XDG_RUNTIME_DIR", own_run.emplace().Path().c_str(), 1);
    Output o = in.Run(r.args);
    setenv("XDG_RUNTIME_DIR", saved_run.c_str(), 1);
    EXPECT_EQ(o.exit_code, r.exit_code);
    EXPECT_TRUE(Contains(o.err, r.says)) << o.err;
    if (r.running != kNone) {
      EXPECT_EQ(LibraryLoads(in), loads) << "the second host loaded the library of a served folder";
      EXPECT_EQ(in.Terminate(), 0);
    }
  }
}

// Names that a hand-edited Ostrel.INI holds twice: the host does not serve, and says which name
// it is and where.
TEST(OstrelHost, NameUsedTwiceIsRefusedAndNamed) {
  struct Row {
    const char* name;
    const char* stations;
    const char* channels;
    const char* says;
  } rows[] = {
      {"two stations", "TYP=Pumpe,RM3,1,12\r\nTYP=Pumpe,RM3,1,13\r\n", "",
       "Msg= Name: Error at createNode ZFM parameter!\n(code=-24)\n"
       "Name \"Pumpe\" used twice: station 1 [ADR012] and station 2 [ADR013]\n"},
      {"two channels of a station", "TYP=Pumpe,RM3,1,12\r\n",
       "[ADR012]\r\nKANAL=AE,Druck,bar,1,0,0\r\nKANAL=AA,Druck,bar,1,0,0\r\n\r\n",
       "Msg= NS: Error creating Item!\n(code=-20)\nName \"Druck\" used twice in station \"Pumpe\" [ADR012]\n"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    InstalledHost in;
    in.Write("Ostrel.INI", std::string("[Zentralfunkmodem]\r\nTyp=ZFM1,ZT\r\nMODUS=1\r\n\r\n[Unterstationen]\r\n") +
                               r.stations + "\r\n" + r.channels);
    in.Write("DEMO", "");
    ASSERT_EQ(in.Run({"-REGSERVER"}).exit_code, 0);
    Output o = in.Run({});
    EXPECT_EQ(o.exit_code, 1);
    EXPECT_TRUE(Contains(o.err, r.says)) << o.err;
  }
}

TEST(OstrelHost, ActivationOfAHostThatCannotStartFailsClearly) {
  InstalledHost in;  // no Ostrel.INI
  ASSERT_EQ(in.Run({"-REGSERVER"}).exit_code, 0);
  Client c;
  std::string error;
  EXPECT_EQ(c.Connect(&error), com::CO_E_SERVER_EXEC_FAILURE);
  EXPECT_TRUE(Contains(error, "ended with exit code 1 before it served")) << error;
}


// A FIFO or a folder where the server reads a file reads as a file that cannot be read: the host
// does not wait on it, and the log says what stands there.
TEST(OstrelHost, FifoOrFolderInPlaceOfAFileEndsTheStartAtOnce) {
  struct Row {
    const char* name;
    const char* file;    // what is no file
    bool fifo;           // else a folder
    const char* logged;  // after the folder's path
  } rows[] = {
      {"Ostrel.INI a FIFO", "Ostrel.INI", true, "Ostrel.INI is a FIFO, not read<"},
      {"Ostrel.INI a folder", "Ostrel.INI", false, "Ostrel.INI is a folder, not read<"},
      {"language file a FIFO", "Deutsch.txt", true, "Deutsch.txt is a FIFO, not read<"},
      {"language file a folder", "Deutsch.txt", false, "Deutsch.txt is a folder, not read<"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    InstalledHost in;
    in.Write("SAVE_ERR", "");
    in.Write("CONFIG.CFG", "[ALLGEMEIN]\r\nSPRACHE=Deutsch.txt\r\n");
    const std::string path = in.Folder() + r.file;
    if (r.fifo)
      ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    else
      std::filesystem::create_directory(path);
    ASSERT_EQ(in.Run({"-REGSERVER"}).exit_code, 0);
    Output o = in.Run({"--dump-after", "1"});
    EXPECT_EQ(o.exit_code, 1);
    // The built-in text: the language file, if there is one, is none.
    EXPECT_TRUE(
        Contains(o.err, "OPC-Server could not be started!\nErr= -$0D\nMsg= FML: configfile not found!\n(code=-13)"))
        << o.err;
    const std::string log = in.Read("Problem2.TXT");
    EXPECT_TRUE(Contains(log, in.Folder() + r.logged)) << log;
    EXPECT_FALSE(in.RunningPid());
  }
}

using platform::testing::ScopedEnv;

constexpr const char kFailure[] = "OPC-Server could not be started!\rErr= -$0D\rMsg= FML: configfile not found!";

// A server that cannot start tells its user in a box where there is a display, and on stderr
// where there is none or the box cannot come up there; the host never waits for a box that
// nobody sees.
TEST(OstrelHost, FailureBoxWhereADisplayIsThereElseStderr) {
  enum Box { kConfirmed, kEndsWithoutBox, kMissing, kReal };
  struct Row {
    const char* name;
    const char* display;
    const char* wayland;
    Box box;
    bool shown;  // the box program ran with the message
    bool on_stderr;
  } rows[] = {
      {"no display", nullptr, nullptr, kConfirmed, false, true},
      {"empty DISPLAY", "", nullptr, kConfirmed, false, true},
      {"X display, box confirmed", ":7", nullptr, kConfirmed, true, false},
      {"Wayland display, box confirmed", nullptr, "wayland-7", kConfirmed, true, false},
      {"display, but no box came up", ":7", nullptr, kEndsWithoutBox, true, true},
      {"display, box program missing", ":7", nullptr, kMissing, false, true},
      {"display that cannot be reached", ":65000", nullptr, kReal, false, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    InstalledHost in;  // no Ostrel.INI: the start fails with -13
    const std::string program = in.Folder() + "ostrel-box";
    if (r.box == kMissing) std::filesystem::remove(program);
    if (r.box == kConfirmed || r.box == kEndsWithoutBox) {
      // Stands in for the box: records what it was asked to show and answers as if confirmed,
      // or as a box program that could not show anything.
      in.Write("ostrel-box", std::string("#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.args\"\nexit ") +
                                 (r.box == kConfirmed ? "0" : "1") + "\n");
      std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    }
    ScopedEnv display("DISPLAY", r.display), wayland("WAYLAND_DISPLAY", r.wayland), qpa("QT_QPA_PLATFORM", nullptr);
    Output o = in.Run({});
    EXPECT_EQ(o.exit_code, 1);
    EXPECT_EQ(Contains(o.err, "OPC-Server could not be started!\nErr= -$0D\nMsg= FML: configfile not found!"),
              r.on_stderr)
        << o.err;
    EXPECT_TRUE(Contains(o.err, "the server did not start")) << o.err;
    if (r.shown) {
      EXPECT_EQ(in.Read("ostrel-box.args").rfind(std::string("Error\n") + kFailure, 0), 0u)
          << in.Read("ostrel-box.args");
    } else {
      EXPECT_FALSE(std::filesystem::exists(program + ".args"));
    }
  }
}

// The pids of the processes that run program.
std::vector<pid_t> ProcessesOf(const std::string& program) {
  std::vector<pid_t> out;
  for (const auto& e : std::filesystem::directory_iterator("/proc")) {
    const std::string name = e.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code ec;
    if (std::filesystem::read_symlink(e.path() / "exe", ec).string() == program) out.push_back(pid_t(std::stoi(name)));
  }
  return out;
}

std::vector<std::string> ArgumentsOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
  std::vector<std::string> out;
  for (std::string arg; std::getline(in, arg, '\0');) out.push_back(arg);
  return out;
}

pid_t ParentOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("PPid:", 0) == 0) return pid_t(std::stoi(line.substr(5)));
  return -1;
}

// The box is modal: the host waits for it, the real box program on the offscreen platform here.
// A stop request while it waits ends the box and the host, and the message still reaches stderr.
TEST(OstrelHost, TheHostWaitsForItsBoxUntilItIsToldToStop) {
  InstalledHost in;  // no Ostrel.INI
  const std::string program = in.Folder() + "ostrel-box";
  ScopedEnv display("DISPLAY", ":7"), qpa("QT_QPA_PLATFORM", "offscreen");
  Output o;
  std::thread run([&] { o = in.Run({}); });
  // The box program once it runs with its arguments (a process that has just started it may
  // show none yet), and the host that waits for it.
  std::vector<std::string> args;
  pid_t host = -1;
  std::string host_program;
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (args.empty() && std::chrono::steady_clock::now() < deadline) {
    for (pid_t box : ProcessesOf(program)) {
      args = ArgumentsOf(box);
      host = ParentOf(box);
    }
    if (args.empty()) std::this_thread::sleep_for(10ms);
  }
  if (host > 1) {
    const std::vector<std::string> host_args = ArgumentsOf(host);
    if (!host_args.empty()) host_program = host_args[0];
    kill(host, SIGTERM);
  } else {
    for (pid_t box : ProcessesOf(program)) kill(box, SIGKILL);  // lets the host go on to its end
  }
  run.join();
  ASSERT_EQ(args.size(), 3u);
  EXPECT_EQ(args[1], "Error");
  EXPECT_EQ(args[2].rfind(kFailure, 0), 0u) << args[2];
  EXPECT_EQ(host_program, in.Program());  // the host was there, waiting
  EXPECT_EQ(o.exit_code, 1);
  EXPECT_TRUE(Contains(o.err, "OPC-Server could not be started!\nErr= -$0D")) << o.err;
  EXPECT_TRUE(ProcessesOf(program).empty());
}

// The soft and hard limits of open files of a process, from /proc.
std::pair<std::string, std::string> FileLimits(uint32_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/limits");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("Max open files", 0) != 0) continue;
    std::istringstream f(line.substr(std::string("Max open files").size()));
    std::string soft, hard;
    f >> soft >> hard;
    return {soft, hard};
  }
  return {};
}

// A registry of its own, set before the host is installed: which host runs must not depend on
// hosts that other tests record.
struct OwnRegistry {
  platform::testing::TempDir registry;
  platform::testing::ScopedEnv registry_file{"QAR_REGISTRY", (registry / "registry").c_str()};
};

struct HostOfItsOwnRegistry : OwnRegistry, InstalledHost {
  // The small network in DEMO mode, registered.
  bool RegisterDemo() {
    WriteIni();
    Write("DEMO", "");
    return Run({"-REGSERVER"}).exit_code == 0;
  }
};

// A host started with the usual soft limit of open files (activation passes on the client's)
// takes the hard one; and once its descriptors ran out, under a limit it cannot raise, it
// serves new clients again as soon as they are free, and stays recorded as the one running.
TEST(OstrelHost, AfterItsFileDescriptorsRanOutTheHostServesAgainOnceTheyAreFree) {
  HostOfItsOwnRegistry in;
  ASSERT_TRUE(in.RegisterDemo());
  rlimit own{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &own), 0);
  ASSERT_GT(own.rlim_max, 256u);
  rlimit started = own;
  started.rlim_cur = 200;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &started), 0);
  const bool spawned = in.Spawn({});
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &own), 0);
  ASSERT_TRUE(spawned);
  const uint32_t pid = *in.RunningPid();
  const auto [soft, hard] = FileLimits(pid);
  EXPECT_EQ(soft, hard);
  EXPECT_NE(soft, "200");

  const rlimit low{128, 128};
  ASSERT_EQ(prlimit(pid_t(pid), RLIMIT_NOFILE, &low, nullptr), 0);
  const std::string path = com::FindRunningServer(kOstrelClsid)->endpoint.substr(std::string("unix:").size());
  std::vector<int> idle = IdleConnections(path, 150);
  AwaitAnswered(idle);
  for (int fd : idle)
    if (fd >= 0) close(fd);

  Client c;
  std::string error;
  com::HRESULT hr = com::E_FAIL;
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (com::FAILED(hr = c.Connect(&error)) && std::chrono::steady_clock::now() < deadline) {
  }
  ASSERT_EQ(hr, com::S_OK) << error;
  com::OPCSERVERSTATUS status;
  EXPECT_EQ(c.As<com::IOPCServer>(c.unk)->GetStatus(&status), com::S_OK);
  EXPECT_EQ(in.RunningPid(), pid);
  EXPECT_EQ(in.Terminate(), 0);
}

// A copy of the descriptor of process pid that listens on the Unix socket at path; -1 if none.
int ListeningSocketOf(uint32_t pid, const std::string& path) {
  std::string inode;
  std::ifstream table("/proc/net/unix");
  std::string line;
  std::getline(table, line);  // the heading
  while (std::getline(table, line)) {
    std::istringstream f(line);
    std::string slot, refs, protocol, flags, type, state, node, name;
    f >> slot >> refs >> protocol >> flags >> type >> state >> node >> name;
    if (name == path && flags == "00010000") inode = node;
  }
  if (inode.empty()) return -1;
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  for (const auto& e : std::filesystem::directory_iterator(fds)) {
    std::error_code ec;
    if (std::filesystem::read_symlink(e.path(), ec).string() != "socket:[" + inode + "]") continue;
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0) return -1;
    const int fd = static_cast<int>(syscall(SYS_pidfd_getfd, pidfd, std::stoi(e.path().filename().string()), 0));
    close(pidfd);
    return fd;
  }
  return -1;
}

// A host whose socket takes no connections any more leaves the registry and ends, so that the
// next client's activation starts one that serves.
TEST(OstrelHost, AHostWhoseSocketTakesNoConnectionsEndsAndIsNoLongerRecorded) {
  HostOfItsOwnRegistry in;
  ASSERT_TRUE(in.RegisterDemo());
  ASSERT_TRUE(in.Spawn({}));
  const uint32_t pid = *in.RunningPid();
  const std::string path = com::FindRunningServer(kOstrelClsid)->endpoint.substr(std::string("unix:").size());
  const int fd = ListeningSocketOf(pid, path);
  if (fd < 0) GTEST_SKIP() << "cannot take the host's socket: " << std::strerror(errno);
  ASSERT_EQ(shutdown(fd, SHUT_RDWR), 0);
  close(fd);
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (in.RunningPid() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
  EXPECT_FALSE(in.RunningPid());
  EXPECT_EQ(in.Terminate(), 1);
}

std::string Shell(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    pclose(p);
  }
  return out;
}

TEST(OstrelHost, InstallationIsOneFolderThatNeedsNothingOfTheBuild) {
  platform::testing::TempDir prefix;
  const std::string folder = prefix / "server folder";  // a blank in the path on purpose
  ASSERT_EQ(std::system(("'" CMAKE_COMMAND "' --install '" BUILD_DIR "' --prefix '" + folder + "' >/dev/null").c_str()),
            0);
  InstalledHost in(folder, false);
  // The host and the library find what they load beside them.
  const std::string libs = Shell("ldd '" + in.Program() + "' '" + in.Folder() + "libOstrel.so'");
  EXPECT_TRUE(Contains(libs, "libqar_toolkit.so => " + in.Folder() + "libqar_toolkit.so")) << libs;
  EXPECT_FALSE(Contains(libs, "not found")) << libs;
  EXPECT_FALSE(Contains(libs, BUILD_DIR)) << libs;
  // Qt only in the box program beside it, which the host starts when there is a display.
  EXPECT_FALSE(Contains(libs, "libQt6")) << libs;
  EXPECT_TRUE(Contains(Shell("ldd '" + in.Folder() + "ostrel-box'"), "libQt6Widgets"));

  in.WriteIni();
  in.Write("DEMO", "");
  ASSERT_EQ(in.Run({"-REGSERVER"}).exit_code, 0);
  // The library finds its folder (and its Ostrel.INI) through the registered path.
  Output o = in.Run({"--dump-after", "0"});
  ASSERT_EQ(o.exit_code, 0) << o.err;
  EXPECT_TRUE(Contains(o.out, "ZFM1.Pumpe.Druck\t5\t1\t0\t8\t")) << o.out;
}

}  // namespace
}  // namespace host::testing
