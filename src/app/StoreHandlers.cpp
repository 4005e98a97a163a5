// Settings load and save, sampling and clearing, as the window sees them; the work is the
// StationStore's.
#include <QElapsedTimer>
#include <QLineEdit>
#include <stdexcept>

#include "app/Unit1.h"
#include "store/core/Settings.h"
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
  const store::SettingsRow settings = store.readSettings();
  Edit1->setText(settings.interval.AsString(decimalSeparator()));
  const int units = store::loadedUnitCount(settings.unitCount);
  SpinEdit1->setValue(units);
  SpinEdit2->setMaximum(units);
}

void TForm1::SaveSettings(const QString& intervalText, std::uint8_t unitCount) {
  store.saveSettings(intervalText, unitCount, decimalSeparator());
}

void TForm1::StoreSamples() {
  if (!polling->samplingDue()) return;
  Timer1->setEnabled(false);
  QElapsedTimer clock;
  clock.start();
  const std::vector<store::UnitFailure> failures = store.storeSamples(polling->tables, polling->UnitCount);
  Timer1->setEnabled(true);
  if (!failures.empty()) {
    polling->samplingTaken();
    throw std::runtime_error(store::failureText(failures).toStdString());
  }
  polling->samplingStored(static_cast<double>(clock.nsecsElapsed()) / 1e9);
  sampleFailures_.clear();
}

void TForm1::SpeedButton4Click() {
  if (boxes().confirm(this, QStringLiteral("确认要删除保存的所有数据吗？")) != toolkit::MessageBoxes::Answer::Yes)
    return;
  store.clear(SpinEdit1->value());
}
