#include "configurator/config.h"

#include <filesystem>

#include "platform/profile.h"

namespace configurator {

namespace {
const char* const kSection = "ALLGEMEIN";
const char* const kLastActive = "LETZE AKTIVE KONFIGURATION";
std::string RecentKey(size_t i) { return "ZULETZT VERWENDET" + std::to_string(i); }
}  // namespace

TConfig::TConfig(const std::string& programDir) : ProgramDir(programDir), DataDir(programDir + "Data/") {
  std::error_code ec;
  std::filesystem::create_directories(DataDir, ec);  // a failure shows when a project is saved
  std::string file = ProgramDir + "CONFIG.CFG";
  Sprache = platform::GetPrivateProfileString(kSection, "SPRACHE", "D.spr", file);
  LastActive = platform::GetPrivateProfileString(kSection, kLastActive, "", file);
  for (size_t i = 0; i < Recent.size(); ++i) Recent[i] = platform::GetPrivateProfileString(kSection, RecentKey(i), "", file);
}

void TConfig::Save() const {
  std::string file = ProgramDir + "CONFIG.CFG";
  platform::WritePrivateProfileString(kSection, "SPRACHE", Sprache, file);
  platform::WritePrivateProfileString(kSection, kLastActive, LastActive, file);
  for (size_t i = 0; i < Recent.size(); ++i) platform::WritePrivateProfileString(kSection, RecentKey(i), Recent[i], file);
}

}  // namespace configurator
