// The registration made from the start-up record: what activation and the library read back.
#include "host/registration.h"

#include <gtest/gtest.h>

#include "host/tests/fake_library.h"
#include "platform/com/opc_common.h"
#include "platform/testing/temp_dir.h"

namespace host {
namespace {

namespace com = platform::com;

TEST(RegistrationTest, ActivationFindsTheProgramByEitherProgIdAndItsPathStaysWhole) {
  const platform::toolkit::TServerInitData& record = *testing::FakeLibrary::TheExports().initialize();
  for (const std::string path : {"/opt/qar/ostrel-host", "/opt/Qar Server/ostrel-host"}) {
    SCOPED_TRACE(path);
    platform::testing::TempDir dir;
    platform::Registry reg(dir / "registry");
    com::ServerRegistration r = RegistrationOf(record, path);
    EXPECT_EQ(r.readable_name, "Fake server for the host's tests");
    EXPECT_EQ(r.categories, (std::vector<com::CATID>{com::CATID_OPCDAServer10, com::CATID_OPCDAServer20}));
    ASSERT_TRUE(com::RegisterServer(r, reg));

    for (const char* prog_id : {"Test.Fake_Server.1", "Test.Fake_Server"}) {
      com::CLSID clsid;
      ASSERT_EQ(com::CLSIDFromProgID(prog_id, &clsid, reg), com::S_OK) << prog_id;
      EXPECT_EQ(clsid, record.ClassId);
      EXPECT_TRUE(reg.KeyExists(std::string(platform::kClassesRoot) + "\\" + prog_id + "\\OPC"));
    }
    auto command = com::LocalServerCommand(record.ClassId, reg);
    ASSERT_TRUE(command);
    EXPECT_EQ(com::SplitCommandLine(*command), std::vector<std::string>{path});

    ASSERT_TRUE(com::UnregisterServer(r, reg));
    com::CLSID clsid;
    EXPECT_EQ(com::CLSIDFromProgID("Test.Fake_Server", &clsid, reg), com::CO_E_CLASSSTRING);
    EXPECT_FALSE(com::LocalServerCommand(record.ClassId, reg));
  }
}

}  // namespace
}  // namespace host
