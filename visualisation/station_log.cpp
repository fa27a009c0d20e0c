#include "visualisation/station_log.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "platform/cp1252.h"
#include "visualisation/ostrel_ini.h"

namespace lumaro {

namespace fs = std::filesystem;
using platform::Clock;

namespace {

std::tm LocalTime(Clock::TimePoint t) {
  std::time_t secs = std::chrono::system_clock::to_time_t(t);
  std::tm local{};
  localtime_r(&secs, &local);
  return local;
}

std::string Yymmdd(Clock::TimePoint t) {
  std::tm l = LocalTime(t);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%02d%02d%02d", l.tm_year % 100, l.tm_mon + 1, l.tm_mday);
  return buf;
}

// "dd.mm.yyyy hh:nn:ss", the one layout of dates in the system's files.
std::string DateTimeText(Clock::TimePoint t) {
  std::tm l = LocalTime(t);
  char buf[96];
  std::snprintf(buf, sizeof buf, "%02d.%02d.%04d %02d:%02d:%02d", l.tm_mday, l.tm_mon + 1, l.tm_year + 1900, l.tm_hour,
                l.tm_min, l.tm_sec);
  return buf;
}

bool EndsWithCsv(const std::string& name) {
  if (name.size() < 4) return false;
  return platform::UpperCase1252(name.substr(name.size() - 4)) == ".CSV";
}

}  // namespace

TStationLog::TStationLog(std::string log_dir, std::string station_name, NumberFormat format, Clock& clock)
    : log_dir_(std::move(log_dir)), station_name_(std::move(station_name)), format_(format), clock_(clock) {}

std::string TStationLog::FileName(Clock::TimePoint t) const {
  // The folder is the system's; the station's name becomes a file-system (UTF-8) name.
  return log_dir_ + "Stationslog-" + platform::Cp1252ToUtf8(station_name_) + "-" + Yymmdd(t) + ".csv";
}

void TStationLog::DataChanged(const std::vector<std::string>& columns,
                              const std::vector<platform::com::Variant>& values) {
  const Clock::TimePoint now = clock_.Now();
  if (now < next_) return;
  WriteLine(now, columns, values);
  next_ = now + std::chrono::seconds(1);
}

std::string TStationLog::HeaderLine(const std::vector<std::string>& columns) const {
  std::string line = "Zeitstempel";
  line += format_.list_separator;
  for (size_t i = 0; i < columns.size(); ++i) {
    if (i > 0) line += format_.list_separator;
    line += columns[i];
  }
  return line + "\r\n";
}

std::string TStationLog::ValueLine(Clock::TimePoint t, const std::vector<platform::com::Variant>& values) const {
  std::string line = DateTimeText(t);
  line += format_.list_separator;
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) line += format_.list_separator;
    line += ValueText(values[i], format_);
  }
  return line + "\r\n";
}

void TStationLog::WriteLine(Clock::TimePoint now, const std::vector<std::string>& columns,
                            const std::vector<platform::com::Variant>& values) {
  const std::string path = FileName(now);
  std::error_code ec;
  std::FILE* f = nullptr;
  if (fs::exists(path, ec)) {
    f = std::fopen(path.c_str(), "ab");
    if (!f) return;
  } else {
    fs::create_directories(log_dir_, ec);
    int32_t today = 0;
    ParseDecimal(Yymmdd(now), today);
    Purge(log_dir_, today);
    f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    const std::string header = HeaderLine(columns);
    std::fwrite(header.data(), 1, header.size(), f);
  }
  const std::string line = ValueLine(now, values);
  std::fwrite(line.data(), 1, line.size(), f);
  std::fclose(f);  // a failed write loses the line, nothing more
}

void TStationLog::Purge(const std::string& log_dir, int today) {
  std::error_code ec;
  std::vector<fs::path> doomed;
  for (fs::directory_iterator it(log_dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    const std::string name = it->path().filename().string();
    if (!EndsWithCsv(name)) continue;
    const std::string stem = name.substr(0, name.size() - 4);
    int32_t date = 0;
    if (stem.size() < 6 || !ParseDecimal(stem.substr(stem.size() - 6), date)) date = 0;
    if (int64_t(date) + 30 < today) doomed.push_back(it->path());
  }
  for (const fs::path& p : doomed) fs::remove(p, ec);
}

}  // namespace lumaro
