#pragma once
// A grid of text rows with column headers ("tabs") whose widths the user
// drags: one selected row or none, hidden integers per row, a colour per
// row, in-place editing of chosen columns (text, or a list of choices) and
// rows dragged to another place. The grid never changes its rows on its
// own: an edit or a drop is reported, and the owner decides and redraws.
#include <QStringList>
#include <QTreeWidget>
#include <vector>

namespace kavon::ui {

class UC_ListView : public QTreeWidget {
  Q_OBJECT
 public:
  explicit UC_ListView(QWidget* parent = nullptr);

  void SetColumns(const QStringList& headers, int hiddenInts);
  // A column edited in place (double click or F2): with choices, a list to
  // pick from; without, a text field.
  void SetEditable(int column, const QStringList& choices = {});

  int AddRow(const QStringList& texts);
  void SetCell(int row, int column, const QString& text);
  QString Cell(int row, int column) const;
  void SetHidden(int row, int index, int value);
  int Hidden(int row, int index) const;
  void SetRowColor(int row, const QColor& color);
  int RowCount() const { return topLevelItemCount(); }
  // -1 for none.
  int SelectedRow() const;
  void SelectRow(int row);

 signals:
  // A mouse button other than the right one released over a row.
  void RowClicked(int row);
  void CellEdited(int row, int column, const QString& text);
  // A row dragged and dropped onto the place of row to.
  void RowDropped(int from, int to);

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  friend class ListEditDelegate;
  int hiddenInts_ = 0;
  std::vector<QStringList> choices_;  // per column; empty: text
  std::vector<bool> editable_;
};

}  // namespace kavon::ui
