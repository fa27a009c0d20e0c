#include "configurator/core.h"

#include "platform/files.h"

namespace configurator {

std::unique_ptr<TConfiguratorCore> TConfiguratorCore::Start(const std::string& programPath,
                                                            platform::MessageService& service, TCollation collation,
                                                            const std::string& instanceName) {
  // The guard's message comes before any text file is read, so it is the program's own.
  auto guard = platform::SingleInstanceGuard::Acquire(instanceName);
  if (!guard) {
    service.Show(platform::MessageKind::Plain, "Diese Anwendung ist bereits aktiv!", platform::MessageButtons::Ok);
    return nullptr;
  }
  return std::unique_ptr<TConfiguratorCore>(
      new TConfiguratorCore(programPath, std::move(guard), service, std::move(collation)));
}

TConfiguratorCore::TConfiguratorCore(const std::string& programPath,
                                     std::unique_ptr<platform::SingleInstanceGuard> guard,
                                     platform::MessageService& service, TCollation collation)
    : Guard(std::move(guard)),
      Texts(programPath + ".TXT"),
      Messages(Texts, service),
      Config(platform::DirOf(programPath)),
      Project(Config, Tables, Messages, std::move(collation)) {
  LoadDeviceTables(Tables, programPath + ".FML", Messages);
}

TConfiguratorCore::~TConfiguratorCore() { Config.Save(); }

bool TConfiguratorCore::SwitchLanguage() {
  if (Config.Sprache.empty()) {
    Messages.ShowErrorMsg(1);
    return false;
  }
  std::string path = Config.ProgramDir + Config.Sprache;
  std::string found = platform::FindFileNoCase(path);
  if (found.empty()) {
    Messages.ShowErrorMsg(1, platform::FileNameText(path));
    return false;
  }
  Texts.SetTextFile(found);
  return true;
}

bool TConfiguratorCore::CheckDeviceTables() {
  if (Tables.Central.Count == 0 || Tables.Stations.Count == 0 || Tables.Modules.Count < 2) {
    Messages.ShowErrorMsg(14);
    return false;
  }
  return true;
}

}  // namespace configurator
