// Loading the server library: what the host says when the file in the server folder is not one.
#include "host/server_library.h"

#include <gtest/gtest.h>

namespace host {
namespace {

TEST(ServerLibraryTest, ALibraryThatCannotServeSaysWhy) {
  struct Row {
    const char* name;
    std::string path;
    const char* says;
  } rows[] = {
      {"no such file", "/nonexistent/libOstrel.so", "cannot load the server library: "},
      // A shared library, but the host services rather than a server.
      {"no server exports", TOOLKIT_LIBRARY, "the server library lacks the export SOXpSInitialize"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::string error;
    EXPECT_EQ(ServerLibrary::Load(r.path, &error), nullptr);
    EXPECT_EQ(error.rfind(r.says, 0), 0u) << error;
  }
}

}  // namespace
}  // namespace host
