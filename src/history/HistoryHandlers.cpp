// The history curve view and printing.
#include <QChartView>
#include <QFrame>

#include "app/Unit1.h"
#include "toolkit/KeyValueGrid.h"

void TForm1::ShowHistory(const QString&) {}

void TForm1::ValueListEditor1DblClick(toolkit::KeyValueGrid*) {}

void TForm1::measureVDblClick() {}

void TForm1::ComboBox1Change() {}

void TForm1::SpeedButton3Click() {
  DBChart1->hide();
  Panel3->hide();
}
