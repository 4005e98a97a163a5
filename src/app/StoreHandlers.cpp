// Settings load and save, sampling and clearing, as the window sees them; the work is the
// StationStore's, and sampling runs and clearing are written on its own thread, whose answers
// come back here.
#include <QFileInfo>
#include <QLineEdit>
#include <QLoggingCategory>

#include "app/Unit1.h"
#include "store/core/Settings.h"
#include "toolkit/ArrowSpinBox.h"

namespace {

Q_LOGGING_CATEGORY(lcStoreHandlers, "cellstation.store")

}  // namespace

void TForm1::ConnectAndLoadSettings() {
  try {
    store.connect();
  } catch (const engine::EDatabaseError& e) {
    qCWarning(lcStoreHandlers).noquote() << "db1.mdb cannot be opened:" << e.text();
    if (QFileInfo::exists(QStringLiteral("db1.mdb"))) {
      // The file is there (held by another program, no database, another program's database):
      // its reason, once; the settings read would only say it again.
      boxes().plain(this, e.text());
      return;
    }
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
  // A copy of the tables as they are now goes to the store's thread; the timer runs on, and
  // the next run is a full sampling period away whatever becomes of this one.
  store.storeSamples(polling->tables, polling->UnitCount);
  polling->samplingTaken();
}

void TForm1::SpeedButton4Click() {
  if (boxes().confirm(this, QStringLiteral("确认要删除保存的所有数据吗？")) != toolkit::MessageBoxes::Answer::Yes)
    return;
  // Through the store's thread, behind the runs still waiting there, so no run taken before
  // the clearing lands after it.
  store.clear(SpinEdit1->value());
}

void TForm1::wireStore() {
  store::StoreThread* thread = &store.thread();
  // A box waits for the operator; what else the store's answer means (the event record, the
  // red strip) must not wait with it. The box is shown once every handler of the answer has
  // run.
  const auto boxAfterwards = [this](const QString& text) {
    QMetaObject::invokeMethod(this, [this, text] { guard_.report(text); }, Qt::QueuedConnection);
  };
  connect(thread, &store::StoreThread::runStored, this, [this](double seconds) {
    guard_.run([&] {
      polling->samplingStored(seconds);
      sampleFailures_.clear();
    });
  });
  // A failed run must not end polling: the next run is a full sampling period later. The
  // store has logged it; the operator is told at once and then reminded at most once an hour
  // while runs keep failing. A run kept by another program's lock is told the same way.
  connect(thread, &store::StoreThread::runFailed, this, [this, boxAfterwards](const QString& text) {
    guard_.run([&] { polling->samplingNotStored(text); });
    if (sampleFailures_.failed()) boxAfterwards(text);
  });
  connect(thread, &store::StoreThread::delayStarted, this, [this, boxAfterwards](const QString& text) {
    if (delays_.failed()) boxAfterwards(text);
  });
  connect(thread, &store::StoreThread::clearFailed, this, boxAfterwards);
}
