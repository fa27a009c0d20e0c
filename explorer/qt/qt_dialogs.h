// The explorer's dialogs as Qt windows.
#pragma once

#include <QPointer>
#include <QWidget>

#include "explorer/explorer_dialogs.h"
#include "platform/message_service.h"

namespace explorer {

class TQtDialogs final : public TExplorerDialogs {
 public:
  explicit TQtDialogs(platform::MessageService& messages) : messages_(messages) {}
  // The window the dialogs belong to (the main window once it exists).
  void SetParent(QWidget* parent) { parent_ = parent; }

  bool SelectServer(std::string& computer, std::string& prog_id, std::string& clsid_text) override;
  bool BrowseItems(kopl::TKoplBrowser& browser, std::vector<std::string>& ids, bool start_at_root) override;
  bool EditGroup(kopl::tGroupStateRec& state) override;
  std::string SelectGroup(const std::vector<std::string>& names) override;
  bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value) override;
  bool OpenSessionFile(std::string& file_name) override;
  bool SaveSessionFile(std::string& file_name) override;

 private:
  platform::MessageService& messages_;
  QPointer<QWidget> parent_;
};

}  // namespace explorer
