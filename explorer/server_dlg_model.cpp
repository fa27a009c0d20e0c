#include "explorer/server_dlg_model.h"

namespace explorer {

TServerSelectModel::Category& TServerSelectModel::CategoryNode(const std::string& text) {
  for (Category& c : categories_) {
    if (c.Text == text) return c;
  }
  categories_.push_back({text, {}});
  return categories_.back();
}

void TServerSelectModel::Search(const std::string& computer) {
  {
    platform::WaitCursor wait(messages_);
    categories_.clear();
    if (OnCleared) OnCleared();
    browser_.ComputerName = computer;
    browser_.Search();
  }
  for (int i = 0; i < browser_.GetCount(); ++i) {
    const uint32_t flags = browser_.GetItem(i).ServerType;
    if (flags & kopl::svr_DA10) CategoryNode("DA Servers 1.0").Servers.push_back(i);
    if (flags & kopl::svr_DA20) CategoryNode("DA Servers 2.0").Servers.push_back(i);
    if (flags & kopl::svr_AE10) CategoryNode("AE Servers 1.0").Servers.push_back(i);
  }
  if (browser_.GetCount() == 0) {
    messages_.Show(platform::MessageKind::Plain, "no OPC Server found on selected Computer",
                   platform::MessageButtons::Ok);
  }
}

void TServerSelectModel::Select(int server) {
  if (server < 0 || server >= browser_.GetCount()) {
    prog_id_.clear();
    clsid_.clear();
    return;
  }
  prog_id_ = browser_.GetItem(server).ProgID;
  clsid_ = browser_.GetItem(server).CLSID;
}

}  // namespace explorer
