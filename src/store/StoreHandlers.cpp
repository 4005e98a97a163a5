// Settings load and save, sampling and clearing.
#include <QLineEdit>
#include <QLoggingCategory>
#include <stdexcept>

#include "app/Unit1.h"
#include "store/core/SamplingRun.h"
#include "store/core/Settings.h"
#include "store/core/Statements.h"
#include "store/core/TableNames.h"
#include "toolkit/ArrowSpinBox.h"
#include "toolkit/PollTimer.h"

namespace {

Q_LOGGING_CATEGORY(lcStore, "cellstation.store")

const char kConnectionString[] = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=db1.mdb;Persist Security Info=False";

}  // namespace

void TForm1::ConnectAndLoadSettings() {
  try {
    ADOConnection1.Close();
    ADOConnection1.setConnectionString(QString::fromLatin1(kConnectionString));
    ADOConnection1.Open();
  } catch (const engine::EDatabaseError&) {
    // Only this step is caught: the settings read below tries again and its error goes to
    // the error box.
    boxes().plain(this, QStringLiteral("连接失败，请确认数据库在当前目录！"));
  }
  ADOQuery1.Close();
  ADOQuery1.setSQL(store::settingsRead());
  ADOQuery1.Open();
  Edit1->setText(ADOQuery1.Fields(0).AsString(decimalSeparator()));
  const int units = store::loadedUnitCount(ADOQuery1.Fields(1));
  SpinEdit1->setValue(units);
  SpinEdit2->setMaximum(units);
}

void TForm1::SaveSettings(const QString& intervalText, std::uint8_t unitCount) {
  ADOCommand1.setCommandText(store::intervalSaveFor(intervalText, decimalSeparator()));
  ADOCommand1.Execute();
  ADOCommand1.setCommandText(store::unitCountSave(unitCount));
  ADOCommand1.Execute();
}

bool TForm1::TableExists(const QString& name) { return store::tableExists(ADOConnection1, name); }

void TForm1::StoreSamples() {
  if (ElapsedSeconds < store::kSamplingThreshold) return;
  Timer1->setEnabled(false);
  std::vector<store::UnitFailure> failures;
  try {
    failures = store::storeRun(ADOConnection1, ADOQuery1, SpinEdit1->value(), *this);
  } catch (const std::exception& e) {
    qCWarning(lcStore).noquote() << "sampling run failed, no unit stored:" << QString::fromUtf8(e.what());
    throw;
  }
  ElapsedSeconds = 0;
  Timer1->setEnabled(true);
  if (failures.empty()) return;
  for (const store::UnitFailure& f : failures)
    qCWarning(lcStore).noquote() << "sampling run: unit" << f.unit << "not stored:" << f.text;
  throw std::runtime_error(store::failureText(failures).toStdString());
}

void TForm1::SpeedButton4Click() {
  if (boxes().confirm(this, QStringLiteral("确认要删除保存的所有数据吗？")) != toolkit::MessageBoxes::Answer::Yes)
    return;
  try {
    store::clearSamples(ADOConnection1, ADOQuery1, SpinEdit1->value());
  } catch (const std::exception& e) {
    qCWarning(lcStore).noquote() << "clearing failed:" << QString::fromUtf8(e.what());
    throw;
  }
  qCInfo(lcStore) << "stored samples cleared for units 1 to" << SpinEdit1->value();
}
