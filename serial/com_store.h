// The stores the port's settings can be written to and read from: a section of an INI file or
// an open registry key. The port's WriteIniFile, ReadIniFile, WriteRegistry and ReadRegistry
// (com_port.h) use these.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/registry.h"

namespace serial {

// Setting groups that the store handles, in the order in which they are written and read.
enum TStoredProp : uint8_t { spBasic, spOthers, spParity, spBuffer, spTimeouts, spFlowControl };

// An INI file object: named values in sections. Any implementation serves (a profile file,
// an in-memory one). Failures are the implementation's exceptions and reach the caller.
class TCustomIniFile {
 public:
  virtual ~TCustomIniFile() = default;
  virtual std::string ReadString(const std::string& section, const std::string& key,
                                 const std::string& def) = 0;
  virtual void WriteString(const std::string& section, const std::string& key, const std::string& value) = 0;
  // A value that is not a decimal integer reads as def.
  virtual int32_t ReadInteger(const std::string& section, const std::string& key, int32_t def);
  virtual void WriteInteger(const std::string& section, const std::string& key, int32_t value);
};

class ERegistryException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A key of the file-backed registry, opened by its full path ("HKEY_CURRENT_USER\...").
class TRegistryKey {
 public:
  TRegistryKey(platform::Registry& registry, std::string key) : registry_(registry), key_(std::move(key)) {}
  const std::string& Key() const { return key_; }

  // A missing or non-text value reads as "".
  std::string ReadString(const std::string& name) const;
  // A missing or non-integer value raises ERegistryException.
  int32_t ReadInteger(const std::string& name) const;
  // A value that cannot be stored raises ERegistryException.
  void WriteString(const std::string& name, const std::string& value);
  void WriteInteger(const std::string& name, int32_t value);

 private:
  platform::Registry& registry_;
  std::string key_;
};

}  // namespace serial
