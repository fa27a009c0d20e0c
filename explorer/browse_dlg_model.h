// The item browse dialog's logic: the branches and leaves at the browser's position under
// the dialog's filters, moving up and into branches, and collecting the chosen item IDs.
#pragma once

#include <string>
#include <vector>

#include "opcclient/kopl_browser.h"

namespace explorer {

// The data-type list of the dialog: "EMPTY", "NULL", "I2", ... "LPWSTR"; an entry's index is
// the VARTYPE the browser filters by ("undef" at 15).
const std::vector<std::string>& BrowseDataTypeNames();

class TBrowseDlgModel {
 public:
  struct Entry {
    std::string Text;
    bool Branch = false;  // image 0; a leaf has image 1
  };

  // The browser is the connection's own, which the explorer window uses too: the dialog's
  // filters and moves last only as long as the dialog, and its destruction puts the browser's
  // filters and position back as they were.
  TBrowseDlgModel(kopl::TKoplBrowser& browser, bool start_at_root);
  ~TBrowseDlgModel();
  TBrowseDlgModel(const TBrowseDlgModel&) = delete;
  TBrowseDlgModel& operator=(const TBrowseDlgModel&) = delete;

  // The dialog's fields, set by the window before Refresh.
  std::string Filter;
  int DataType = 0;  // index into BrowseDataTypeNames
  bool Writable = false;
  bool Readable = false;

  const std::vector<Entry>& Entries() const { return entries_; }
  // The last branch name of the browser's path, or "root".
  const std::string& PathText() const { return path_text_; }

  // On show: the data-type list at its first entry, the root when asked for, then Refresh.
  void Show();
  // The entries at the browser's position under the filters; the first is to be selected.
  void Refresh();
  // Up one branch when not at the root.
  void Back();
  // Into the branch at index; nothing for a leaf.
  void EnterBranch(int index);
  // "Open": true when the dialog closes with OK, the chosen item IDs in ids. With the filter
  // field focused only Refresh; a selected branch (the first selected entry) is entered; else
  // every selected leaf, in list order.
  bool Open(bool filter_focused, const std::vector<int>& selected, std::vector<std::string>& ids);

 private:
  kopl::TKoplBrowser& browser_;
  bool start_at_root_;
  // The browser as the dialog found it.
  std::string saved_filter_;
  kopl::OPCADatatype saved_datatype_;
  uint32_t saved_rights_;
  std::vector<std::string> saved_path_;
  std::vector<Entry> entries_;
  std::string path_text_ = "root";
};

}  // namespace explorer
