#include "server/driver/options.h"

#include "support/error_log.h"
#include "support/ini_reader.h"
#include "support/log_text.h"

namespace driver {

constinit TOptions Options;

void ResetOptions() { Options = TOptions{}; }

void ReadOptionen(const std::string& section) {
  using support::Read_IntParameter;
  TOptions& o = Options;
  support::Set_INI_Section(section);
  o.SIMULATION = Read_IntParameter("SIMULATION", 0, 1, o.SIMULATION ? 1 : 0) == 1;
  o.SYSPOLLZYKLUS = Read_IntParameter("SYSPOLLZYKLUS", 2, 999, o.SYSPOLLZYKLUS);
  o.PERMANENTDATEN = Read_IntParameter("PERMANENTDATEN", 0, 1, o.PERMANENTDATEN ? 1 : 0) == 1;
  o.SYSREGCOUNT = Read_IntParameter("SYSREGCOUNT", 0, 40, o.SYSREGCOUNT);
  if (o.SYSREGCOUNT < 10) o.SYSREGCOUNT = 999;
  o.HILFSZYKLEN = Read_IntParameter("HILFSZYKLEN", 0, 9, o.HILFSZYKLEN);
  o.HILFSFAILMAX = Read_IntParameter("HILFSFAILMAX", 1, 99, o.HILFSFAILMAX);
  o.MOP2CRC = Read_IntParameter("MOP2CRC", 0, 1, o.MOP2CRC ? 1 : 0) == 1;
  o.TIMEOUT = Read_IntParameter("TIMEOUT", 100, 1000, o.TIMEOUT);
  if (support::Log()->Debug()) support::LogMessage("TRM-Timeout=" + support::IntStr(o.TIMEOUT));
}

}  // namespace driver
