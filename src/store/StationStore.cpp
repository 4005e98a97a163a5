#include "store/StationStore.h"

#include <QDateTime>
#include <QDir>
#include <QLoggingCategory>

#include "archive/core/ArchiveSettings.h"
#include "archive/core/ArchiveWriter.h"
#include "common/NumberText.h"
#include "store/core/Settings.h"
#include "store/core/Statements.h"
#include "store/core/TableNames.h"
#include "toolkit/AtomicFile.h"

#include <algorithm>

namespace store {

namespace {

Q_LOGGING_CATEGORY(lcStore, "cellstation.store")

const char kConnectionString[] = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=db1.mdb;Persist Security Info=False";

}  // namespace

StationStore::StationStore() = default;
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
  archiveRun(tables, unitCount);
  return failures;
}

void StationStore::archiveRun(const acquisition::MeasurementTables& tables, int unitCount) {
  archive::Run run;
  run.timeMs = QDateTime::currentMSecsSinceEpoch();
  for (int u = 1; u <= std::min(unitCount, acquisition::kUnits); ++u) {
    archive::UnitReading r;
    r.unit = u;
    r.cellCount = tables.CellCount[u];
    for (int k = 1; k <= acquisition::kCells; ++k) r.cells[static_cast<std::size_t>(k - 1)] = tables.CellVoltage[u][k];
    r.total = tables.TotalVoltage[u];
    run.units.push_back(r);
  }
  constexpr std::size_t kKeptRuns = 480;
  if (unarchived_.size() >= kKeptRuns) {
    unarchived_.pop_front();
    qCWarning(lcStore) << "archive: a day of runs waits; the oldest run waiting is dropped";
  }
  unarchived_.push_back(std::move(run));
  try {
    if (!archive_) {
      QStringList problems;
      archive::WriterOptions options;
      options.folder = QDir::current().filePath(QStringLiteral("archive"));
      options.retention = archive::loadRetention(QStringLiteral("db1.mdb"), &problems);
      for (const QString& p : problems) qCWarning(lcStore).noquote() << "archive settings:" << p;
      archive_ = std::make_unique<archive::ArchiveWriter>(options);
    }
    while (!unarchived_.empty()) {
      const archive::AppendOutcome outcome = archive_->append(unarchived_.front());
      unarchived_.pop_front();
      for (const QString& notice : outcome.notices) qCWarning(lcStore).noquote() << "archive:" << notice;
      if (outcome.lowDiskChanged) qCWarning(lcStore).noquote() << "archive:" << outcome.disk.text;
    }
    if (archiveFailing_) qCInfo(lcStore) << "archive written again";
    archiveFailing_ = false;
  } catch (const std::exception& e) {
    // The 24-hour tables are stored; the runs wait for the next run.
    if (!archiveFailing_)
      qCWarning(lcStore).noquote() << "archive not written, kept for the next run:" << QString::fromUtf8(e.what());
    archiveFailing_ = true;
    archive_.reset();
  }
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
