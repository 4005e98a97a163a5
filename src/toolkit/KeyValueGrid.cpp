#include "toolkit/KeyValueGrid.h"

#include <QHeaderView>
#include <QMouseEvent>

namespace toolkit {

KeyValueGrid::KeyValueGrid(const QString& keyTitle, const QString& valueTitle, int rows, QWidget* parent)
    : QTableWidget(rows, 2, parent) {
  setHorizontalHeaderLabels({keyTitle, valueTitle});
  for (int c = 0; c < 2; ++c) horizontalHeaderItem(c)->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  verticalHeader()->setVisible(false);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(24);
  verticalHeader()->setMinimumSectionSize(24);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  horizontalHeader()->setSectionsClickable(false);
  horizontalHeader()->setFixedHeight(24);
  horizontalHeader()->setHighlightSections(false);
  setColumnWidth(0, 62);
  setColumnWidth(1, 61);
  setShowGrid(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setWordWrap(false);
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < 2; ++c) setItem(r, c, new QTableWidgetItem());
  horizontalHeader()->viewport()->installEventFilter(this);
}

QTableWidgetItem* KeyValueGrid::cell(int row, int column) const {
  if (row < 1 || row > rowCount()) return nullptr;
  return item(row - 1, column);
}

QString KeyValueGrid::key(int row) const {
  const auto* it = cell(row, 0);
  return it ? it->text() : QString();
}

void KeyValueGrid::setKey(int row, const QString& key) {
  if (auto* it = cell(row, 0)) it->setText(key);
}

QString KeyValueGrid::valueAt(int row) const {
  const auto* it = cell(row, 1);
  return it ? it->text() : QString();
}

int KeyValueGrid::findKey(const QString& key) const {
  for (int r = 1; r <= rowCount(); ++r)
    if (item(r - 1, 0)->text() == key) return r;
  return 0;
}

QString KeyValueGrid::value(const QString& key) const {
  const int r = findKey(key);
  return r ? valueAt(r) : QString();
}

void KeyValueGrid::setValue(const QString& key, const QString& value) {
  int r = findKey(key);
  if (!r) {
    r = findKey(QString());
    if (!r) {
      insertRow(rowCount());
      r = rowCount();
      for (int c = 0; c < 2; ++c) setItem(r - 1, c, new QTableWidgetItem());
    }
    item(r - 1, 0)->setText(key);
  }
  QTableWidgetItem* v = item(r - 1, 1);
  if (v->text() != value) v->setText(value);
}

int KeyValueGrid::selectedRow() const {
  const auto rows = selectionModel()->selectedRows();
  return rows.isEmpty() ? 0 : rows.first().row() + 1;
}

void KeyValueGrid::selectRow(int row) {
  if (row >= 1 && row <= rowCount()) QTableWidget::selectRow(row - 1);
}

QString KeyValueGrid::selectedKey() const {
  const int r = selectedRow();
  return r ? key(r) : QString();
}

template <typename Base>
void KeyValueGrid::keepSelectionOffTheRows(QMouseEvent* event, Base base) {
  if (indexAt(event->position().toPoint()).isValid()) {
    base();
    return;
  }
  // Single selection clears the selection when a click ends on no item; below the last row the
  // table keeps the row it had, as its double click needs it.
  const SelectionMode mode = selectionMode();
  setSelectionMode(QAbstractItemView::NoSelection);
  base();
  setSelectionMode(mode);
}

void KeyValueGrid::mousePressEvent(QMouseEvent* event) {
  keepSelectionOffTheRows(event, [&] { QTableWidget::mousePressEvent(event); });
}

void KeyValueGrid::mouseReleaseEvent(QMouseEvent* event) {
  keepSelectionOffTheRows(event, [&] { QTableWidget::mouseReleaseEvent(event); });
}

void KeyValueGrid::mouseDoubleClickEvent(QMouseEvent* event) {
  // Let the view select the row under the pointer first, then report the double click.
  keepSelectionOffTheRows(event, [&] { QTableWidget::mouseDoubleClickEvent(event); });
  emit dblClick();
}

bool KeyValueGrid::eventFilter(QObject* watched, QEvent* event) {
  if (watched == horizontalHeader()->viewport() && event->type() == QEvent::MouseButtonDblClick)
    emit dblClick();
  return QTableWidget::eventFilter(watched, event);
}

}  // namespace toolkit
