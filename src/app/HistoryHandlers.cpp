// The history view's handlers; the view itself is the HistoryView's.
#include <QComboBox>

#include "app/Unit1.h"
#include "history/core/Selector.h"
#include "toolkit/KeyValueGrid.h"

void TForm1::ShowHistory(const QString& S) { history->show(S); }

void TForm1::ValueListEditor1DblClick(toolkit::KeyValueGrid* Sender) {
  // Until the operator clicks in a table, its selection is its first data row.
  const int row = Sender->selectedRow();
  ShowHistory(Sender->key(row > 0 ? row : 1));
}

void TForm1::measureVDblClick() { ShowHistory(history::totalText()); }

void TForm1::ComboBox1Change() { history->selectorEdited(); }

void TForm1::SpeedButton3Click() { history->hide(); }
