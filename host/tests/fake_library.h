// A server library inside the test program: its five exports are plain functions over a
// table of registers that the test sets up and changes, and they record what the host asks.
// One library per process, as with the real one.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "host/server_library.h"
#include "platform/com/variant.h"
#include "platform/filetime.h"

namespace host::testing {

struct FakeProperty {
  uint32_t id;
  std::string description;  // Windows-1252
  platform::com::Variant value;
};

struct FakeTag {
  std::string station;  // "" for a tag of the central modem (the root node)
  std::string name;     // Windows-1252
  platform::com::VARTYPE type = platform::com::VT_I4;
  uint32_t access = 1;
  int32_t handle = 0;
  std::vector<FakeProperty> properties;
};

struct FakeRegister {
  platform::com::Variant value = platform::com::Variant::I4(0);
  uint16_t quality = 8;
  platform::FILETIME stamp;
};

class FakeLibrary {
 public:
  // The one library; Reset() gives it a fresh state.
  static FakeLibrary& Get();
  static Exports TheExports();

  void Reset();
  // The namespace: a root node named root, a node per station, the tags in order.
  std::string root = "ZFM";
  std::vector<FakeTag> tags;
  bool starts = true;

  // ---- the register image, changed by the test as a driver would ----
  void Set(int32_t handle, const platform::com::Variant& value, uint16_t quality, platform::FILETIME stamp = {});
  FakeRegister Register(int32_t handle);
  // A record with this handle makes the library stop the batch there (its records keep
  // what the host put in).
  void FailAt(int32_t handle);

  // ---- what the host asked ----
  size_t Reads(int32_t handle);
  std::vector<std::pair<int32_t, platform::com::Variant>> Writes();
  std::vector<std::string> Calls();  // "initialize", "build", "start", "stop", "read N", "write N" in order
  // Requests that came after SOXpSStop.
  size_t RequestsAfterStop();

 private:
  friend struct Exported;
  std::mutex mutex_;
  std::map<int32_t, FakeRegister> registers_;
  std::set<int32_t> failing_;
  std::map<int32_t, size_t> reads_;
  std::vector<std::pair<int32_t, platform::com::Variant>> writes_;
  std::vector<std::string> calls_;
  bool stopped_ = false;
  size_t after_stop_ = 0;
};

}  // namespace host::testing
