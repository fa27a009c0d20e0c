#include "host/registration.h"

#include "platform/com/opc_common.h"
#include "platform/cp1252.h"

namespace host {

namespace {

std::string Text(const char* text) { return text ? platform::Cp1252ToUtf8(text) : std::string(); }

}  // namespace

platform::com::ServerRegistration RegistrationOf(const platform::toolkit::TServerInitData& record,
                                                 const std::string& program_path) {
  platform::com::ServerRegistration r;
  r.clsid = record.ClassId;
  r.prog_id = Text(record.ProgId);
  r.version_independent_prog_id = Text(record.VersionIndependentProgId);
  r.readable_name = Text(record.ServerName);
  const bool blank = program_path.find_first_of(" \t") != std::string::npos;
  r.command = blank ? "\"" + program_path + "\"" : program_path;
  r.categories = {platform::com::CATID_OPCDAServer10, platform::com::CATID_OPCDAServer20};
  return r;
}

}  // namespace host
