// The device types the configurator knows (central radio modems, stations, extension
// modules), read at start from the device-type file beside the program, and the table of the
// station addresses in use.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace configurator {

class TMessages;

// One entry of a device-type table; copied by value into the model objects.
struct DeviceType {
  std::string Name;  // at most 40 characters
  int32_t Index = 0;  // the entry's position in its table
  int32_t ChannelsBE = 0;
  int32_t ChannelsBA = 0;
  int32_t ChannelsAE = 0;
  int32_t ChannelsAA = 0;
  int32_t Value5 = 0;
  int32_t Value6 = 0;
  // Central modem: operating mode 0..2. Station: flag word (1 online check, 8 extra wait).
  // Module: compatibility mask against the station's flag word.
  int32_t Flags = 0;
  int32_t Value8 = 0;
  int32_t TypeId = 0;
  bool operator==(const DeviceType&) const = default;
};

inline constexpr int32_t kMaxDeviceTypes = 50;

struct TDeviceTable {
  int32_t Count = 0;
  // One place more than entries: the scratch place of a line that is then dropped.
  std::array<DeviceType, kMaxDeviceTypes + 1> Entries{};
};

// The three tables of the program.
struct TDeviceTables {
  TDeviceTable Central;   // section ZENTRALFUNKMODEM
  TDeviceTable Stations;  // section UNTERSTATIONEN
  TDeviceTable Modules;   // section ERWEITERUNGSMODULE; entry 0 stands for "no module"
};

// Loads the TYP lines of section from the device-type file into table (zeroed first) and
// returns the count. More than 50 lines: a plain message for each line dropped.
int32_t LoadDeviceTypes(TDeviceTable& table, const std::string& file, const std::string& section,
                        TMessages& messages);
// All three tables from the device-type file.
void LoadDeviceTables(TDeviceTables& tables, const std::string& file, TMessages& messages);

// Index of the type: by type id when it is above 0 (the last entry with it), else or failing
// that by exact name (the last such entry); empty name with id 0 gives 0 quietly; nothing
// found gives 0 after message 13 with context as its second line.
int32_t FindDeviceType(const TDeviceTable& table, const std::string& name, int32_t typeId,
                       const std::string& context, TMessages& messages);

// Which station addresses 1..255 are free.
class TGeraeteAdr {
 public:
  TGeraeteAdr() { free_.fill(true); }
  bool IsFree(int32_t address) const { return address >= 1 && address <= 255 && free_[size_t(address)]; }
  void SetFree(int32_t address, bool isFree) {
    if (address >= 1 && address <= 255) free_[size_t(address)] = isFree;
  }
  // The lowest free address, 0 when every address is used.
  int32_t FirstFree() const;

 private:
  std::array<bool, 256> free_{};
};

}  // namespace configurator
