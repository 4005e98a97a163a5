// The selected unit's voltages in the six cell tables and the total label.
#include <QComboBox>
#include <QLabel>

#include "app/Unit1.h"
#include "common/NumberText.h"
#include "toolkit/ArrowSpinBox.h"
#include "toolkit/KeyValueGrid.h"

namespace {

/// Shown for every cell above the unit's announced count.
const QString kAbsentMark = QStringLiteral("-----------");

QString numberText(double volts, char separator) {
  return QString::fromStdString(common::formatGeneral(volts, separator));
}

}  // namespace

void TForm1::ShowUnit(int u) {
  const int count = CellCount[u];
  const acquisition::CellRow& cells = CellVoltage[u];
  for (int t = 1; t <= 6; ++t) {
    toolkit::KeyValueGrid* table = cellTable(t);
    for (int r = 1; r <= 18; ++r) {
      const int k = 6 * (r - 1) + t;
      // Cells above the count may still hold values of an earlier, longer frame; they are
      // kept in memory but not shown.
      table->setValue(QString::number(k), k > count ? kAbsentMark : numberText(cells[k], decimalSeparator()));
    }
  }
  measureV->setText(numberText(TotalVoltage[u], decimalSeparator()) + QStringLiteral("V  "));
}

void TForm1::SpinEdit2Change() {
  ShowUnit(SpinEdit2->value());
  // The curve on show follows the newly selected unit.
  if (DBChart1->isVisible()) ShowHistory(ComboBox1->currentText());
}
