#include "server/driver/units.h"

#include "server/driver/fml.h"
#include "server/driver/fumo.h"
#include "server/driver/utilities.h"
#include "support/error_log.h"
#include "support/ini_reader.h"

namespace driver {

// Order matters: the log comes first so every later unit can log, and writes its end line last.
void StartServerUnits() {
  support::StartErrorLog(support::LogBuild::Server);
  support::StartIniReader(support::IniBuild::Server);
  StartStationListUnit();
  StartUtilities();
  support::Log()->SetProgramName(kProgramName);  // so the end line names the server
  StartStationUnit();
}

void StopServerUnits() {
  StopUtilities();
  StopStationListUnit();
  support::StopIniReader();
  support::StopErrorLog();
}

}  // namespace driver
