#include "ui/UC_ListView.h"

#include <QComboBox>
#include <QDropEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QStyledItemDelegate>

namespace kavon::ui {

// Edits a cell in place and reports the new text instead of storing it.
class ListEditDelegate : public QStyledItemDelegate {
 public:
  explicit ListEditDelegate(UC_ListView* view) : QStyledItemDelegate(view), view_(view) {}

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const auto column = static_cast<size_t>(index.column());
    if (column >= view_->editable_.size() || !view_->editable_[column]) return nullptr;
    if (view_->choices_[column].isEmpty()) return QStyledItemDelegate::createEditor(parent, option, index);
    auto* combo = new QComboBox(parent);
    combo->addItems(view_->choices_[column]);
    return combo;
  }
  void setEditorData(QWidget* editor, const QModelIndex& index) const override {
    if (auto* combo = qobject_cast<QComboBox*>(editor)) {
      combo->setCurrentText(index.data().toString());
      return;
    }
    QStyledItemDelegate::setEditorData(editor, index);
  }
  void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override {
    QString text;
    if (auto* combo = qobject_cast<QComboBox*>(editor)) text = combo->currentText();
    if (auto* line = qobject_cast<QLineEdit*>(editor)) text = line->text();
    if (text == index.data().toString()) return;
    // Reported after the editor has closed: the owner may redraw every row.
    QMetaObject::invokeMethod(
        view_, [view = view_, row = index.row(), column = index.column(), text] { emit view->CellEdited(row, column, text); },
        Qt::QueuedConnection);
  }

 private:
  UC_ListView* view_;
};

UC_ListView::UC_ListView(QWidget* parent) : QTreeWidget(parent) {
  setRootIsDecorated(false);
  setUniformRowHeights(true);
  setAlternatingRowColors(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
  setDragDropMode(QAbstractItemView::InternalMove);
  setDefaultDropAction(Qt::MoveAction);
  setItemDelegate(new ListEditDelegate(this));
  header()->setStretchLastSection(true);
  header()->setSectionsMovable(false);
}

void UC_ListView::SetColumns(const QStringList& headers, int hiddenInts) {
  setColumnCount(static_cast<int>(headers.size()));
  setHeaderLabels(headers);
  hiddenInts_ = hiddenInts;
  choices_.assign(static_cast<size_t>(headers.size()), {});
  editable_.assign(static_cast<size_t>(headers.size()), false);
}

void UC_ListView::SetEditable(int column, const QStringList& choices) {
  if (column < 0 || column >= static_cast<int>(editable_.size())) return;
  editable_[static_cast<size_t>(column)] = true;
  choices_[static_cast<size_t>(column)] = choices;
}

int UC_ListView::AddRow(const QStringList& texts) {
  auto* item = new QTreeWidgetItem(this, texts);
  // Rows are dragged between rows, never into one.
  item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsDragEnabled | Qt::ItemIsEditable);
  return RowCount() - 1;
}

void UC_ListView::SetCell(int row, int column, const QString& text) {
  if (auto* item = topLevelItem(row)) item->setText(column, text);
}

QString UC_ListView::Cell(int row, int column) const {
  const auto* item = topLevelItem(row);
  return item ? item->text(column) : QString();
}

void UC_ListView::SetHidden(int row, int index, int value) {
  if (index < 0 || index >= hiddenInts_) return;
  if (auto* item = topLevelItem(row)) item->setData(0, Qt::UserRole + index, value);
}

int UC_ListView::Hidden(int row, int index) const {
  const auto* item = topLevelItem(row);
  return item ? item->data(0, Qt::UserRole + index).toInt() : 0;
}

void UC_ListView::SetRowColor(int row, const QColor& color) {
  auto* item = topLevelItem(row);
  if (!item) return;
  for (int c = 0; c < columnCount(); ++c) item->setForeground(c, color);
}

int UC_ListView::SelectedRow() const {
  const auto items = selectedItems();
  return items.isEmpty() ? -1 : indexOfTopLevelItem(items.front());
}

void UC_ListView::SelectRow(int row) {
  auto* item = topLevelItem(row);
  if (!item) {
    clearSelection();
    setCurrentItem(nullptr);
    return;
  }
  setCurrentItem(item);
  item->setSelected(true);
  scrollToItem(item);
}

void UC_ListView::mouseReleaseEvent(QMouseEvent* event) {
  QTreeWidget::mouseReleaseEvent(event);
  if (event->button() == Qt::RightButton) return;
  const int row = SelectedRow();
  if (row >= 0) emit RowClicked(row);
}

void UC_ListView::dropEvent(QDropEvent* event) {
  const int from = SelectedRow();
  const QModelIndex target = indexAt(event->position().toPoint());
  int to = target.isValid() ? target.row() : RowCount() - 1;
  // Dropped on the lower half of a row: after it.
  if (target.isValid() && event->position().y() > visualRect(target).center().y() && to < from) ++to;
  if (target.isValid() && event->position().y() < visualRect(target).center().y() && to > from) --to;
  event->setDropAction(Qt::IgnoreAction);
  event->accept();
  if (from >= 0 && to != from) emit RowDropped(from, to);
}

}  // namespace kavon::ui
