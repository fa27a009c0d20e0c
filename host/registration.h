// The server's registration, made from the library's start-up record: LocalServer32 names this
// program, whose folder is the server folder.
#pragma once

#include <string>

#include "platform/com/class_registry.h"
#include "platform/toolkit/toolkit_host.h"

namespace host {

// Class id, both ProgIDs, the readable name, the OPC DA 1.0 and 2.0 categories, and the
// program's path as LocalServer32 (in double quotes when it holds a blank).
platform::com::ServerRegistration RegistrationOf(const platform::toolkit::TServerInitData& record,
                                                 const std::string& program_path);

}  // namespace host
