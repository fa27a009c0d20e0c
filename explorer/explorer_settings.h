// The explorer's small settings file: an INI file beside the program (its path + ".ini") that
// remembers the server last connected to and the session file last opened or saved.
#pragma once

#include <string>

namespace explorer {

class TExplorerSettings {
 public:
  explicit TExplorerSettings(std::string path);
  // The program's own path with ".ini" appended.
  static std::string DefaultPath();

  const std::string& Path() const { return path_; }
  // [SERVER] LAST: ProgID or CLSID text; "" when none is recorded.
  std::string LastServer() const;
  void SetLastServer(const std::string& server_name);
  // [FILE] LAST: full path of the last session file; "" when none is recorded.
  std::string LastFile() const;
  void SetLastFile(const std::string& file_name);

 private:
  std::string path_;
};

}  // namespace explorer
