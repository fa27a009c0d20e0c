// The station CSV log: in logging mode every station window writes its status and channel
// values to one file per station and day, at most one line per second, driven by data changes.
// Files older than 30 day numbers (yymmdd) are purged whenever a new file is made.
#pragma once

#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/com/variant.h"
#include "visualisation/global.h"

namespace lumaro {

class TStationLog {
 public:
  // log_dir with a trailing "/"; the station name as the configuration file has it.
  TStationLog(std::string log_dir, std::string station_name, NumberFormat format, platform::Clock& clock);

  // After a data change: writes a line unless one was written less than a second ago.
  void DataChanged(const std::vector<std::string>& columns, const std::vector<platform::com::Variant>& values);

  // "Stationslog-<station>-<yymmdd>.csv" in the log folder, for the local date of t.
  std::string FileName(platform::Clock::TimePoint t) const;
  // Deletes every "*.csv" of the folder whose six characters before ".csv", read as a number
  // (0 when they are none), plus 30 lie below today's yymmdd number.
  static void Purge(const std::string& log_dir, int today);
  // Header and line texts, CR LF at the end.
  std::string HeaderLine(const std::vector<std::string>& columns) const;
  std::string ValueLine(platform::Clock::TimePoint t, const std::vector<platform::com::Variant>& values) const;

 private:
  void WriteLine(platform::Clock::TimePoint now, const std::vector<std::string>& columns,
                 const std::vector<platform::com::Variant>& values);

  std::string log_dir_;
  std::string station_name_;
  NumberFormat format_;
  platform::Clock& clock_;
  platform::Clock::TimePoint next_{};
};

}  // namespace lumaro
