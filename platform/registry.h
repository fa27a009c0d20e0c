// A file-backed registry in place of the Windows one: keys with named values and a default
// value (the empty name). Several programs use one file at once: every change re-reads the
// file under a lock and replaces it atomically, so a reader never sees half a file and no
// writer's change is lost. Key paths use "\" between their parts and are matched ignoring
// ASCII case, as on the platform; value names likewise. A key path is valid when it has no
// empty part and no control character; any other call with an invalid path fails (false,
// nullopt, empty). The three predefined roots always exist and cannot be deleted.
// A Registry holds only the file name, so one object may be used from several threads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace platform {

inline constexpr const char* kClassesRoot = "HKEY_CLASSES_ROOT";
inline constexpr const char* kLocalMachine = "HKEY_LOCAL_MACHINE";
inline constexpr const char* kCurrentUser = "HKEY_CURRENT_USER";

using RegValue = std::variant<std::string, uint32_t>;

class Registry {
 public:
  // The registry file that $QAR_REGISTRY names, else $XDG_DATA_HOME/qar/registry, else
  // ~/.local/share/qar/registry.
  static std::string DefaultFile();
  explicit Registry(std::string file = DefaultFile());

  const std::string& File() const { return file_; }

  bool KeyExists(const std::string& key) const;
  // name "" is the key's default value. nullopt when the key or the value is missing.
  std::optional<RegValue> Value(const std::string& key, const std::string& name = "") const;
  // A string value; nullopt when missing or not a string.
  std::optional<std::string> String(const std::string& key, const std::string& name = "") const;
  std::vector<std::string> SubKeys(const std::string& key) const;    // direct children, stored case
  std::vector<std::string> ValueNames(const std::string& key) const;  // "" for the default value

  // Changes return false when the key path is invalid or the file cannot be locked, read or
  // replaced (a file that exists but cannot be read is never overwritten). Deleting what is
  // not there succeeds without touching the file.
  bool CreateKey(const std::string& key);  // with its parents
  // Creates the key (with its parents) when needed; an existing value keeps its stored name.
  bool SetValue(const std::string& key, const std::string& name, const RegValue& value);
  bool DeleteValue(const std::string& key, const std::string& name);
  bool DeleteKey(const std::string& key);  // with all its subkeys

 private:
  std::string file_;
};

}  // namespace platform
