// The server selection dialog's logic: the servers of a computer under their categories, and
// the ProgID and class ID of the selected one.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "opcclient/kopl_server_browser.h"
#include "platform/message_service.h"

namespace explorer {

class TServerSelectModel {
 public:
  // A top-level node and the servers under it (indexes into the browser's list).
  struct Category {
    std::string Text;
    std::vector<int> Servers;
  };

  explicit TServerSelectModel(platform::MessageService& messages) : messages_(messages) {}

  kopl::TKoplServerBrowser& Browser() { return browser_; }
  const std::vector<Category>& Categories() const { return categories_; }
  const kopl::TKoplServerItem& Server(int index) { return browser_.GetItem(index); }

  // The fields "Servername" and "Server Class ID".
  const std::string& ProgID() const { return prog_id_; }
  const std::string& ClassID() const { return clsid_; }

  // Lists the servers of computer (blank: this one) under "DA Servers 1.0", "DA Servers 2.0"
  // and "AE Servers 1.0", with the hourglass meanwhile; says so when there are none. Failures
  // of the search raise after the hourglass is gone.
  void Search(const std::string& computer);
  // Called once the old tree is gone, before the search (the window lets its messages run).
  std::function<void()> OnCleared;
  // A node was selected: a server fills both fields, a category (server -1) empties them.
  void Select(int server);
  // "&Ok" ends with OK only when a server name is there.
  bool OkResult() const { return !prog_id_.empty(); }

 private:
  Category& CategoryNode(const std::string& text);

  platform::MessageService& messages_;
  kopl::TKoplServerBrowser browser_;
  std::vector<Category> categories_;
  std::string prog_id_;
  std::string clsid_;
};

}  // namespace explorer
