#include "platform/com/rpc/request_guard.h"

#include <grpc/grpc.h>
#include <grpc/support/log.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace platform::com::rpc {
namespace {

// What a peer sends can make the transport library write a line per connection, and vary the
// text at will: however the texts alternate, each is written once and its repeats counted.
TEST(PeerLinesTest, AlternatingTextsOfPeersAreWrittenOnceEachAndCounted) {
  grpc_init();  // which sets up the library's log
  std::vector<std::string> written;
  const int id = SendPeerLinesTo([&](const std::string& line) { written.push_back(line); });
  // As the library's TLS and HTTP/2 code would write them.
  for (int i = 0; i < 100; ++i) {
    gpr_log("src/core/tsi/ssl_transport_security.cc", 1, GPR_LOG_SEVERITY_ERROR, "Handshake failed: %s",
            i % 2 ? "wrong version" : "no certificate");
    gpr_log("src/core/ext/transport/chttp2/transport/parsing.cc", 1, GPR_LOG_SEVERITY_ERROR, "bad frame %d", i);
  }
  StopPeerLines(id);
  grpc_shutdown();
  const std::vector<std::string> expected = {
      "a peer's connection: Handshake failed: no certificate",
      "a peer's connection: bad frame 0",
      "a peer's connection: Handshake failed: wrong version",
      "a peer's connection: bad frame 1",
  };
  ASSERT_GE(written.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(written.begin(), written.begin() + 4), expected);
  const std::vector<std::string> counts(written.begin() + 4, written.end());
  EXPECT_NE(std::find(counts.begin(), counts.end(),
                      "(\"a peer's connection: Handshake failed: no certificate\" came 49 times more)"),
            counts.end());
  EXPECT_NE(std::find(counts.begin(), counts.end(),
                      "(\"a peer's connection: Handshake failed: wrong version\" came 49 times more)"),
            counts.end());
  // "bad frame" texts differ every time: past the few texts a minute takes, only counted.
  EXPECT_LE(written.size(), 16u + 3u) << "one line each for the first texts, then counts";
  EXPECT_NE(std::find_if(counts.begin(), counts.end(),
                         [](const std::string& l) { return l.find("more such lines of other texts") != l.npos; }),
            counts.end());
}

}  // namespace
}  // namespace platform::com::rpc
