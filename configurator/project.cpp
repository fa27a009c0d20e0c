#include "configurator/project.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <unistd.h>

#include "configurator/project_file.h"
#include "platform/cp1252.h"
#include "platform/files.h"
#include "platform/replace_file.h"
#include "platform/text_format.h"
#include "support/ini_reader.h"

namespace configurator {

namespace {

bool HasFolder(const std::string& path) { return path.find('/') != std::string::npos; }

// Access denied in the sense of the project file messages.
bool Denied(int err) { return err == EACCES || err == EPERM || err == EROFS; }

std::string AdrSection(int32_t address, const char* suffix) {
  return "ADR" + platform::FormatText("%3.3d", {address}) + suffix;
}

// The text after the first "=" (the whole line without one).
std::string AfterKey(const std::string& line) {
  auto eq = line.find('=');
  return eq == std::string::npos ? line : line.substr(eq + 1);
}

std::vector<std::string> BlockLines(support::IniReader& ini, const std::string& section) {
  std::vector<std::string> lines;
  ini.Set_INI_Section(section);
  ini.OPEN_INI_BLOCK();
  for (std::string line;;) {
    ini.INI_ZEILE(line);
    if (line.empty()) break;
    lines.push_back(line);
  }
  return lines;
}

}  // namespace

TProject::TProject(const TConfig& config, const TDeviceTables& tables, TMessages& messages, TCollation collation)
    : Tree([this](TStationNode& node) {
        // A node that leaves the tree gives its station's address back.
        if (node.Data()) addresses_->SetFree(node.Data()->Address, true);
        if (&node == CurrentNode) CurrentNode = nullptr;
      }),
      config_(config),
      tables_(tables),
      messages_(messages),
      collation_(std::move(collation)),
      addresses_(std::make_unique<TGeraeteAdr>()) {}

std::string TProject::ProjectFile() const {
  return platform::ResolveNoCase((HasFolder(ProjectPath) ? ProjectPath : config_.DataDir + ProjectPath) + ".INI");
}

bool TProject::FitsFileName(const std::string& name) const {
  long most = pathconf(config_.DataDir.c_str(), _PC_NAME_MAX);
  if (most <= 0) most = NAME_MAX;
  return name.size() + std::string_view(".INI").size() <= size_t(most);
}

bool TProject::SaveProject() {
  platform::WaitCursor wait(messages_.Service());
  if (!HasFolder(ProjectPath)) ProjectPath = config_.DataDir + ProjectPath;
  const std::string file = ProjectFile();
  std::string bytes;
  try {
    bytes = ProjectText(Tree);
  } catch (const std::exception&) {
    messages_.ShowErrorMsg(8, platform::FileNameText(file));
    return false;
  }
  int err = platform::ReplaceFile(file, bytes, file_calls_);
  if (err != 0) {
    if (Denied(err))
      messages_.ShowErrorMsg(15, platform::FileNameText(file));
    else
      messages_.ShowErrorMsg(8, platform::FileNameText(file) + " (Err=" + std::to_string(err) + ")");
    return false;
  }
  Modified = false;
  return true;
}

bool TProject::LoadProject() {
  platform::WaitCursor wait(messages_.Service());
  Tree.Clear();
  const std::string file = ProjectPath + ".INI";
  if (platform::FindFileNoCase(file).empty()) {
    messages_.ShowMessage("Error");
    return false;
  }
  std::vector<std::unique_ptr<TFuMo>> stations;
  try {
    support::IniReader ini(support::IniBuild::Configurator);
    ini.Set_INI_File(file);
    auto zfm = std::make_unique<TZFM>();

    ini.Set_INI_Section("ZENTRALFUNKMODEM");
    std::string line = ini.Read_Parameter("TYP"), field, typeName;
    support::Get_StrParameter(line, 255, field);
    zfm->SetName(field);
    if (zfm->ErrorCode != 0) zfm->Name.clear();
    zfm->ErrorCode = 0;
    support::Get_StrParameter(line, 255, typeName);
    int32_t typeId = support::Get_IntParameter(line, 255, 0, 999, 0);
    zfm->DeviceType = tables_.Central.Entries[size_t(FindDeviceType(tables_.Central, typeName, typeId, zfm->Name, messages_))];

    line = ini.Read_Parameter("Option");
    support::Get_IntParameter(line, 255, 0, INT32_MAX, 0);
    zfm->ExtraWait = support::Get_IntParameter(line, 255, 0, 9999, 0);

    line = ini.Read_Parameter("RS232");
    support::Get_StrParameter(line, 255, zfm->Port);
    support::Get_StrParameter(line, 255, field);
    zfm->BaudRate = serial::TextToBaudRate(field);
    support::Get_StrParameter(line, 255, field);
    zfm->Parity = serial::TextToParity(field);
    support::Get_StrParameter(line, 255, field);
    zfm->DataBits = serial::TextToDataBits(field);
    zfm->StopBits = serial::TextToStopBits(line);  // the whole rest of the value

    std::string name = zfm->Name;
    Tree.AddRoot(name, std::move(zfm));

    struct Entry {
      std::string text;
      bool relay;
    };
    std::vector<Entry> entries;
    for (const std::string& l : BlockLines(ini, "UNTERSTATIONEN")) entries.push_back({AfterKey(l), false});
    for (const std::string& l : BlockLines(ini, "RELAISSTATIONEN")) entries.push_back({AfterKey(l), true});

    // The station keys of [KONFIGURATOR], matched whole: the key search of the line reader
    // would give station "Pumpe" the line of "Pumpe 2" when that comes first. A key written in
    // the station's own case wins; one that differs only in case is taken where there is none.
    struct TypeLine {
      std::string key, upper, value;
    };
    std::vector<TypeLine> types;
    for (const std::string& l : BlockLines(ini, "KONFIGURATOR")) {
      auto eq = l.find('=');
      if (eq == std::string::npos) continue;
      std::string key = l.substr(0, eq), value = l.substr(eq + 1);
      support::Trim_Blanks(key, int(key.size()));
      support::Trim_Blanks(value, int(value.size()));
      types.push_back({key, platform::UpperCase1252(key), value});
    }

    TStationContext context{*addresses_, tables_, messages_};
    for (const Entry& e : entries) {
      std::string stationName = e.text.substr(0, e.text.find(','));
      support::Trim_Blanks(stationName, int(stationName.size()));
      std::string upper = platform::UpperCase1252(stationName), value;
      auto found = std::find_if(types.begin(), types.end(), [&](const TypeLine& t) { return t.key == stationName; });
      if (found == types.end())
        found = std::find_if(types.begin(), types.end(), [&](const TypeLine& t) { return t.upper == upper; });
      if (!stationName.empty() && found != types.end()) value = found->value;

      auto st = std::make_unique<TFuMo>(e.text, value, context);
      st->Relay = e.relay;
      ini.Set_INI_Section(AdrSection(st->Address, "+"));
      line = ini.Read_Parameter("Option");
      st->OnlineCheck = support::Get_IntParameter(line, 255, 0, 1, 0);
      st->ExtraWait = support::Get_IntParameter(line, 255, 0, 9999, 0);
      for (const std::string& l : BlockLines(ini, AdrSection(st->Address, ""))) {
        std::string rest = AfterKey(l), kind;
        TWert w;
        support::Get_StrParameter(rest, 255, kind);
        w.Kind = kind.substr(0, 2);
        support::Get_StrParameter(rest, 255, w.Name);
        support::Get_StrParameter(rest, 255, w.Einheit);
        w.Faktor = support::Get_RealParameter(rest, 255, -999999, 999999, 1);
        w.Offset = support::Get_RealParameter(rest, 255, -999999, 999999, 0);
        w.NKs = support::Get_IntParameter(rest, 255, 0, 10, 0);
        st->Channels.push_back(std::move(w));
      }
      stations.push_back(std::move(st));
    }
    BuildStationTree(std::move(stations));
    ServerIniEnabled = true;
    ProjectOpen = true;
    return true;
  } catch (const std::exception&) {
    // Stations read so far stay in the tree, so their addresses stay used by someone.
    try {
      if (Tree.Root()) BuildStationTree(std::move(stations));
    } catch (const std::exception&) {
    }
    messages_.ShowMessage("Error");
    return false;
  }
}

void TProject::BuildStationTree(std::vector<std::unique_ptr<TFuMo>> stations) {
  TStationNode* root = Tree.Root();
  if (!root) throw std::logic_error("stations need the central modem's node");
  auto depth = [](const TFuMo& s) { return (s.Parent1 > 0) + (s.Parent2 > 0); };
  std::stable_sort(stations.begin(), stations.end(), [&](const auto& a, const auto& b) { return depth(*a) < depth(*b); });
  for (auto& st : stations) {
    if (st->Parent1 == 0 && st->Parent2 > 0) {
      st->Parent1 = st->Parent2;
      st->Parent2 = 0;
    }
    int32_t wanted = 0;
    if (st->Parent1 > 0 && st->Parent2 == 0)
      wanted = st->Parent1;
    else if (st->Parent1 > 0 && st->Parent2 > 0)
      wanted = st->Parent2;
    TStationNode* parent = root;
    if (wanted > 0) {
      // Only a node on level 1 or 2 can take children: nothing is ever placed below level 3.
      for (TStationNode* n = Tree.Next(root); n; n = Tree.Next(n)) {
        if (n->Level() <= 2 && n->Station() && n->Station()->Address == wanted) {
          parent = n;
          break;
        }
      }
    }
    std::string text = st->Name;
    Tree.AddChild(parent, std::move(text), std::move(st));
  }
  Tree.AlphaSort(collation_);
}

TProject::~TProject() { Tree.Clear(); }

void TProject::ResetProject() {
  Modified = false;
  ProjectOpen = false;
  StationEditFlag = false;
  Tree.Clear();
  CurrentNode = nullptr;
  addresses_ = std::make_unique<TGeraeteAdr>();
}

bool TProject::HasCentralModem() const { return Tree.Root() && Tree.Root()->CentralModem(); }

bool TProject::CanInsertStation() const {
  try {
    const TStationNode* root = Tree.Root();
    if (!root || !root->Data()) return true;
    const TZFM* zfm = root->CentralModem();
    if (!CurrentNode) return false;
    if (!zfm || !zfm->IsNestingMode()) return CurrentNode == root;
    return CurrentNode->Level() <= 2;
  } catch (...) {
    return false;
  }
}

bool TProject::CanDeleteStation() const { return !Tree.Empty() && Tree.Selected() != Tree.Root(); }

TCommandStates TProject::UpdateCommands() const {
  TCommandStates s;
  bool zfm = HasCentralModem();
  s.Save = zfm && Modified;
  s.SaveAs = zfm;
  s.RadioModemMenu = ProjectOpen;
  s.Insert = CanInsertStation() && zfm;
  s.Edit = HasSelection();
  s.Delete = CanDeleteStation();
  return s;
}

bool TProject::ConfirmOverwrite() {
  std::string file = ProjectFile();
  if (platform::FindFileNoCase(file).empty()) return true;
  std::string title = file.substr(platform::DirOf(file).size());
  title.resize(title.size() - 4);  // ".INI"
  messages_.Texts().SetTextSection("MAIN");
  std::string text = platform::FormatText(messages_.Texts().TranslateText("@4"), {platform::FileNameText(title)});
  return messages_.Service().Show(platform::MessageKind::Confirmation, text, platform::MessageButtons::YesNo) ==
         platform::MessageAnswer::Yes;
}

bool TProject::WriteServerIni() {
  std::string kept = ProjectPath;
  // The server's file is no save of the project: its changes stay unsaved until Save.
  bool modified = Modified;
  ProjectPath = config_.ProgramDir + "Ostrel";
  bool ok = SaveProject();
  ProjectPath = kept;
  Modified = modified;
  return ok;
}

void TProject::ShowServerIniWritten() {
  messages_.Texts().SetTextSection("MAIN");
  std::string text = platform::FormatText(messages_.Texts().TranslateText("@5"),
                                          {"Ostrel", platform::FileNameText(config_.ProgramDir)});
  messages_.Service().Show(platform::MessageKind::Confirmation, text, platform::MessageButtons::Ok);
}

}  // namespace configurator
