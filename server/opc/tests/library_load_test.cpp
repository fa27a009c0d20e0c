// Loads libOstrel.so into a small host program copied into a temporary folder, as an
// installation would have it, and checks what the library's start-up and shutdown leave there.
#include <gtest/gtest.h>

#include "server/opc/tests/server_folder.h"

namespace {

struct Install : opc::testing::ServerFolder {
  Install() : ServerFolder(LOAD_CHECK) {}
  int Run() const { return ServerFolder::Run({OSTREL_LIBRARY}); }
};

TEST(LibraryLoad, DebugMarkerStartsLogAndTraceInServerFolder) {
  Install in;
  in.Register();
  in.dir.Write("DEBUG", "1\r\n");
  ASSERT_EQ(in.Run(), 0);

  std::string trace = in.dir.Read("QAR_LOG.TXT");
  EXPECT_NE(trace.find(": Start OPC-Server V070226\r\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find(": Stop  OPC-Server V070226\r\n"), std::string::npos) << trace;

  std::string log = in.dir.Read("Problem2.TXT");
  // The log unit starts before the program name is set, so the restart line carries none.
  EXPECT_NE(log.find("  >[Neustart Tarmo-32 PC-Programm , DbgFlag=$01]<\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("  >Pfad: >" + in.host + "<<\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("  >Pfad: >" + in.dir.Path() + "<<\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("  >[Ende PC-Programm Velto_OPC-Server_V070226, RT 0 at 000000]<\r\n"), std::string::npos)
      << log;
  EXPECT_FALSE(in.workdir.Exists("QAR_LOG.TXT"));
}

TEST(LibraryLoad, DebugZeroWritesNothing) {
  Install in;
  in.Register();
  in.dir.Write("debug", "0");  // marker names are matched ignoring case
  ASSERT_EQ(in.Run(), 0);
  EXPECT_FALSE(in.dir.Exists("QAR_LOG.TXT"));
  EXPECT_FALSE(in.dir.Exists("Problem2.TXT"));
}

TEST(LibraryLoad, ExistingTraceFileIsAppendedWithoutDebug) {
  Install in;
  in.Register();
  in.dir.Write("QAR_LOG.TXT", "old\r\n");
  ASSERT_EQ(in.Run(), 0);
  std::string trace = in.dir.Read("QAR_LOG.TXT");
  EXPECT_EQ(trace.rfind("old\r\n", 0), 0u);
  EXPECT_NE(trace.find(": Start OPC-Server V070226\r\n"), std::string::npos);
  EXPECT_NE(trace.find(": Stop  OPC-Server V070226\r\n"), std::string::npos);
}

TEST(LibraryLoad, WithoutRegistryEntryFilesAreRelativeToCurrentDirectory) {
  Install in;
  in.dir.Write("DEBUG", "1");
  ASSERT_EQ(in.Run(), 0);
  EXPECT_TRUE(in.workdir.Exists("QAR_LOG.TXT"));
  EXPECT_FALSE(in.dir.Exists("QAR_LOG.TXT"));
  // The error log stays beside the program, where its markers are.
  EXPECT_TRUE(in.dir.Exists("Problem2.TXT"));
}

}  // namespace
