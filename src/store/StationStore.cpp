#include "store/StationStore.h"

#include <QDateTime>
#include <QDir>

#include "common/NumberText.h"
#include "store/core/Settings.h"
#include "store/core/Statements.h"
#include "store/core/TableNames.h"
#include "toolkit/AtomicFile.h"

namespace store {

StationStore::StationStore()
    : thread_(std::make_unique<StoreThread>()),
      watch_(std::make_unique<ReplacementWatch>(QDir::current().absoluteFilePath(QStringLiteral("db1.mdb")))) {
  // The window's connection first, at once: the first of the station's connections to let go
  // empties the old file's log, before any other program reads the new file with it.
  QObject::connect(watch_.get(), &ReplacementWatch::replaced, watch_.get(), [this] {
    ADOConnection1.letGoIfReplaced();
    thread_->letGoIfReplaced();
  });
}
StationStore::~StationStore() = default;

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

void StationStore::storeSamples(const acquisition::MeasurementTables& tables, int unitCount) {
  // The run and the clearing begin by closing ADOQuery1, as they did when they ran on it.
  ADOQuery1.Close();
  thread_->enqueueRun(tables, unitCount, QDateTime::currentMSecsSinceEpoch());
}

void StationStore::clear(int unitCount) {
  ADOQuery1.Close();
  thread_->enqueueClear(unitCount);
}

bool StationStore::waitIdle(std::chrono::milliseconds timeout) { return thread_->waitIdle(timeout); }

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
