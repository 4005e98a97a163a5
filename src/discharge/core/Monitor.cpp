#include "discharge/core/Monitor.h"

#include <QDateTime>
#include <QStringList>
#include <algorithm>
#include <utility>

#include "discharge/core/Archive.h"
#include "discharge/core/DischargeLog.h"
#include "discharge/core/SettingsDb.h"

namespace discharge {

Q_LOGGING_CATEGORY(lcDischarge, "cellstation.discharge")

namespace {

Settings readSettings(const QString& dbFile) {
  try {
    QStringList problems;
    const Settings s = loadSettings(dbFile, &problems);
    for (const QString& p : problems) qCWarning(lcDischarge).noquote() << p;
    return s;
  } catch (const std::exception& e) {
    qCWarning(lcDischarge).noquote() << "discharge settings not read, the defaults are taken:" << e.what();
    return {};
  }
}

}  // namespace

Monitor::Monitor(const QString& stationFolder, const QString& dbFile, QObject* parent)
    : QObject(parent),
      dbFile_(dbFile),
      archive_(archiveFile(stationFolder)),
      detector_(readSettings(dbFile)),
      recorder_(archive_) {
  // Before the recorder's writer first opens the archive (it would end them too, unseen).
  try {
    interrupted_ = Archive(archive_).closeInterrupted();
  } catch (const std::exception& e) {
    qCWarning(lcDischarge).noquote() << "unfinished discharge records not looked for:" << e.what();
  }
  for (const DischargeRecord& r : interrupted_) {
    qCWarning(lcDischarge).noquote() << kEventInterrupted << interruptedDetail(r);
    if (r.unit >= 1 && r.unit <= protocol::kMaxUnit) {
      auto& slot = resumable_[static_cast<std::size_t>(r.unit)];
      if (!slot || slot->startMs < r.startMs) slot = r;
    }
  }
}

QString Monitor::interruptedDetail(const DischargeRecord& r) {
  return QStringLiteral("第%1台：%2开始的放电记录在 %3 后中断（监测程序未正常关闭）")
      .arg(r.unit)
      .arg(reportTime(r.startMs), reportTime(r.endMs.value_or(r.startMs)));
}

Monitor::~Monitor() {
  if (!closed_) close(QDateTime::currentMSecsSinceEpoch());
}

void Monitor::apply(int unit, const Outcome& o, const Sample* sample, std::optional<int> rated) {
  const auto u = static_cast<std::size_t>(unit);
  if (o.started) {
    DischargeRecord r;
    r.unit = unit;
    r.cells = cells_[u];
    r.startMs = o.startMs;
    r.startedBy = o.startedBy;
    r.ratedMinutes = rated;
    r.thresholdMv = settings().thresholdMv;
    r.endMv = settings().endMv;
    QString detail = QStringLiteral("第%1台：%2").arg(unit).arg(text(o.startedBy));
    const std::optional<DischargeRecord> before = std::exchange(resumable_[u], std::nullopt);
    // Detected low again: whatever record was running goes on. By hand: only a test begun by
    // hand (the operator may start a new test on a unit whose old discharge has ended).
    const bool same = before && (o.startedBy == StartReason::Automatic || before->startedBy == StartReason::Manual);
    if (same && o.startMs >= before->startMs && o.startMs - before->startMs < qint64{settings().maxMinutes} * 60000) {
      // The discharge went on while the station was down: the same record, from its real start.
      tokens_[u] = recorder_.resume(before->id, o.startMs, r);
      starts_[u] = before->startMs;
      detector_.continueFrom(unit, before->startMs);
      detail += QStringLiteral("，监测程序重新启动后续写 %1 开始的记录（%2 至 %3 无数据）")
                    .arg(reportTime(before->startMs), reportTime(before->endMs.value_or(before->startMs)), reportTime(o.startMs));
    } else {
      tokens_[u] = recorder_.begin(r);
      starts_[u] = o.startMs;
    }
    if (o.startedBy == StartReason::Automatic && held_[u]) recorder_.add(tokens_[u], *held_[u]);
    qCInfo(lcDischarge).noquote() << kEventStarted << detail;
    emit started(unit, o.startMs, detail);
  }
  held_[u].reset();
  if (o.takenOver) qCInfo(lcDischarge).noquote() << QStringLiteral("第%1台：自动检测的放电转为手动记录").arg(unit);
  if (o.record && sample && tokens_[u]) recorder_.add(tokens_[u], *sample);
  if (o.ended && tokens_[u]) {
    recorder_.end(tokens_[u], o.endMs, o.endedBy);
    tokens_[u] = 0;
    const QString detail = QStringLiteral("第%1台：%2，历时 %3").arg(unit).arg(text(o.endedBy), durationText(o.endMs - starts_[u]));
    qCInfo(lcDischarge).noquote() << kEventEnded << detail;
    emit ended(unit, o.endMs, detail);
  }
}

void Monitor::takeReply(int unit, qint64 timeMs, std::span<const double> cellVolts, double total) {
  Sample s;
  s.timeMs = timeMs;
  s.cells = static_cast<int>(std::min<std::size_t>(cellVolts.size(), kMaxCells));
  s.totalMv = toMillivolts(total);
  for (int k = 0; k < s.cells; ++k) s.cellMv[static_cast<std::size_t>(k)] = toMillivolts(cellVolts[static_cast<std::size_t>(k)]);
  cells_.at(static_cast<std::size_t>(unit)) = s.cells;
  const Outcome o = detector_.take({unit, timeMs, true, s.cells, s.totalMv});
  apply(unit, o, &s);
  // Seen above the threshold: a discharge left running by the last run has ended.
  if (detector_.state(unit) == State::Idle) resumable_[static_cast<std::size_t>(unit)].reset();
  // The first low reading may be the discharge's first sample: kept until the next says.
  if (detector_.state(unit) == State::Falling) held_[static_cast<std::size_t>(unit)] = s;
}

void Monitor::takeSilence(int unit, qint64 timeMs) {
  apply(unit, detector_.take({unit, timeMs, false, 0, 0}), nullptr);
}

void Monitor::pollingStarted() {
  detector_.pollingStarted();
  for (auto& h : held_) h.reset();
}

bool Monitor::startRecording(int unit, qint64 nowMs, std::optional<int> ratedMinutes) {
  if (recordingByHand(unit)) return false;
  apply(unit, detector_.startManual(unit, nowMs), nullptr, ratedMinutes);
  return true;
}

bool Monitor::endRecording(int unit, qint64 nowMs) {
  if (!recording(unit)) return false;
  apply(unit, detector_.endManual(unit, nowMs), nullptr);
  return true;
}

void Monitor::close(qint64 nowMs) {
  for (int unit = 1; unit <= 99; ++unit) apply(unit, detector_.close(unit, nowMs), nullptr);
  closed_ = true;
}

void Monitor::applySettings(const Settings& s) {
  saveSettings(dbFile_, s);
  detector_.setSettings(s);
  qCInfo(lcDischarge).noquote() << QStringLiteral("discharge settings: threshold %1 V/cell, margin %2 V/cell, end %3 V/cell, at most %4 min")
                                       .arg(millivoltText(s.thresholdMv), millivoltText(s.marginMv), millivoltText(s.endMv))
                                       .arg(s.maxMinutes);
}

}  // namespace discharge
