// Start/stop and the polling cycle: one detector unit per tick of Timer1.
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QPushButton>
#include <exception>

#include "app/Unit1.h"
#include "comm/TComm.h"
#include "common/NumberText.h"
#include "protocol/Frames.h"
#include "toolkit/ArrowSpinBox.h"
#include "toolkit/Colors.h"
#include "toolkit/PollTimer.h"

namespace {

Q_LOGGING_CATEGORY(lcPolling, "cellstation.polling")

const QString kStart = QStringLiteral("开始");
const QString kStop = QStringLiteral("停止");
const QString kSilentUnit = QStringLiteral("号测试仪信号未返回");

std::int32_t unitCountText(const TForm1& form) { return common::parseInt(form.SpinEdit1->text().toStdString()); }

}  // namespace

void TForm1::SpeedButton1Click() {
  ElapsedSeconds = 0;
  UnitCount = static_cast<std::uint8_t>(SpinEdit1->value() & 0xFF);
  if (SpeedButton1->text() == kStart) {
    // Interval in ms through its text, so that a fraction of a millisecond is refused with the
    // integer conversion's message, naming the formatted product (1.5 for "0.0015").
    const double seconds = common::parseFloat(Edit1->text().toStdString(), decimalSeparator());
    const std::int32_t ms = common::parseInt(common::formatGeneral(seconds * 1000, decimalSeparator()));
    // An interval of 0 or below is accepted and never ticks: the window shows polling but no
    // request goes out, as with an interval of "0".
    Timer1->setInterval(ms);
    Timer1->setEnabled(true);
    SpeedButton1->setText(kStop);
    Edit1->setReadOnly(true);
    toolkit::setInputColor(Edit1, toolkit::clMenuBar());
    SpinEdit1->setEnabled(false);
    SpeedButton4->setEnabled(false);
    toolkit::setInputColor(SpinEdit1, toolkit::clMenuBar());
    SpinEdit2->setMaximum(unitCountText(*this));
    sampleFailures_.clear();
    SaveSettings(Edit1->text(), UnitCount);
    toolkit::setPanelColor(Panel1, toolkit::clLime());
    emit pollingStarted();
    qCInfo(lcPolling).noquote() << "polling started: interval" << Edit1->text() << "s," << UnitCount << "units";
    // A port that does not open is logged, with the reason, where the button is wired.
    Comm1->OpenPort();
    CurrentUnit = 0;
    ReplyReceived = true;
    return;
  }
  Timer1->setEnabled(false);
  SpeedButton1->setText(kStart);
  Edit1->setReadOnly(false);
  toolkit::setInputColor(Edit1, toolkit::clWindow());
  SpinEdit1->setEnabled(true);
  SpeedButton4->setEnabled(true);
  toolkit::setInputColor(SpinEdit1, toolkit::clWindow());
  toolkit::setPanelColor(Panel1, toolkit::clRed());
  Comm1->ClosePort();
  qCInfo(lcPolling) << "polling stopped";
  emit pollingStopped();
}

void TForm1::Timer1Timer() {
  if (!ReplyReceived) {
    Label8->setText(QString::number(CurrentUnit) + kSilentUnit);
    Label8->setVisible(true);
    AllReplied = false;
    emit unitSilent(CurrentUnit);
  }
  const std::int32_t n = unitCountText(*this);
  // At or above the count, not only at it: after a start whose port failed to open, CurrentUnit
  // keeps the previous run's value, which may lie above a count lowered since; an equality test
  // would then count upwards for ever and never poll unit 1 again.
  if (CurrentUnit >= n) {
    if (AllReplied) Label8->setText(QString());
    CurrentUnit = 1;
    AllReplied = true;
  } else {
    ++CurrentUnit;
  }
  ReplyReceived = false;
  Label9->setText(QStringLiteral("No.") + QString::number(CurrentUnit));
  const auto frame = protocol::requestFrame(CurrentUnit);
  // A request that cannot be queued (port closed) shows up as a silent unit at the next tick.
  const bool queued = Comm1->SendData(frame.data(), static_cast<std::uint16_t>(frame.size()));
  emit requestSent(CurrentUnit, queued);
  ElapsedSeconds += common::parseFloat(Edit1->text().toStdString(), decimalSeparator());

  const bool runDue = ElapsedSeconds >= 180.0;
  try {
    StoreSamples();
  } catch (const std::exception& e) {
    // A failed sampling run must not end polling: the timer comes back on and the run counts as
    // done, so the next attempt is a full sampling period later (retrying at every tick would
    // give the units that were stored a row per tick). The store has logged it; the operator
    // is told at once and then reminded at most once an hour while runs keep failing.
    ElapsedSeconds = 0;
    if (SpeedButton1->text() == kStop) Timer1->setEnabled(true);
    const QString text = QString::fromStdString(e.what());
    emit samplingFailed(text);
    // Last: the error box runs a nested event loop in which further ticks may come.
    if (sampleFailures_.failed()) guard().report(text);
    return;
  }
  if (runDue) sampleFailures_.clear();
}
