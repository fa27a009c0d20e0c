#include "platform/com/guid.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/com/hresult.h"

namespace platform::com {
namespace {

TEST(GuidTest, TextFormRoundTrips) {
  const std::string text = "{5D2C8E71-0B4F-4A96-9E3D-71C4A2B8F605}";
  auto g = GuidFromString(text);
  ASSERT_TRUE(g);
  EXPECT_EQ(g->Data1, 0x5D2C8E71u);
  EXPECT_EQ(g->Data4[0], 0x9E);
  EXPECT_EQ(GuidToString(*g), text);
  EXPECT_EQ(GuidFromString("{5d2c8e71-0b4f-4a96-9e3d-71c4a2b8f605}"), g);
  EXPECT_EQ(GuidFromBytes(std::string(reinterpret_cast<const char*>(GuidToBytes(*g).data()), 16)), g);
}

TEST(GuidTest, RejectsMalformedText) {
  const char* rows[] = {
      "5D2C8E71-0B4F-4A96-9E3D-71C4A2B8F605",     // no braces
      "{5D2C8E71-0B4F-4A96-9E3D-71C4A2B8F60}",    // one digit short
      "{5D2C8E71-0B4F-4A96-9E3D-71C4A2B8F6051}",  // one digit too many
      "{5D2C8E71 0B4F-4A96-9E3D-71C4A2B8F605}",   // blank for a hyphen
      "{5D2C8E71-0B4F-4A96-9E3D-71C4A2B8F6G5}",   // not hexadecimal
      "{+D2C8E71-0B4F-4A96-9E3D-71C4A2B8F605}",   // sign
      "",
      "Qar.OPC_DA_Server_RM",
  };
  for (const char* row : rows) {
    SCOPED_TRACE(row);
    EXPECT_FALSE(GuidFromString(row));
  }
  EXPECT_FALSE(GuidFromBytes("short"));
}

// Session tokens are GUIDs: a generator whose state a forked process copies (or that another
// process could work out) would hand out tokens someone else can predict.
TEST(GuidTest, NewGuidsDifferInAForkedChild) {
  (void)NewGuid();  // the parent's generator, if it has one, is in use before the fork
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const std::string text = GuidToString(NewGuid());
    _exit(write(pipe_fds[1], text.data(), text.size()) == ssize_t(text.size()) ? 0 : 1);
  }
  close(pipe_fds[1]);
  const GUID mine = NewGuid();
  char buf[64] = {};
  ssize_t n = read(pipe_fds[0], buf, sizeof buf - 1);
  close(pipe_fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_EQ(n, 38);
  EXPECT_NE(GuidToString(mine), std::string(buf, size_t(n)));
  EXPECT_EQ(mine.Data3 >> 12, 4);              // version 4
  EXPECT_EQ(mine.Data4[0] & 0xC0, 0x80);       // variant 1
}

TEST(HResultTest, OpcTextsAndOthers) {
  EXPECT_EQ(OpcErrorText(OPC_E_UNKNOWNITEMID), "The item is no longer available in the server address space.");
  EXPECT_EQ(OpcErrorText(OPC_S_UNSUPPORTEDRATE),
            "The server does not support the requested data rate\r\nbut will use the closest available rate.");
  EXPECT_EQ(OpcErrorText(E_FAIL), "");  // not an OPC code
  EXPECT_NE(HResultText(RPC_E_DISCONNECTED), "");
  EXPECT_EQ(HResultText(MakeHResult(0x80001234)), "");
  EXPECT_EQ(HResultHex(OPC_E_BADTYPE), "0xC0040004");
  EXPECT_TRUE(SUCCEEDED(OPC_S_CLAMP));
  EXPECT_TRUE(FAILED(OPC_E_BADRIGHTS));
}

}  // namespace
}  // namespace platform::com
