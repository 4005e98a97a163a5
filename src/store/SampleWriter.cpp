#include "store/SampleWriter.h"

#include <QDir>
#include <QLoggingCategory>
#include <QStringList>
#include <algorithm>
#include <set>

#include "archive/core/ArchiveSettings.h"
#include "archive/core/ArchiveWriter.h"
#include "engine/EngineError.h"
#include "engine/Transaction.h"

namespace store {

namespace {

Q_LOGGING_CATEGORY(lcWriter, "cellstation.store")

/// Runs kept for the archive while it cannot take them: a day at one run every 180 s.
constexpr std::size_t kKeptRuns = 480;

archive::Run runOf(const SampleJob& job) {
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
  return run;
}

}  // namespace

SampleWriter::SampleWriter() {
  connection_.setConnectionString(QString::fromLatin1(kConnectionString));
}

SampleWriter::~SampleWriter() = default;

void SampleWriter::recoverQueued() noexcept {
  try {
    int unreadable = 0;
    std::deque<QueuedRun> queued = runsWaitingForArchive(connection_, &unreadable);
    recovered_ = true;
    if (unreadable > 0)
      qCWarning(lcWriter) << "archive queue in db1.mdb:" << unreadable << "row(s) that hold no run removed";
    // Runs written since a failed try are queued in memory already.
    std::set<qint64> known;
    for (const QueuedRun& q : unarchived_) known.insert(q.seq);
    std::deque<QueuedRun> earlier;
    for (QueuedRun& q : queued)
      if (!known.count(q.seq)) earlier.push_back(std::move(q));
    if (earlier.empty()) return;
    qCWarning(lcWriter) << earlier.size()
                        << "sampling run(s) stored in db1.mdb but not yet in the archive (the station stopped before "
                           "they reached it) are archived now";
    while (earlier.size() + unarchived_.size() > kKeptRuns) earlier.pop_front();
    unarchived_.insert(unarchived_.begin(), std::make_move_iterator(earlier.begin()), std::make_move_iterator(earlier.end()));
    archiveQueued();
  } catch (const std::exception& e) {
    // No db1.mdb yet, or one that cannot be read now: tried again with the next run.
    qCDebug(lcWriter).noquote() << "archive queue not read:" << QString::fromUtf8(e.what());
  }
}

WriteOutcome SampleWriter::write(const SampleJob& job) {
  if (!recovered_) recoverQueued();
  WriteOutcome outcome;
  archive::Run run = runOf(job);
  qint64 seq = 0;
  bool dropOldest = false;
  try {
    // The rows and the run's place in the archive's queue stand or fall together: a station
    // killed after this commit archives the run at its next start.
    engine::Transaction whole(connection_);
    outcome.failures = storeRun(connection_, query_, job.unitCount, job.tables);
    seq = queueForArchive(connection_, run);
    dropOldest = unarchived_.size() >= kKeptRuns;
    if (dropOldest) archivedUpTo(connection_, unarchived_.front().seq);
    whole.commit();
  } catch (...) {
    // After a failed write (a full disk, a failing one) the archive's month file is opened
    // afresh, and so checked, before anything is written to it again.
    archive_.reset();
    throw;
  }
  for (const UnitFailure& f : outcome.failures)
    qCWarning(lcWriter).noquote() << "sampling run: unit" << f.unit << "not stored:" << f.text;
  if (dropOldest) {
    unarchived_.pop_front();
    qCWarning(lcWriter) << "archive: a day of runs waits; the oldest run waiting is dropped";
  }
  unarchived_.push_back({seq, std::move(run)});
  archiveQueued(&outcome.archiveDamage);
  return outcome;
}

void SampleWriter::clear(int unitCount) { clearSamples(connection_, query_, unitCount); }

void SampleWriter::archiveQueued(QStringList* damage) {
  qint64 archivedSeq = 0;
  try {
    if (!archive_) {
      QStringList problems;
      archive::WriterOptions options;
      options.folder = QDir::current().filePath(QStringLiteral("archive"));
      options.retention = archive::loadRetention(QStringLiteral("db1.mdb"), &problems);
      for (const QString& p : problems) qCWarning(lcWriter).noquote() << "archive settings:" << p;
      archive_ = std::make_unique<archive::ArchiveWriter>(options);
    }
    while (!unarchived_.empty()) {
      const archive::AppendOutcome outcome = archive_->append(unarchived_.front().run);
      archivedSeq = std::max(archivedSeq, unarchived_.front().seq);
      unarchived_.pop_front();
      for (const QString& notice : outcome.notices) {
        qCWarning(lcWriter).noquote() << "archive:" << notice;
        // The archive's notice of a month file it set aside names it damaged (损坏).
        if (damage && notice.contains(QStringLiteral("损坏"))) damage->append(notice);
      }
    }
    if (archiveFailing_) qCInfo(lcWriter) << "archive written again";
    archiveFailing_ = false;
  } catch (const std::exception& e) {
    // The 24-hour tables are stored; the runs wait for the next run, in memory and in db1.mdb.
    if (!archiveFailing_)
      qCWarning(lcWriter).noquote() << "archive not written, kept for the next run:" << QString::fromUtf8(e.what());
    archiveFailing_ = true;
    archive_.reset();
  }
  try {
    archivedUpTo(connection_, archivedSeq);
  } catch (const engine::EDatabaseError& e) {
    // The runs stay queued in the file; the next removal takes them with it (or the next
    // start archives them again, where the archive knows a run it holds in its open block).
    qCDebug(lcWriter).noquote() << "archive queue in db1.mdb not trimmed:" << e.text();
  }
}

}  // namespace store
