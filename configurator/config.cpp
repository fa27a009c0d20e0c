#include "configurator/config.h"

#include <filesystem>

#include "platform/cp1252.h"
#include "platform/files.h"
#include "platform/profile.h"

namespace configurator {

namespace {
const char* const kSection = "ALLGEMEIN";
const char* const kLastActive = "LETZE AKTIVE KONFIGURATION";
std::string RecentKey(size_t i) { return "ZULETZT VERWENDET" + std::to_string(i); }

// Project paths are file names in memory and Windows-1252 texts in the file. A value that is
// UTF-8 already was written so by an earlier build and is taken as it stands.
std::string ReadPath(const std::string& file, const std::string& key) {
  const std::string text = platform::GetPrivateProfileString(kSection, key, "", file);
  return platform::IsUtf8(text) ? text : platform::TextFileName(text);
}
// A path without a Windows-1252 form is left out rather than stored as another file's name.
void WritePath(const std::string& file, const std::string& key, const std::string& path) {
  std::string text = platform::FileNameText(path);
  if (platform::TextFileName(text) != path) text.clear();
  platform::WritePrivateProfileString(kSection, key, text, file);
}

}  // namespace

TConfig::TConfig(const std::string& programDir) : ProgramDir(programDir), DataDir(programDir + "Data/") {
  std::error_code ec;
  std::filesystem::create_directories(DataDir, ec);  // a failure shows when a project is saved
  std::string file = ProgramDir + "CONFIG.CFG";
  Sprache = platform::GetPrivateProfileString(kSection, "SPRACHE", "D.spr", file);
  LastActive = ReadPath(file, kLastActive);
  for (size_t i = 0; i < Recent.size(); ++i) Recent[i] = ReadPath(file, RecentKey(i));
}

void TConfig::Save() const {
  std::string file = ProgramDir + "CONFIG.CFG";
  platform::WritePrivateProfileString(kSection, "SPRACHE", Sprache, file);
  WritePath(file, kLastActive, LastActive);
  for (size_t i = 0; i < Recent.size(); ++i) WritePath(file, RecentKey(i), Recent[i]);
}

}  // namespace configurator
