// The open project of the configurator: its path, the modified and open flags, the station
// tree with its address table, writing and reading the project file, and which file and
// station commands are enabled.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "configurator/config.h"
#include "configurator/device_types.h"
#include "configurator/language.h"
#include "configurator/model.h"
#include "configurator/station_tree.h"
#include "platform/replace_file.h"

namespace configurator {

struct TCommandStates {
  bool Save = false;
  bool SaveAs = false;
  bool RadioModemMenu = false;  // the menu and its central-modem entry
  bool Insert = false;
  bool Edit = false;
  bool Delete = false;
  bool operator==(const TCommandStates&) const = default;
};

class TProject {
 public:
  TProject(const TConfig& config, const TDeviceTables& tables, TMessages& messages, TCollation collation = {});
  ~TProject();
  TProject(const TProject&) = delete;
  TProject& operator=(const TProject&) = delete;

  // Writes the tree to ProjectFile(); a bare name gets the data folder put in front (and
  // keeps it). True when written; Modified is then cleared. Failures are shown (messages 8,
  // 15) and leave an existing file as it was.
  bool SaveProject();
  // Reads ProjectPath + ".INI" (found whatever its case) into the tree, which the caller has
  // cleared. False when the file is missing or reading failed ("Error" was shown).
  bool LoadProject();
  // Hangs stations read from a file into the tree below its root by their parents, then
  // sorts the tree.
  void BuildStationTree(std::vector<std::unique_ptr<TFuMo>> stations);
  // Clears the tree and the flags, frees every address.
  void ResetProject();
  TCommandStates UpdateCommands() const;

  bool HasCentralModem() const;
  bool HasSelection() const { return Tree.Selected() != nullptr; }
  bool CanInsertStation() const;
  bool CanDeleteStation() const;

  // The file SaveProject writes: ProjectPath (with the data folder when it is a bare name) +
  // ".INI", or the file there whose name differs from that only in case, so that the file the
  // overwrite question names is the one overwritten.
  std::string ProjectFile() const;
  // Whether the data folder's file system can hold a file of the bare name plus ".INI".
  bool FitsFileName(const std::string& name) const;
  // Before Save: when the project file exists, asks whether to overwrite it (text 4 of MAIN).
  // True to go on.
  bool ConfirmOverwrite();
  // Writes Ostrel.INI into the program folder without asking; ProjectPath and Modified are kept.
  bool WriteServerIni();
  // The box after a written Ostrel.INI (text 5 of MAIN).
  void ShowServerIniWritten();

  // The system calls the project file is written through.
  void SetFileCalls(platform::FileCalls calls) { file_calls_ = std::move(calls); }

  TGeraeteAdr& Addresses() { return *addresses_; }
  TMessages& Messages() { return messages_; }
  const TDeviceTables& Tables() const { return tables_; }
  const TCollation& Collation() const { return collation_; }

  std::string ProjectPath;  // without ".INI"
  bool Modified = false;
  bool ProjectOpen = false;
  bool StationEditFlag = false;  // the tree's edit command runs the station dialog
  // "Erzeuge Ostrel.INI...": enabled by a loaded or a new project, never disabled again.
  bool ServerIniEnabled = false;
  TStationNode* CurrentNode = nullptr;
  TStationTree Tree;

 private:
  const TConfig& config_;
  const TDeviceTables& tables_;
  TMessages& messages_;
  TCollation collation_;
  std::unique_ptr<TGeraeteAdr> addresses_;
  platform::FileCalls file_calls_ = platform::SystemFileCalls();
};

}  // namespace configurator
