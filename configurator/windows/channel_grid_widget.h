// The channel grid sgKanal: a header row, a label column coloured by channel kind, and the
// name, unit, factor, offset and decimals of each channel, edited in place. TChannelGrid holds
// the cells and decides whether a cell may be left; this widget shows them and reports moves.
#pragma once

#include <QTableWidget>
#include <functional>

namespace configurator {
class TChannelGrid;
class TProject;
struct TWert;
}

namespace configurator::windows {

class TChannelGridWidget : public QTableWidget {
 public:
  // changed runs after every change the grid made to the project (a stored cell).
  TChannelGridWidget(QWidget* parent, TChannelGrid& grid, TProject& project, std::function<void()> changed);

  // Shows the cells of the grid object (only what changed, so an open editor stays open).
  void ShowCells();
  // The column widths for the grid's width (the name column takes what is left).
  void SetupColumns();
  // The channel record of a data row (0-based), or nullptr.
  const TWert* Channel(int row) const;
  TChannelGrid& Grid() { return grid_; }

 protected:
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
  // The editor is always shown: the current cell is edited as soon as the grid has the focus.
  void focusInEvent(QFocusEvent* event) override;
  // A cell made current while the keyboard is elsewhere, or by showing the cells of a station,
  // opens no editor: only the user's move to a cell does.
  bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
  using QTableWidget::edit;

 private:
  TChannelGrid& grid_;
  TProject& project_;
  std::function<void()> changed_;
  bool showing_ = false;
  bool filling_ = false;
};

}  // namespace configurator::windows
