#include "configurator/windows/channel_grid_widget.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <algorithm>

#include "configurator/channel_grid.h"
#include "configurator/project.h"
#include "configurator/windows/qt_text.h"
#include "platform/text_format.h"

namespace configurator::windows {

namespace {

constexpr char kColumnProperty[] = "gridColumn";
constexpr char kRowProperty[] = "gridRow";

// Text sits 2 pixels right of and 4 pixels below a cell's top-left corner.
constexpr int kTextLeft = 2;
constexpr int kTextTop = 4;
void DrawCellText(QPainter* p, const QRect& cell, const QString& text) {
  p->setPen(Qt::black);
  p->drawText(cell.adjusted(kTextLeft, kTextTop, 0, 0), Qt::AlignLeft | Qt::AlignTop, text);
}

QColor KindColour(const std::string& kind) {
  if (kind == "AA") return QColor(0x00, 0xFF, 0xFF);  // aqua
  if (kind == "AE") return QColor(0x00, 0xFF, 0x00);  // lime
  if (kind == "BA") return QColor(0xFF, 0x00, 0xFF);  // fuchsia
  if (kind == "BE") return QColor(0xFF, 0xFF, 0x00);  // yellow
  return Qt::white;
}

// The header row (button face) and the label column (coloured by kind) draw themselves.
class FixedCells : public QHeaderView {
 public:
  FixedCells(Qt::Orientation o, TChannelGridWidget* grid) : QHeaderView(o, grid), grid_(grid) {}

 protected:
  void paintSection(QPainter* p, const QRect& rect, int section) const override {
    p->save();
    QColor background = palette().color(QPalette::Button);
    QString text;
    if (orientation() == Qt::Horizontal) {
      text = Q(grid_->Grid().Cell(section + 1, 0));
    } else if (section + 1 < grid_->Grid().RowCount()) {
      text = Q(grid_->Grid().Cell(0, section + 1));
      if (const TWert* w = grid_->Channel(section)) background = KindColour(w->Kind);
    }
    p->fillRect(rect, background);
    p->setPen(Qt::gray);
    p->drawRect(rect.adjusted(0, 0, -1, -1));
    DrawCellText(p, rect, text);
    p->restore();
  }

 private:
  TChannelGridWidget* grid_;
};

// Data cells show the channel record's own values; the editor works on the grid's cell text,
// which the grid takes into the channel when the editor is left.
class CellDelegate : public QStyledItemDelegate {
 public:
  explicit CellDelegate(TChannelGridWidget* grid) : QStyledItemDelegate(grid), grid_(grid) {}

  void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    p->save();
    p->fillRect(option.rect, Qt::white);
    if (const TWert* w = grid_->Channel(index.row()))
      DrawCellText(p, option.rect, Q(TChannelGrid::ValueText(*w, index.column() + 1)));
    if (option.state & QStyle::State_HasFocus) {
      p->setPen(QPen(Qt::black, 1, Qt::DotLine));
      p->drawRect(option.rect.adjusted(0, 0, -1, -1));
    }
    p->restore();
  }
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const override {
    auto* edit = new QLineEdit(parent);
    edit->setFrame(false);
    const int col = index.column() + 1, row = index.row() + 1;
    connect(edit, &QLineEdit::textEdited, edit, [g = grid_, col, row](const QString& text) {
      g->Grid().SetCellText(col, row, U16(text));
    });
    edit->setProperty(kColumnProperty, col);
    edit->setProperty(kRowProperty, row);
    return edit;
  }
  void setEditorData(QWidget* editor, const QModelIndex& index) const override {
    static_cast<QLineEdit*>(editor)->setText(Q(grid_->Grid().Cell(index.column() + 1, index.row() + 1)));
  }
  void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override {
    model->setData(index, static_cast<QLineEdit*>(editor)->text());
  }

 protected:
  // Escape puts back the text from before the edit, the channel's stored value; the editor
  // stays open, as editing is always on.
  bool eventFilter(QObject* object, QEvent* event) override {
    auto* edit = qobject_cast<QLineEdit*>(object);
    if (edit && event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
      const int col = edit->property(kColumnProperty).toInt(), row = edit->property(kRowProperty).toInt();
      grid_->Grid().RevertCell(col, row);
      edit->setText(Q(grid_->Grid().Cell(col, row)));
      edit->selectAll();
      return true;
    }
    return QStyledItemDelegate::eventFilter(object, event);
  }

 private:
  TChannelGridWidget* grid_;
};

}  // namespace

TChannelGridWidget::TChannelGridWidget(QWidget* parent, TChannelGrid& grid, TProject& project,
                                       std::function<void()> changed)
    : QTableWidget(parent), grid_(grid), project_(project), changed_(std::move(changed)) {
  setColumnCount(TChannelGrid::kColumns - 1);
  setHorizontalHeader(new FixedCells(Qt::Horizontal, this));
  setVerticalHeader(new FixedCells(Qt::Vertical, this));
  horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(22);
  horizontalHeader()->setFixedHeight(22);
  setItemDelegate(new CellDelegate(this));
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::AllEditTriggers);
  setTabKeyNavigation(true);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setShowGrid(true);
}

const TWert* TChannelGridWidget::Channel(int row) const {
  const TFuMo* st = project_.CurrentNode ? project_.CurrentNode->Station() : nullptr;
  if (!st || row < 0 || size_t(row) >= st->Channels.size()) return nullptr;
  return &st->Channels[size_t(row)];
}

void TChannelGridWidget::SetupColumns() {
  const int client = width() - 2 * frameWidth() - verticalScrollBar()->sizeHint().width();
  // The fixed cells' texts stay whole: the headers, and the labels up to two-digit numbers.
  auto fit = [](const QHeaderView* h, const std::string& text) {
    return 2 * kTextLeft + h->fontMetrics().horizontalAdvance(Q(text));
  };
  std::array<int, 6> least{};
  const TChannelLabelFormats& f = grid_.LabelFormats;
  for (const std::string* format : {&f.AA, &f.AE, &f.BA, &f.BE})
    least[0] = std::max(least[0], fit(verticalHeader(), platform::FormatText(*format, {99})));
  for (int c = 1; c < TChannelGrid::kColumns; ++c) least[size_t(c)] = fit(horizontalHeader(), grid_.Cell(c, 0));
  const std::array<int, 6> w = ChannelColumnWidths(client, least);
  verticalHeader()->setFixedWidth(w[0]);
  for (int c = 1; c < TChannelGrid::kColumns; ++c) setColumnWidth(c - 1, w[size_t(c)]);
}

void TChannelGridWidget::ShowCells() {
  showing_ = true;
  filling_ = true;
  const int rows = grid_.RowCount() - 1;
  if (rowCount() != rows) setRowCount(rows);
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < TChannelGrid::kColumns - 1; ++c) {
      const QString text = Q(grid_.Cell(c + 1, r + 1));
      QTableWidgetItem* it = item(r, c);
      if (!it)
        setItem(r, c, new QTableWidgetItem(text));
      else if (it->text() != text)
        it->setText(text);
    }
  }
  // The grid keeps the cell selected last, as long as the rows reach it.
  if (grid_.Row - 1 < rows && (currentRow() != grid_.Row - 1 || currentColumn() != grid_.Col - 1))
    setCurrentCell(grid_.Row - 1, grid_.Col - 1);
  showing_ = false;
  filling_ = false;
  horizontalHeader()->viewport()->update();
  verticalHeader()->viewport()->update();
  viewport()->update();
}

void TChannelGridWidget::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  if (!showing_ && current.isValid()) {
    if (!grid_.SelectCell(current.column() + 1, current.row() + 1)) {
      // Refused: the cell left stays the current one, its editor open.
      showing_ = true;
      const QModelIndex back = model()->index(grid_.Row - 1, grid_.Col - 1);
      if (back.isValid()) selectionModel()->setCurrentIndex(back, QItemSelectionModel::ClearAndSelect);
      showing_ = false;
      return;
    }
    changed_();
  }
  QTableWidget::currentChanged(current, previous);
}

}  // namespace configurator::windows

namespace configurator::windows {

void TChannelGridWidget::focusInEvent(QFocusEvent* event) {
  QTableWidget::focusInEvent(event);
  if (currentIndex().isValid() && state() != QAbstractItemView::EditingState) edit(currentIndex());
}

bool TChannelGridWidget::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
  if (trigger == CurrentChanged && (filling_ || (!hasFocus() && !isAncestorOf(QApplication::focusWidget()))))
    return false;
  return QTableWidget::edit(index, trigger, event);
}

}  // namespace configurator::windows
