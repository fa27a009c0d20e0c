// A configurator installation of its own for a test: a program folder holding the example
// files (device types, start texts, language file) and the core started on it with a message
// service that records every box.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "configurator/core.h"
#include "configurator/tests/fixture.h"
#include "platform/testing/recording_messages.h"
#include "platform/testing/temp_dir.h"

namespace configurator::testing {

inline std::string ExampleFile(const std::string& name) { return ReadFile(std::string(QAR_CONFIGURATOR_FILES) + name); }

class Installation {
 public:
  Installation() {
    for (const char* f : {"Brindel.FML", "Brindel.TXT", "D.spr"}) dir.Write(f, ExampleFile(f));
  }
  // The core as the program starts it from dir/Brindel; each test has a guard of its own.
  std::unique_ptr<TConfiguratorCore> StartCore() {
    return TConfiguratorCore::Start(dir / "Brindel", boxes, TCollation("de_DE.UTF-8"), "test-" + dir.Path());
  }

  platform::testing::TempDir dir;
  platform::testing::RecordingMessages boxes;
};

}  // namespace configurator::testing
