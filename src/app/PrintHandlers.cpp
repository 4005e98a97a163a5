// Printing: the print button, and the report of the unit on show.
#include <QDateTime>

#include "app/Unit1.h"
#include "report/ChartPrintPreview.h"
#include "report/RvSystem.h"
#include "report/UnitReport.h"
#include "toolkit/ArrowSpinBox.h"
#include "toolkit/QueryChart.h"

void TForm1::SpeedButton2Click() {
  if (DBChart1->isVisible()) {
    chartPreview->run(DBChart1, DBChart1PrintSettings);
    DBChart1->update();
    return;
  }
  RvSystem1->Execute(this);
}

void TForm1::RvSystem1Print(report::PageWriter& Sender) {
  // The writer lets events run after every text, and a reply may change the tables meanwhile:
  // the unit and its cells are taken once, so the page shows one moment of one unit.
  const int N = SpinEdit2->value();
  const int cellCount = polling->tables.CellCount[N];
  const acquisition::CellRow cells = polling->tables.CellVoltage[N];
  report::printUnitReport(Sender, N, cellCount, cells, QDateTime::currentDateTime(), decimalSeparator());
}
