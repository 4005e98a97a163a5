#pragma once
// A two-column key/value grid with a fixed title row: whole-row selection, no editing, no
// column resizing. Data rows are numbered from 1, as the operator sees them under the title.
#include <QString>
#include <QTableWidget>

namespace toolkit {

class KeyValueGrid : public QTableWidget {
  Q_OBJECT
 public:
  KeyValueGrid(const QString& keyTitle, const QString& valueTitle, int rows, QWidget* parent = nullptr);

  int dataRowCount() const { return rowCount(); }
  QString key(int row) const;
  void setKey(int row, const QString& key);
  QString valueAt(int row) const;

  /// Value of the first row whose key equals the text; empty when there is none.
  QString value(const QString& key) const;
  /// Sets the value of the first row whose key equals the text. Without such a row the key
  /// goes into the first row whose key is empty, or into a new row at the end.
  void setValue(const QString& key, const QString& value);

  /// Selected data row (1-based), 0 when none is selected.
  int selectedRow() const;
  void selectRow(int row);
  /// Key of the selected row; empty when none is selected.
  QString selectedKey() const;

 signals:
  /// A double click anywhere on the grid: a data row (after selecting it), the title row, or
  /// the empty space below the last row (the selection is then kept).
  void dblClick();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  int findKey(const QString& key) const;
  /// Passes a mouse event to the view; one that lands on no row leaves the selection alone.
  template <typename Base>
  void keepSelectionOffTheRows(QMouseEvent* event, Base base);
  QTableWidgetItem* cell(int row, int column) const;
};

}  // namespace toolkit
