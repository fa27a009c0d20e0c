// The modal dialogs the explorer's windows open, as the windows' logic sees them: each is
// shown, read and closed within one call. The program's are Qt dialogs; tests script them.
#pragma once

#include <string>
#include <vector>

#include "opcclient/kopl_browser.h"
#include "opcclient/kopl_types.h"

namespace explorer {

class TExplorerDialogs {
 public:
  virtual ~TExplorerDialogs() = default;
  // The server selection dialog, its computer field preset with computer. True for OK; the
  // three fields are copied out in every case (computer as the user left it).
  virtual bool SelectServer(std::string& computer, std::string& prog_id, std::string& clsid_text) = 0;
  // The item browse dialog on the connection's browser. False at once when the browser has
  // no connected server; true for OK, with the chosen item IDs in ids.
  virtual bool BrowseItems(kopl::TKoplBrowser& browser, std::vector<std::string>& ids, bool start_at_root) = 0;
  // The group properties dialog; state is changed only on OK.
  virtual bool EditGroup(kopl::tGroupStateRec& state) = 0;
  // The group picker; the picked name, or "" for Cancel or no selection.
  virtual std::string SelectGroup(const std::vector<std::string>& names) = 0;
  // A one-line text entry; value is the text on OK.
  virtual bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value) = 0;
  // The session file dialogs; file_name is the dialog's file name, in and out.
  virtual bool OpenSessionFile(std::string& file_name) = 0;
  virtual bool SaveSessionFile(std::string& file_name) = 0;
};

}  // namespace explorer
