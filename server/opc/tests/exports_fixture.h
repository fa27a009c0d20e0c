// The exports called in-process, as the host calls them: a server folder of its own for each
// test with Ostrel.INI, the error log in that folder, a host whose message boxes are recorded
// instead of shown, and everything stopped again afterwards.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/testing/temp_dir.h"
#include "serial/tests/pty.h"
#include "server/opc/tests/small_network.h"
#include "server/opc/tests/test_host.h"

namespace opc::testing {

class ExportsTest : public ::testing::Test {
 public:
  static std::vector<std::string> boxes;  // texts of the message boxes shown

 protected:
  void SetUp() override;
  void TearDown() override;

  // Ostrel.INI: the central modem ZFM1 with MODUS and its port (a pty that nobody answers on),
  // the station lines and further sections.
  void WriteIni(const std::string& stations, const std::string& more = "", int modus = 1);
  // Starts the error log in the server folder. markers: file name -> contents ("DEBUG" -> "17").
  void StartLog(const std::vector<std::pair<std::string, std::string>>& markers = {{"SAVE_ERR", ""}});
  // The logged texts, without stamp and separators.
  std::vector<std::string> LogTexts() const;
  // The logged texts from the first one that begins with prefix.
  std::vector<std::string> LogFrom(const std::string& prefix) const;

  // Initialise and build the namespace; the server is not started.
  void Load();

  platform::testing::TempDir dir;
  serial::testing::Pty pty;  // the driver thread's serial line
  TestHost host{LinkedExports()};

 private:
  static Exports LinkedExports();
  bool log_started_ = false;
};


}  // namespace opc::testing
