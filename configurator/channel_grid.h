// The channel grid of the main window without its window: the cells of the selected station
// (fixed header row, fixed label column, then name, unit, factor, offset and decimals of each
// channel), the check of an edited cell and its storing into the channel record.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "configurator/model.h"

namespace configurator {

class TMessages;
class TProject;

// A real in the shortest general decimal form of at most 15 significant digits, "." as the
// point whatever the locale: 0.1, -0.25, 100, 1E-5, 1.5E20.
std::string GeneralText(double value);
// A decimal number as a user types it: blanks around it, "." or "," as the point, an exponent.
// Nothing for any other text and for infinities.
std::optional<double> ParseReal(const std::string& text);
std::optional<int32_t> ParseInteger(const std::string& text);

// Widths of the six columns: 64, 120, 64, 64, 64, 64, the second grown until they fill the
// client width. A column that least (the texts of its fixed cells) wants wider takes the width
// from the second.
std::array<int, 6> ChannelColumnWidths(int clientWidth, const std::array<int, 6>& least = {});

// Formats of the label column per kind, each with one "%d" for the running number.
struct TChannelLabelFormats {
  std::string AA = "AnaOut %d";
  std::string AE = "AnaIn %d";
  std::string BA = "DigOut %d";
  std::string BE = "DigIn %d";
};
// The label of every channel: its kind's format with a number that starts at 1 and starts
// again wherever the kind differs from the channel before.
std::vector<std::string> ChannelLabels(const std::vector<TWert>& channels, const TChannelLabelFormats& formats);

class TChannelGrid {
 public:
  static constexpr int kColumns = 6;
  enum Column { colLabel, colName, colUnit, colFactor, colOffset, colDecimals };

  TChannelGrid(TProject& project, TMessages& messages) : project_(project), messages_(messages) {}

  // The header row's texts (column 0 stays empty).
  void SetHeaders(const std::array<std::string, kColumns>& headers);
  TChannelLabelFormats LabelFormats;

  // The cells of station: one row per channel below the header row.
  void Fill(const TFuMo& station);
  int RowCount() const { return int(cells_.size()); }
  const std::string& Cell(int col, int row) const { return cells_[size_t(row)][size_t(col)]; }
  // What the in-place editor holds while the user types.
  void SetCellText(int col, int row, const std::string& text);
  // The same as the window has it: a character without a Windows-1252 form refuses the cell
  // when it is committed (stored, it would become "?").
  void SetCellText(int col, int row, std::u16string_view typed);
  // The text a data cell shows: the channel record's own value of the column.
  static std::string ValueText(const TWert& channel, int col);

  // The user moves to another cell: allowed only when the cell left is accepted.
  bool SelectCell(int col, int row);
  // Focus leaves the grid (also before Save and before another node is shown): a refused cell
  // gets its stored value back.
  void Exit();
  // Escape in the cell's editor: the cell's text is the channel's stored value again.
  void RevertCell(int col, int row);
  // Checks the cell's text and stores it into the channel of the current station. False when
  // it is refused (a message has been shown). A value taken as it was is no change to save.
  bool CommitChannelCell(int col, int row);

  // The cell selected last.
  int Col = 1;
  int Row = 1;
  // Counts the changes the window has to show again.
  unsigned Revision = 0;

 private:
  TFuMo* CurrentStation() const;
  bool Refuse(int message, const std::string& extra = {});

  TProject& project_;
  TMessages& messages_;
  std::array<std::string, kColumns> headers_;
  std::vector<std::array<std::string, kColumns>> cells_{1};
  // The cell whose typed text holds a character the code page lacks, and that character.
  struct Uncodable {
    int col = 0, row = 0;
    char32_t c = 0;
  } uncodable_;
};

}  // namespace configurator
