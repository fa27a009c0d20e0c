// The explorer's dialogs for a benchmark: every one ends with Cancel.
#pragma once

#include <string>
#include <vector>

#include "explorer/explorer_dialogs.h"

namespace bench {

struct NoDialogs final : explorer::TExplorerDialogs {
  bool SelectServer(std::string&, std::string&, std::string&) override { return false; }
  bool BrowseItems(kopl::TKoplBrowser&, std::vector<std::string>&, bool) override { return false; }
  bool EditGroup(kopl::tGroupStateRec&) override { return false; }
  std::string SelectGroup(const std::vector<std::string>&) override { return ""; }
  bool InputQuery(const std::string&, const std::string&, std::string&) override { return false; }
  bool OpenSessionFile(std::string&) override { return false; }
  bool SaveSessionFile(std::string&) override { return false; }
};

}  // namespace bench
