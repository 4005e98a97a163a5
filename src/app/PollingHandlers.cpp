// Start/stop, the ticks and the replies, as the window sees them; the polling itself is the
// PollingController's.
#include <QLineEdit>
#include <QPushButton>
#include <span>

#include "app/Unit1.h"
#include "comm/TComm.h"
#include "common/NumberText.h"
#include "toolkit/ArrowSpinBox.h"
#include "toolkit/Colors.h"
#include "toolkit/KeyValueGrid.h"
#include "toolkit/PollTimer.h"

namespace {

const QString kStart = QStringLiteral("开始");
const QString kStop = QStringLiteral("停止");
/// Shown for every cell above the unit's announced count.
const QString kAbsentMark = QStringLiteral("-----------");

QString numberText(double volts, char separator) { return QString::fromStdString(common::formatGeneral(volts, separator)); }

}  // namespace

void TForm1::SpeedButton1Click() {
  polling->ElapsedSeconds = 0;
  polling->UnitCount = static_cast<std::uint8_t>(SpinEdit1->value() & 0xFF);
  if (SpeedButton1->text() == kStart) {
    // Interval in ms through its text, so that a fraction of a millisecond is refused with the
    // integer conversion's message, naming the formatted product (1.5 for "0.0015").
    const double seconds = common::parseFloat(Edit1->text().toStdString(), decimalSeparator());
    const std::int32_t ms = common::parseInt(common::formatGeneral(seconds * 1000, decimalSeparator()));
    // The settings are saved before anything changes: a database that refuses them (locked by
    // another program, read-only) leaves the station stopped, as the box then says, instead of
    // a window that shows polling with no port open.
    SaveSettings(Edit1->text(), polling->UnitCount);
    SpeedButton1->setText(kStop);
    Edit1->setReadOnly(true);
    toolkit::setInputColor(Edit1, toolkit::clMenuBar());
    SpinEdit1->setEnabled(false);
    SpeedButton4->setEnabled(false);
    toolkit::setInputColor(SpinEdit1, toolkit::clMenuBar());
    SpinEdit2->setMaximum(SpinEdit1->value());
    sampleFailures_.clear();
    toolkit::setPanelColor(Panel1, toolkit::clLime());
    polling->start(seconds, ms, polling->UnitCount);
    return;
  }
  SpeedButton1->setText(kStart);
  Edit1->setReadOnly(false);
  toolkit::setInputColor(Edit1, toolkit::clWindow());
  SpinEdit1->setEnabled(true);
  SpeedButton4->setEnabled(true);
  toolkit::setInputColor(SpinEdit1, toolkit::clWindow());
  toolkit::setPanelColor(Panel1, toolkit::clRed());
  polling->stop();
}

void TForm1::Timer1Timer() {
  polling->tick();
  StoreSamples();
}

void TForm1::Comm1ReceiveData(comm::TComm*, const std::uint8_t* Buffer, std::uint16_t BufferLength) {
  // The block is read only within its own length: a short block from the line must not make us
  // read the component's memory beyond it.
  polling->receive(Buffer ? std::span<const std::uint8_t>(Buffer, BufferLength) : std::span<const std::uint8_t>());
}

void TForm1::replyShown(const acquisition::ReplyOutcome& outcome) {
  // Replies of other units only update memory; the operator sees them on selecting the unit.
  if (outcome.stored() && outcome.unit == SpinEdit2->value()) ShowUnit(outcome.unit);
}

void TForm1::ShowUnit(int u) {
  const acquisition::MeasurementTables& tables = polling->tables;
  const int count = tables.CellCount[u];
  const acquisition::CellRow& cells = tables.CellVoltage[u];
  for (int t = 1; t <= 6; ++t) {
    toolkit::KeyValueGrid* table = cellTable(t);
    for (int r = 1; r <= 18; ++r) {
      const int k = acquisition::cellAt(t, r);
      // Cells above the count may still hold values of an earlier, longer frame; they are
      // kept in memory but not shown.
      table->setValue(QString::number(k), k > count ? kAbsentMark : numberText(cells[k], decimalSeparator()));
    }
  }
  measureV->setText(numberText(tables.TotalVoltage[u], decimalSeparator()) + QStringLiteral("V  "));
}

void TForm1::SpinEdit2Change() {
  ShowUnit(SpinEdit2->value());
  history->unitChanged();
}
