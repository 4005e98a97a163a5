#include "store/SampleWriter.h"

#include <QDir>
#include <QLoggingCategory>
#include <QStringList>
#include <algorithm>

#include "archive/core/ArchiveWriter.h"

namespace store {

namespace {

Q_LOGGING_CATEGORY(lcWriter, "cellstation.store")

}  // namespace

bool lockedByAnotherProgram(const QString& engineText) {
  // SQLite's SQLITE_BUSY, after the engine's lock wait. "database table is locked" is a lock
  // within one connection, which waiting does not end.
  return engineText.contains(QLatin1StringView("database is locked"), Qt::CaseInsensitive);
}

SampleWriter::SampleWriter() {
  connection_.setConnectionString(QString::fromLatin1(kConnectionString));
  connection_.setCheckpointInterval(kRunsPerCheckpoint);
}

SampleWriter::~SampleWriter() = default;

WriteOutcome SampleWriter::write(const SampleJob& job) {
  WriteOutcome outcome;
  outcome.failures = storeRun(connection_, query_, job.unitCount, job.tables);
  for (const UnitFailure& f : outcome.failures)
    qCWarning(lcWriter).noquote() << "sampling run: unit" << f.unit << "not stored:" << f.text;
  outcome.diskChange = archiveRun(job);
  return outcome;
}

void SampleWriter::clear(int unitCount) { clearSamples(connection_, query_, unitCount); }

std::optional<archive::DiskSpace> SampleWriter::archiveRun(const SampleJob& job) {
  archive::Run run;
  run.timeMs = job.takenMs;
  for (int u = 1; u <= std::min(job.unitCount, acquisition::kUnits); ++u) {
    archive::UnitReading r;
    r.unit = u;
    r.cellCount = job.tables.CellCount[u];
    for (int k = 1; k <= acquisition::kCells; ++k) r.cells[static_cast<std::size_t>(k - 1)] = job.tables.CellVoltage[u][k];
    r.total = job.tables.TotalVoltage[u];
    run.units.push_back(r);
  }
  constexpr std::size_t kKeptRuns = 480;
  if (unarchived_.size() >= kKeptRuns) {
    unarchived_.pop_front();
    qCWarning(lcWriter) << "archive: a day of runs waits; the oldest run waiting is dropped";
  }
  unarchived_.push_back(std::move(run));
  std::optional<archive::DiskSpace> diskChange;
  try {
    if (!archive_) {
      QStringList problems;
      archive::WriterOptions options;
      options.folder = QDir::current().filePath(QStringLiteral("archive"));
      options.retention = archive::loadRetention(QStringLiteral("db1.mdb"), &problems);
      options.lowDiskBytes = lowDiskBytes_;
      for (const QString& p : problems) qCWarning(lcWriter).noquote() << "archive settings:" << p;
      archive_ = std::make_unique<archive::ArchiveWriter>(options);
    }
    while (!unarchived_.empty()) {
      const archive::AppendOutcome outcome = archive_->append(unarchived_.front());
      unarchived_.pop_front();
      for (const QString& notice : outcome.notices) qCWarning(lcWriter).noquote() << "archive:" << notice;
      if (outcome.lowDiskChanged) {
        if (outcome.disk.low)
          qCWarning(lcWriter).noquote() << "archive:" << outcome.disk.text;
        else
          qCInfo(lcWriter) << "archive: the disk has enough free space again";
        diskChange = outcome.disk;
      }
    }
    if (archiveFailing_) qCInfo(lcWriter) << "archive written again";
    archiveFailing_ = false;
  } catch (const std::exception& e) {
    // The 24-hour tables are stored; the runs wait for the next run.
    if (!archiveFailing_)
      qCWarning(lcWriter).noquote() << "archive not written, kept for the next run:" << QString::fromUtf8(e.what());
    archiveFailing_ = true;
    archive_.reset();
  }
  return diskChange;
}

}  // namespace store
