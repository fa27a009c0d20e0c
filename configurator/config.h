// The configurator's settings in CONFIG.CFG beside the program: the language file, the last
// active project and the six recently used projects.
#pragma once

#include <array>
#include <string>

namespace configurator {

class TConfig {
 public:
  // Reads CONFIG.CFG in programDir (a folder with a trailing "/") and makes the data folder.
  // A missing or unreadable file leaves the defaults.
  explicit TConfig(const std::string& programDir);
  // Writes every setting back (empty recent entries too); a failure loses them silently.
  void Save() const;

  std::string Sprache = "D.spr";
  std::string ProgramDir;
  std::string DataDir;  // ProgramDir + "Data/", the folder of the project files
  // Project paths, as the file system names them (the file holds them in Windows-1252).
  std::array<std::string, 6> Recent;
  std::string LastActive;
};

}  // namespace configurator
