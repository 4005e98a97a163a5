// The history curve view and printing.
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QFrame>
#include <QLineEdit>
#include <QPalette>
#include <QSignalBlocker>

#include "app/Unit1.h"
#include "history/core/Selector.h"
#include "history/core/ViewTexts.h"
#include "toolkit/ArrowSpinBox.h"
#include "toolkit/Colors.h"
#include "toolkit/KeyValueGrid.h"
#include "toolkit/QueryChart.h"

namespace {

/// Red text in the selector box while it names no curve; a quiet mark, since the text may be
/// half typed.
void markSelector(QComboBox* box, bool namesCurve) {
  QLineEdit* edit = box->lineEdit();
  if (!edit) return;
  QPalette p = edit->palette();
  p.setColor(QPalette::Text, namesCurve ? QApplication::palette(edit).color(QPalette::Text) : toolkit::clRed());
  edit->setPalette(p);
}

}  // namespace

void TForm1::ShowHistory(const QString& S) {
  // Only the total and the cell numbers 1..108 name a curve. Any other text (a half-typed
  // selector, an empty row key) leaves the view as it is: no statement is built from it.
  const std::optional<history::Selector> selector = history::parseSelector(S);
  if (!selector) return;
  const int N = SpinEdit2->value();

  DBChart1->clearSeries();
  const QString stamp = history::historyStamp(QDateTime::currentDateTime());
  HistoryStamp = stamp.toStdString();
  Label7->setText(history::captionText(N));
  {
    // The routine's own change of the text is no edit by the operator.
    const QSignalBlocker quiet(ComboBox1);
    if (ComboBox1->currentText() != S) {
      // The list entry too, so the open list shows it; the entry may already be the current
      // one under other typed text, and choosing it again would not rewrite that text.
      const int entry = ComboBox1->findText(S, Qt::MatchExactly);
      if (entry >= 0) ComboBox1->setCurrentIndex(entry);
      if (ComboBox1->currentText() != S) ComboBox1->setEditText(S);
    }
    markSelector(ComboBox1, true);
  }
  DBChart1->setTitleLine(history::chartTitle(N, ComboBox1->currentText(), stamp));
  ADOQuery2.setSQL(QString());
  DBChart1->setValueMaximum(selector->axisMaximum());
  ADOQuery2.setSQL(selector->curveStatement(N));
  ADOQuery2.Open();
  DBChart1->setEnabled(true);
  DBChart1->bindSeries(ADOQuery2, QStringLiteral("measureTime"), selector->valueColumn());
  DBChart1->show();
  Panel3->show();
}

void TForm1::ValueListEditor1DblClick(toolkit::KeyValueGrid* Sender) {
  // Until the operator clicks in a table, its selection is its first data row.
  const int row = Sender->selectedRow();
  ShowHistory(Sender->key(row > 0 ? row : 1));
}

void TForm1::measureVDblClick() { ShowHistory(history::totalText()); }

void TForm1::ComboBox1Change() {
  const QString text = ComboBox1->currentText();
  const bool namesCurve = history::parseSelector(text).has_value();
  markSelector(ComboBox1, namesCurve);
  if (namesCurve) ShowHistory(text);
}

void TForm1::SpeedButton3Click() {
  DBChart1->hide();
  Panel3->hide();
}
