// Registers a server class in one computer's registry file, as its installation would.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/com/class_registry.h"

namespace host::testing {

inline void RegisterClass(const std::string& registry_file, const platform::com::CLSID& clsid,
                          const std::string& prog_id, const std::string& name,
                          std::vector<platform::com::CATID> categories,
                          const std::string& command = "/nonexistent/server") {
  platform::com::ServerRegistration r;
  r.clsid = clsid;
  r.prog_id = prog_id;
  r.readable_name = name;
  r.command = command;
  r.categories = std::move(categories);
  platform::Registry reg(registry_file);
  ASSERT_TRUE(platform::com::RegisterServer(r, reg));
}

}  // namespace host::testing
