// The configurator's start-up and shutdown without its windows: the language texts, the
// single-instance guard, the settings, the device-type tables and the project, set up in
// this order and released in reverse.
#pragma once

#include <memory>
#include <string>

#include "configurator/config.h"
#include "configurator/device_types.h"
#include "configurator/language.h"
#include "configurator/project.h"
#include "platform/message_service.h"
#include "platform/single_instance.h"

namespace configurator {

inline constexpr const char* kInstanceName = "Qar-FM_KONF";

class TConfiguratorCore {
 public:
  // Starts the core for the program file programPath. nullptr when another copy of the
  // program runs; its message has then been shown and the program ends.
  static std::unique_ptr<TConfiguratorCore> Start(const std::string& programPath, platform::MessageService& service,
                                                  TCollation collation = {},
                                                  const std::string& instanceName = kInstanceName);
  // Writes the settings back.
  ~TConfiguratorCore();

  // The main window's first tick: the language file the settings name becomes the text file.
  // False after message 1 (no language file set, or not found): the program ends.
  bool SwitchLanguage();
  // False after message 14 (a device-type table is empty or the module table has fewer than
  // two entries): the program ends.
  bool CheckDeviceTables();

  std::unique_ptr<platform::SingleInstanceGuard> Guard;
  TLanguageTexts Texts;
  TMessages Messages;
  TConfig Config;
  TDeviceTables Tables;
  TProject Project;

 private:
  TConfiguratorCore(const std::string& programPath, std::unique_ptr<platform::SingleInstanceGuard> guard,
                    platform::MessageService& service, TCollation collation);
};

}  // namespace configurator
