#include "explorer/explorer_settings.h"

#include "platform/files.h"
#include "platform/profile.h"

namespace explorer {

namespace {

// Long enough for any path the file system takes.
constexpr size_t kMaxValue = 4096;

}  // namespace

TExplorerSettings::TExplorerSettings(std::string path) : path_(std::move(path)) {}

std::string TExplorerSettings::DefaultPath() { return platform::ProgramPath() + ".ini"; }

std::string TExplorerSettings::LastServer() const {
  return platform::GetPrivateProfileString("SERVER", "LAST", "", path_, kMaxValue);
}

void TExplorerSettings::SetLastServer(const std::string& server_name) {
  platform::WritePrivateProfileString("SERVER", "LAST", server_name, path_);
}

std::string TExplorerSettings::LastFile() const {
  return platform::GetPrivateProfileString("FILE", "LAST", "", path_, kMaxValue);
}

void TExplorerSettings::SetLastFile(const std::string& file_name) {
  platform::WritePrivateProfileString("FILE", "LAST", file_name, path_);
}

}  // namespace explorer
