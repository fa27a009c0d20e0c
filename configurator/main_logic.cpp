#include "configurator/main_logic.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "configurator/core.h"
#include "configurator/station_editor.h"
#include "configurator/zfm_editor.h"
#include "platform/cp1252.h"
#include "platform/files.h"
#include "platform/text_format.h"

namespace configurator {

using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageKind;

std::string ClockText(platform::Clock::TimePoint now) {
  std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[80];
  std::snprintf(buf, sizeof buf, "%02d:%02d, %02d.%02d.%04d", tm.tm_hour, tm.tm_min, tm.tm_mday, tm.tm_mon + 1,
                tm.tm_year + 1900);
  return buf;
}

std::string PathWithoutIni(const std::string& path) {
  if (path.size() < 4) return path;
  std::string tail = platform::UpperCase1252(path.substr(path.size() - 4));
  return tail == ".INI" ? path.substr(0, path.size() - 4) : path;
}

TMainLogic::TMainLogic(TConfiguratorCore& core, TMainView& view)
    : Grid(core.Project, core.Messages), core_(core), project_(core.Project), view_(view) {}

void TMainLogic::Show() {
  for (size_t i = core_.Config.Recent.size(); i-- > 0;) AddRecentFile(core_.Config.Recent[i], true);
  SetLastActive(core_.Config.LastActive);
}

bool TMainLogic::Tick(platform::Clock::TimePoint now) {
  bool ran = false;
  if (StartupPending && !in_startup_) {
    in_startup_ = true;
    Startup();
    in_startup_ = false;
    ran = true;
  }
  Clock = ClockText(now);
  if (!Busy && !Terminated) ApplyCommands();
  return ran;
}

void TMainLogic::Startup() {
  if (!core_.SwitchLanguage()) {
    Terminated = true;
    return;
  }
  TLanguageTexts& texts = core_.Texts;
  texts.SetTextSection("MENU");
  UnknownText = texts.TranslateText("@18Unbekannt");
  // Without a last active project the entry shows the "unknown" text, not an empty line.
  if (!LastActiveEnabled) LastActiveCaption = UnknownText;
  view_.TranslateWindow();

  texts.SetTextSection("MAIN");
  ProgramTitle = texts.TranslateText("@1Konfigurationsprogramm f\xFCr Qar OPC Data Access Server f\xFCr Funkmodems");
  Grid.LabelFormats = {texts.TranslateText("@38AnaOut %d"), texts.TranslateText("@37AnaIn %d"),
                       texts.TranslateText("@36DigOut %d"), texts.TranslateText("@35DigIn %d")};
  ShowBackground(true, true);
  texts.SetTextSection("ZFM");
  ModeNames = {texts.TranslateText("@11 Modbus"), texts.TranslateText("@12 MoP"), texts.TranslateText("@13 n\xF6" "DatFu")};

  ApplyCommands();
  project_.Tree.Clear();
  project_.CurrentNode = nullptr;
  ++TreeRevision;
  UpdateDetailPanel();
  texts.SetTextSection("MAIN");
  Grid.SetHeaders({"", texts.TranslateText("@30Name"), texts.TranslateText("@31Einheit"), texts.TranslateText("@32Faktor"),
                   texts.TranslateText("@33Offset"), texts.TranslateText("@34Nachkomma")});
  if (!core_.CheckDeviceTables()) {
    Terminated = true;
    return;
  }
  StartupPending = false;
}

void TMainLogic::ShowBackground(bool show, bool setCaption) {
  BackgroundShown = show;
  if (!setCaption) return;
  if (show) {
    core_.Texts.SetTextSection("MAIN");
    Caption = ProgramTitle + " - " + core_.Texts.TranslateText("@3");
  } else {
    Caption = ProgramTitle + " - [" + platform::FileNameText(project_.ProjectPath) + "]";
  }
}

void TMainLogic::ClearProject() {
  ShowBackground(true, true);
  project_.ResetProject();
  ++TreeRevision;
  UpdateDetailPanel();  // no station of the old project stays in the details
}

void TMainLogic::ApplyCommands() {
  try {
    Commands = project_.UpdateCommands();
  } catch (const std::exception&) {
  }
}

void TMainLogic::UpdateDetailPanel() {
  // Every box is emptied, not only name and type: the address would otherwise stay from the
  // station shown before, even of a project closed since.
  if (!project_.Tree.Selected()) Details = TDetailView{};
  GridVisible = Details.Shows == TDetailView::Station;
}

void TMainLogic::Select(TStationNode* node) {
  // A tree without a selection is no change of node (a Ctrl+click unselects in the tree): the
  // station shown, on which the commands act, stays selected.
  if (!node || project_.Tree.Selected() == node) return;
  project_.Tree.Select(node);
  ShowNode(node);
}

void TMainLogic::ShowNode(TStationNode* node) {
  if (StartupPending || !node) return;
  Grid.Exit();
  // The window hides the grid, with any cell editor in it, before it shows the next node, and
  // the tree keeps the keyboard whatever command changed it.
  GridVisible = false;
  ++TreeFocusRequests;
  project_.CurrentNode = node;
  TDetailView d;
  const TCustomFM* fm = node->Data();
  if (fm) {
    d.Name = fm->Name;
    d.Type = fm->DeviceType.Name;
    d.Address = std::to_string(fm->Address);
  }
  if (const TZFM* zfm = node->CentralModem()) {
    d.Shows = TDetailView::CentralModem;
    int mode = zfm->DeviceType.Flags;
    d.Mode = mode >= 0 && mode <= 2 ? ModeNames[size_t(mode)] : std::string();
  } else if (const TFuMo* st = node->Station()) {
    d.Shows = TDetailView::Station;
    auto count = [](int32_t n) { return n == 0 ? std::string("---") : std::to_string(n); };
    d.AnalogIn = count(st->CountAE());
    d.AnalogOut = count(st->CountAA());
    d.DigitalIn = count(st->CountBE());
    d.DigitalOut = count(st->CountBA());
    Grid.Fill(*st);
  }
  Details = d;
  UpdateDetailPanel();
  ApplyCommands();
}

std::string TMainLogic::SaveQuestion() {
  core_.Texts.SetTextSection("MAIN");
  return platform::FormatText(core_.Texts.TranslateText("@2"), {platform::FileNameText(project_.ProjectPath)});
}

void TMainLogic::New() {
  platform::MessageService& boxes = core_.Messages.Service();
  Grid.Exit();  // the cell being edited is part of what the question asks to save
  if (project_.Modified &&
      boxes.Show(MessageKind::Warning, SaveQuestion(), MessageButtons::YesNo) == MessageAnswer::Yes &&
      !project_.SaveProject())
    return;
  // A cancelled name leaves the open project as it was, path and view included.
  const std::string keptPath = project_.ProjectPath;
  const bool projectShown = !BackgroundShown;
  ShowBackground(true, true);
  if (!view_.RunProjectNameDialog()) {
    project_.ProjectPath = keptPath;
    if (projectShown) {
      ShowBackground(false, true);
      ++TreeFocusRequests;  // the tree lost the keyboard while it was hidden
    }
    return;
  }
  ClearProject();
  CentralModemCommand();
  if (project_.Modified) {
    ShowBackground(false, true);  // the root shown has given the tree the keyboard
    project_.ProjectOpen = true;
    project_.ServerIniEnabled = true;
  } else {
    ClearProject();
  }
  ApplyCommands();
}

void TMainLogic::CentralModemCommand() {
  TStationTree& tree = project_.Tree;
  TStationNode* root = tree.Root();
  if (root)
    Select(root);
  else
    project_.CurrentNode = nullptr;
  TZFMEditor editor(project_, view_.MachinePorts());
  if (view_.RunCentralModemDialog(editor)) {
    if (root) {
      root->SetText(editor.Object().Name);
    } else {
      std::unique_ptr<TZFM> zfm = editor.TakeNew();
      std::string name = zfm->Name;
      root = tree.AddRoot(name, std::move(zfm));
    }
    project_.Modified = true;
    ++TreeRevision;
    if (tree.Selected() == root)
      ShowNode(root);
    else
      Select(root);
  }
  ApplyCommands();
}

void TMainLogic::OpenPath(const std::string& path, bool addRecent) {
  ShowBackground(true, true);
  ClearProject();
  project_.ProjectPath = path;
  project_.LoadProject();
  if (!project_.HasCentralModem()) {
    // Nothing could be read: no empty project is shown as if it had been opened.
    ClearProject();
    return;
  }
  if (addRecent) AddRecentFile(project_.ProjectPath, false);
  ShowBackground(false, false);
  ++TreeRevision;
  ++ExpandAllRequests;
  ++TreeFocusRequests;
  project_.ProjectOpen = true;
}

void TMainLogic::Open() {
  Busy = true;
  std::string file = view_.AskOpenFile(core_.Config.DataDir);
  if (!file.empty() && CloseQuery()) OpenPath(PathWithoutIni(file), true);
  Busy = false;
  ApplyCommands();
}

void TMainLogic::OpenRecent(const std::string& caption) {
  if (caption.empty() || caption == UnknownText) return;
  Busy = true;
  if (CloseQuery()) OpenPath(caption, false);
  Busy = false;
  ApplyCommands();
}

void TMainLogic::Save() {
  Grid.Exit();
  if (!project_.ConfirmOverwrite()) return;
  project_.SaveProject();
  AddRecentFile(project_.ProjectPath, false);
  if (project_.ProjectPath == core_.Config.LastActive) SetLastActive("");
  ShowBackground(false, true);
  ApplyCommands();
}

void TMainLogic::SaveAs() {
  std::string file = view_.AskSaveFile(core_.Config.DataDir, project_.ProjectPath + ".INI");
  if (file.empty()) return;
  project_.ProjectPath = PathWithoutIni(file);
  Save();
}

void TMainLogic::CreateServerIni() {
  Grid.Exit();
  bool written = project_.WriteServerIni();
  Save();
  if (!written) return;
  SetLastActive(project_.ProjectPath);
  project_.ShowServerIniWritten();
}

bool TMainLogic::CloseQuery() {
  Grid.Exit();
  if (!project_.Modified) return true;
  switch (core_.Messages.Service().Show(MessageKind::Warning, SaveQuestion(), MessageButtons::YesNoAbort)) {
    case MessageAnswer::Yes: return project_.SaveProject();
    case MessageAnswer::No: return true;
    default: return false;
  }
}

void TMainLogic::AddRecentFile(const std::string& path, bool fromSettings) {
  auto& recent = core_.Config.Recent;
  bool found = std::find(recent.begin(), recent.end(), path) != recent.end();
  if (path.empty() || (found && !fromSettings)) return;
  if (!fromSettings) {
    std::move_backward(recent.begin(), recent.end() - 1, recent.end());
    recent[0] = path;
  }
  RecentItems.insert(RecentItems.begin(), path);
}

void TMainLogic::SetLastActive(const std::string& path) {
  LastActiveCaption = path.empty() ? UnknownText : path;
  LastActiveEnabled = !path.empty();
  core_.Config.LastActive = path;
}

void TMainLogic::Insert() {
  TStationNode* current = project_.CurrentNode;
  TStationNode* root = project_.Tree.Root();
  TMessages& messages = core_.Messages;
  if (!current) {
    messages.ShowErrorMsg(3);
    return;
  }
  if (current != root) {
    const TZFM* zfm = root ? root->CentralModem() : nullptr;
    if (!zfm || !zfm->IsNestingMode() || current->Level() >= 3) {
      messages.ShowErrorMsg(5);
      return;
    }
  }
  TStationEditor editor(project_, false);
  const bool ok = view_.RunStationDialog(editor);
  if (!ok) editor.Cancel();
  if (ok) {
    std::unique_ptr<TFuMo> st = editor.TakeNewStation();
    if (const TFuMo* parent = current->Station()) {
      st->Parent1 = parent->Address;
      const TStationNode* grand = current->Parent();
      if (grand && grand != root && grand->Station()) st->Parent2 = grand->Station()->Address;
    }
    std::string name = st->Name;
    TStationNode* node = project_.Tree.AddChild(current, name, std::move(st));
    ++TreeRevision;
    Select(node);
  } else if (project_.Tree.Selected() != current) {
    Select(current);
  }
  ApplyCommands();
}

void TMainLogic::Edit() {
  TStationNode* current = project_.CurrentNode;
  if (!current) return;
  project_.StationEditFlag = true;
  if (current == project_.Tree.Root()) {
    CentralModemCommand();
  } else {
    TStationEditor editor(project_, true);
    if (!view_.RunStationDialog(editor)) editor.Cancel();
  }
  project_.StationEditFlag = false;
  if (TStationNode* node = project_.CurrentNode) {
    if (node->Data()) node->SetText(node->Data()->Name);
    ++TreeRevision;
    ShowNode(node);
  }
}

void TMainLogic::Delete() {
  TStationNode* current = project_.CurrentNode;
  if (!current) return;
  if (current == project_.Tree.Root()) {
    core_.Messages.ShowErrorMsg(6);
    return;
  }
  TLanguageTexts& texts = core_.Texts;
  texts.SetTextSection("FML");
  std::string question = (current->HasChildren() ? texts.TranslateText("@1") : std::string()) +
                         platform::FormatText(texts.TranslateText("@2"), {current->Text()});
  if (core_.Messages.Service().Show(MessageKind::Confirmation, question, MessageButtons::YesNo) != MessageAnswer::Yes)
    return;
  TStationNode* parent = current->Parent();
  project_.Tree.Delete(current);
  project_.Modified = true;
  ++TreeRevision;
  Select(parent);
  ApplyCommands();
}

bool TMainLogic::KeyDown(TTreeKey key) {
  TCommandStates s = project_.UpdateCommands();
  switch (key) {
    case TTreeKey::Enter:
      if (s.Edit) Edit();
      return true;
    case TTreeKey::Insert:
      if (s.Insert) Insert();
      return true;
    case TTreeKey::Delete:
      if (s.Delete) Delete();
      return true;
    case TTreeKey::Other: break;
  }
  return false;
}

TContextStates TMainLogic::ContextPopup() const {
  if (!project_.CurrentNode) return {};
  return {project_.CanInsertStation(), true, project_.CanDeleteStation()};
}

void TMainLogic::EndDrag(TStationNode* target) {
  TStationTree& tree = project_.Tree;
  TStationNode* source = tree.Selected();
  if (!source || !target || source == target) return;
  const TZFM* zfm = tree.Root() ? tree.Root()->CentralModem() : nullptr;
  // Without nesting a station may only go under the central modem, as with Insert.
  const bool nestingRefused = target != tree.Root() && !(zfm && zfm->IsNestingMode());
  if (source->HasChildren() || target->Level() >= 3 || nestingRefused) {
    core_.Messages.Service().Beep();
    return;
  }
  std::string text = source->Text();
  std::unique_ptr<TCustomFM> data = source->TakeData();
  tree.Delete(source);
  TStationNode* moved = tree.AddChild(target, text, std::move(data));
  project_.Modified = true;
  tree.AlphaSort(project_.Collation());
  ++TreeRevision;
  Select(moved);
  ApplyCommands();
}

}  // namespace configurator
