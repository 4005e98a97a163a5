// Settings load and save, sampling and clearing, as the window sees them; the work is the
// StationStore's.
#include <QLineEdit>
#include <stdexcept>

#include "app/Unit1.h"
#include "toolkit/ArrowSpinBox.h"
#include "toolkit/PollTimer.h"

void TForm1::ConnectAndLoadSettings() {
  try {
    store.connect();
  } catch (const engine::EDatabaseError&) {
    // Only this step is caught: the settings read below tries again and its error goes to
    // the error box.
    boxes().plain(this, QStringLiteral("连接失败，请确认数据库在当前目录！"));
  }
  const store::StationSettings settings = store.loadSettings(decimalSeparator());
  Edit1->setText(settings.interval);
  SpinEdit1->setValue(settings.unitCount);
  SpinEdit2->setMaximum(settings.unitCount);
}

void TForm1::SaveSettings(const QString& intervalText, std::uint8_t unitCount) {
  store.saveSettings(intervalText, unitCount, decimalSeparator());
}

void TForm1::StoreSamples() {
  if (!polling->samplingDue()) return;
  Timer1->setEnabled(false);
  std::vector<store::UnitFailure> failures;
  try {
    failures = store.storeSamples(polling->tables, polling->UnitCount);
  } catch (const std::exception& e) {
    // A failed run must not end polling: the timer comes back on and the run counts as taken.
    // The store has logged it; the operator is told at once and then reminded at most once an
    // hour while runs keep failing.
    const QString text = QString::fromUtf8(e.what());
    if (polling->polling()) Timer1->setEnabled(true);
    polling->samplingTaken(text);
    // Last: the error box runs a nested event loop in which further ticks may come.
    if (sampleFailures_.failed()) guard().report(text);
    return;
  }
  Timer1->setEnabled(true);
  if (failures.empty()) {
    polling->samplingTaken();
    sampleFailures_.clear();
    return;
  }
  const QString text = store::failureText(failures);
  polling->samplingTaken(text);
  if (sampleFailures_.failed()) guard().report(text);
}

void TForm1::SpeedButton4Click() {
  if (boxes().confirm(this, QStringLiteral("确认要删除保存的所有数据吗？")) != toolkit::MessageBoxes::Answer::Yes)
    return;
  store.clear(SpinEdit1->value());
}
