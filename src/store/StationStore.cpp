#include "store/StationStore.h"

#include <QDir>
#include <QLoggingCategory>

#include "common/NumberText.h"
#include "store/core/Settings.h"
#include "store/core/Statements.h"
#include "store/core/TableNames.h"
#include "toolkit/AtomicFile.h"

namespace store {

namespace {

Q_LOGGING_CATEGORY(lcStore, "cellstation.store")

const char kConnectionString[] = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=db1.mdb;Persist Security Info=False";

}  // namespace

void StationStore::connect() {
  ADOConnection1.Close();
  ADOConnection1.setConnectionString(QString::fromLatin1(kConnectionString));
  ADOConnection1.Open();
}

SettingsRow StationStore::readSettings() {
  ADOQuery1.setSQL(settingsRead());
  ADOQuery1.Open();
  return {ADOQuery1.Fields(0), ADOQuery1.Fields(1)};
}

void StationStore::saveSettings(const QString& intervalText, int unitCount, char decimalSeparator) {
  ADOCommand1.setCommandText(intervalSaveFor(intervalText, decimalSeparator));
  ADOCommand1.Execute();
  ADOCommand1.setCommandText(unitCountSave(unitCount));
  ADOCommand1.Execute();
}

bool StationStore::tableExists(const QString& name) { return store::tableExists(ADOConnection1, name); }

std::vector<UnitFailure> StationStore::storeSamples(const acquisition::MeasurementTables& tables, int unitCount) {
  std::vector<UnitFailure> failures;
  try {
    failures = storeRun(ADOConnection1, ADOQuery1, unitCount, tables);
  } catch (const std::exception& e) {
    qCWarning(lcStore).noquote() << "sampling run failed, no unit stored:" << QString::fromUtf8(e.what());
    throw;
  }
  for (const UnitFailure& f : failures)
    qCWarning(lcStore).noquote() << "sampling run: unit" << f.unit << "not stored:" << f.text;
  return failures;
}

void StationStore::clear(int unitCount) {
  try {
    clearSamples(ADOConnection1, ADOQuery1, unitCount);
  } catch (const std::exception& e) {
    qCWarning(lcStore).noquote() << "clearing failed:" << QString::fromUtf8(e.what());
    throw;
  }
  qCInfo(lcStore) << "stored samples cleared for units 1 to" << unitCount;
}

std::vector<CurvePoint> StationStore::curve(const QString& statement, const QString& column) {
  ADOQuery2.setSQL(statement);
  ADOQuery2.Open();
  std::vector<CurvePoint> points;
  points.reserve(static_cast<std::size_t>(ADOQuery2.RecordCount()));
  for (int r = 0; r < ADOQuery2.RecordCount(); ++r) {
    CurvePoint p;
    p.hours = ADOQuery2.value(r, QStringLiteral("measureTime")).toDouble();
    const QVariant v = ADOQuery2.value(r, column);
    if (!v.isNull()) p.volts = v.toDouble();
    points.push_back(p);
  }
  return points;
}

int StationStore::exportSamples(int unit, const QString& path) {
  QStringList columns{QStringLiteral("measureTime")};
  for (int k = 1; k <= acquisition::kCells; ++k) columns << QStringLiteral("V%1").arg(k);
  columns << QStringLiteral("V");
  QByteArray csv = "time";
  for (int i = 1; i < columns.size(); ++i) csv += ',' + columns[i].toLatin1();
  csv += "\r\n";
  int rows = 0;
  const QString table = sampleTableName(unit);  // range-checked: only measure1..measure99
  if (tableExists(table)) {
    ADOQuery1.setSQL(QStringLiteral("select %1 from %2 order by measureTime").arg(columns.join(QLatin1Char(',')), table));
    ADOQuery1.Open();
    rows = ADOQuery1.RecordCount();
    // Numbers as the station writes them into statements: 15 significant digits and a period,
    // so a comma never has to be quoted; an empty field where another program left NULL.
    for (int r = 0; r < rows; ++r) {
      for (int i = 0; i < columns.size(); ++i) {
        if (i) csv += ',';
        const QVariant v = ADOQuery1.value(r, columns[i]);
        if (!v.isNull()) csv += common::formatGeneral(v.toDouble()).c_str();
      }
      csv += "\r\n";
    }
    ADOQuery1.Close();
  }
  toolkit::writeFileAtomically(path, csv);
  return rows;
}

}  // namespace store
