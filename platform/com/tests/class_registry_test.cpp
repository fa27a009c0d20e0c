#include "platform/com/class_registry.h"

#include <gtest/gtest.h>

#include "platform/com/opc_common.h"
#include "platform/testing/temp_dir.h"

namespace platform::com {
namespace {

const CLSID kClsid = *GuidFromString("{5D2C8E71-0B4F-4A96-9E3D-71C4A2B8F605}");

ServerRegistration Ostrel() {
  ServerRegistration r;
  r.clsid = kClsid;
  r.prog_id = "Qar.OPC_DA_Server_RM.1";
  r.version_independent_prog_id = "Qar.OPC_DA_Server_RM";
  r.readable_name = "Qar OPC DA Server for Radiomodems";
  r.command = "\"/opt/qar server/ostrel-host\"";
  r.categories = {CATID_OPCDAServer10, CATID_OPCDAServer20};
  return r;
}

class ClassRegistryTest : public ::testing::Test {
 protected:
  platform::testing::TempDir dir_;
  Registry reg_{dir_ / "registry"};
};

TEST_F(ClassRegistryTest, RegisteredNamesLeadToTheClass) {
  ASSERT_TRUE(RegisterServer(Ostrel(), reg_));
  struct Row {
    const char* name;
    HRESULT hr;
  } rows[] = {
      {"Qar.OPC_DA_Server_RM.1", S_OK},
      {"Qar.OPC_DA_Server_RM", S_OK},
      {"qar.opc_da_server_rm", S_OK},  // keys ignore case
      {"{5D2C8E71-0B4F-4A96-9E3D-71C4A2B8F605}", S_OK},
      {"{5d2c8e71-0b4f-4a96-9e3d-71c4a2b8f605}", S_OK},
      {"{5D2C8E71-0B4F-4A96-9E3D-71C4A2B8F60}", CO_E_CLASSSTRING},
      {"Qar.Unknown", CO_E_CLASSSTRING},
      {"", CO_E_CLASSSTRING},
      {"CLSID\\{5D2C8E71-0B4F-4A96-9E3D-71C4A2B8F605}", CO_E_CLASSSTRING},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    CLSID clsid;
    EXPECT_EQ(CLSIDFromString(row.name, &clsid, reg_), row.hr);
    if (SUCCEEDED(row.hr)) {
      EXPECT_EQ(clsid, kClsid);
    }
  }
  EXPECT_EQ(LocalServerCommand(kClsid, reg_), "\"/opt/qar server/ostrel-host\"");
  std::string prog_id;
  EXPECT_EQ(ProgIDFromCLSID(kClsid, &prog_id, reg_), S_OK);
  EXPECT_EQ(prog_id, "Qar.OPC_DA_Server_RM.1");
  EXPECT_TRUE(reg_.KeyExists("HKEY_CLASSES_ROOT\\Qar.OPC_DA_Server_RM\\OPC"));
  EXPECT_TRUE(reg_.KeyExists(ClassKey(kClsid) + "\\Implemented Categories\\" + GuidToString(CATID_OPCDAServer20)));
}

TEST_F(ClassRegistryTest, VersionIndependentNameFollowsCurVer) {
  ASSERT_TRUE(reg_.SetValue("HKEY_CLASSES_ROOT\\Qar.X\\CurVer", "", std::string("Qar.X.2")));
  ASSERT_TRUE(reg_.SetValue("HKEY_CLASSES_ROOT\\Qar.X.2\\CLSID", "", GuidToString(kClsid)));
  CLSID clsid;
  EXPECT_EQ(CLSIDFromProgID("Qar.X", &clsid, reg_), S_OK);
  EXPECT_EQ(clsid, kClsid);
  // A CurVer that names itself must not loop.
  ASSERT_TRUE(reg_.SetValue("HKEY_CLASSES_ROOT\\Qar.Loop\\CurVer", "", std::string("Qar.Loop")));
  EXPECT_EQ(CLSIDFromProgID("Qar.Loop", &clsid, reg_), CO_E_CLASSSTRING);
}

TEST_F(ClassRegistryTest, UnregisterRemovesOnlyWhatIsStillOurs) {
  ServerRegistration r = Ostrel();
  ASSERT_TRUE(RegisterServer(r, reg_));
  // Another class took the version-independent name over meanwhile.
  const std::string other = "{11111111-2222-3333-4444-555555555555}";
  ASSERT_TRUE(reg_.SetValue("HKEY_CLASSES_ROOT\\Qar.OPC_DA_Server_RM\\CLSID", "", other));
  ASSERT_TRUE(UnregisterServer(r, reg_));
  EXPECT_FALSE(reg_.KeyExists(ClassKey(kClsid)));
  EXPECT_FALSE(reg_.KeyExists("HKEY_CLASSES_ROOT\\Qar.OPC_DA_Server_RM.1"));
  EXPECT_EQ(reg_.String("HKEY_CLASSES_ROOT\\Qar.OPC_DA_Server_RM\\CLSID"), other);
}

TEST_F(ClassRegistryTest, RunningRecordBelongsToItsProcess) {
  EXPECT_FALSE(FindRunningServer(kClsid, reg_));
  ASSERT_TRUE(RecordRunningServer(kClsid, {"unix:/tmp/x.sock", 100}, reg_));
  auto r = FindRunningServer(kClsid, reg_);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->endpoint, "unix:/tmp/x.sock");
  EXPECT_EQ(r->pid, 100u);
  EXPECT_TRUE(ForgetRunningServer(kClsid, 200, reg_));  // a newer server's record stays
  EXPECT_TRUE(FindRunningServer(kClsid, reg_));
  EXPECT_TRUE(ForgetRunningServer(kClsid, 100, reg_));
  EXPECT_FALSE(FindRunningServer(kClsid, reg_));
}

TEST_F(ClassRegistryTest, ANewRecordKeepsNoRemotePortOfTheOldOne) {
  ASSERT_TRUE(RecordRunningServer(kClsid, {"unix:/tmp/x.sock", 100, 40001}, reg_));
  EXPECT_EQ(FindRunningServer(kClsid, reg_)->remote_port, 40001);
  // The server died without its clean-up; the next one takes no calls from other computers.
  ASSERT_TRUE(RecordRunningServer(kClsid, {"unix:/tmp/x.sock", 101}, reg_));
  auto r = FindRunningServer(kClsid, reg_);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->pid, 101u);
  EXPECT_EQ(r->remote_port, 0);
}

TEST(SplitCommandLineTest, QuotesGroupBlanks) {
  struct Row {
    const char* label;
    std::string command;
    std::vector<std::string> args;
  } rows[] = {
      {"plain", "/usr/bin/ostrel-host", {"/usr/bin/ostrel-host"}},
      {"arguments", "/usr/bin/ostrel-host  --da10-only", {"/usr/bin/ostrel-host", "--da10-only"}},
      {"quoted path", "\"/opt/my server/host\" -x", {"/opt/my server/host", "-x"}},
      {"empty quotes", "prog \"\"", {"prog", ""}},
      {"blanks only", "   ", {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    EXPECT_EQ(SplitCommandLine(row.command), row.args);
  }
}

}  // namespace
}  // namespace platform::com
