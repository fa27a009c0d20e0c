// A server folder of its own for each test: ServerDir points at it, the options start from
// their initial values and the station list is freed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/testing/temp_dir.h"
#include "server/driver/config_loader.h"
#include "server/driver/fml.h"
#include "server/driver/options.h"
#include "server/driver/utilities.h"
#include "support/error_log.h"

namespace driver::testing {

class ModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ServerDir = dir.Path();
    ResetOptions();
    FML.reset();
    FatalErrorCode = 0;
  }
  void TearDown() override {
    FML.reset();
    if (log_started_) support::StopErrorLog();
    log_started_ = false;
    ServerDir.clear();
    ResetOptions();
  }

  // Ostrel.INI with MODUS, the station lines and any further sections, lines ended by CR LF.
  void WriteIni(const std::string& stations, const std::string& more = "", const std::string& zfm = "MODUS=1\r\n") {
    dir.Write("Ostrel.INI", "[Zentralfunkmodem]\r\nTyp=ZFM1,ZT\r\n" + zfm + "\r\n[Unterstationen]\r\n" + stations +
                                "\r\n" + more);
  }
  // Starts the error log in the test folder with the given debug flag word (-1: log on only).
  void StartLog(int32_t flag) {
    if (flag < 0)
      dir.Write("SAVE_ERR", "");
    else
      dir.Write("DEBUG", std::to_string(flag));
    StartQuietLog();
  }
  // Starts the error log in the test folder with no marker file written: logging is off but for
  // the forced lines. A derived TearDown that stops its threads first keeps them off a stopped log.
  void StartQuietLog() {
    support::StartErrorLog(support::LogBuild::Server, dir.Path());
    log_started_ = true;
  }
  std::string LogText() const { return dir.Read("Problem2.TXT"); }

  TFuMo& Station(int32_t i) { return FML->Items(i); }

  platform::testing::TempDir dir;

 private:
  bool log_started_ = false;
};

}  // namespace driver::testing
