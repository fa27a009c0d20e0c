// A port on the in-process fake device, with its log lines collected.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "serial/com_port.h"
#include "serial/fake_backend.h"

namespace serial::testing {

class FakePortTest : public ::testing::Test {
 protected:
  FakePortTest() {
    port.SetLog([this](std::string_view text) { log.emplace_back(text); });
  }
  uint32_t Now() { return dev->VirtualClock().TickMs(); }
  // Reads up to count bytes; the text read.
  std::string ReadText(int32_t count) {
    std::string buffer(size_t(count), '\0');
    buffer.resize(size_t(port.Read(buffer.data(), count)));
    return buffer;
  }

  std::shared_ptr<FakeComBackend> dev = std::make_shared<FakeComBackend>();
  std::vector<std::string> log;  // before the port, whose closing at the end may still log
  TComPort port{dev};
};

}  // namespace serial::testing
