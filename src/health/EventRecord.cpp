#include "health/EventRecord.h"

#include <QDateTime>

#include "health/HealthLog.h"
#include "toolkit/HandlerGuard.h"

namespace health {

namespace {

/// Events kept in memory while the database refuses them; beyond this the oldest go (they are
/// in the log file all the same).
constexpr std::size_t kMaxPending = 100000;

}  // namespace

EventRecord::EventRecord(HealthDb& db, toolkit::HandlerGuard& guard) : db_(db) {
  flushTimer_.setSingleShot(true);
  QObject::connect(&flushTimer_, &QTimer::timeout, &flushTimer_, guard.wrap([this] { flush(); }));
}

void EventRecord::record(Event e) {
  if (!e.time.isValid()) e.time = QDateTime::currentDateTime();
  const QString line = eventLogLine(e);
  if (e.kind == EventKind::AlarmRaised || e.kind == EventKind::UnitOffline || e.kind == EventKind::LineDown ||
      e.kind == EventKind::SamplingFailed)
    qCWarning(lcHealth).noquote() << "event:" << line;
  else
    qCInfo(lcHealth).noquote() << "event:" << line;
  if (pending_.size() >= kMaxPending) pending_.erase(pending_.begin());
  pending_.push_back(e);
  if (onRecorded) onRecorded(e);
  // Events come in bursts (a string sagging takes many cells at once): one write for them all.
  if (!flushTimer_.isActive()) flushTimer_.start(flushFailing_ ? 30000 : 500);
}

bool EventRecord::flush() {
  flushTimer_.stop();
  if (pending_.empty()) return true;
  try {
    db_.append(pending_);
  } catch (const std::exception& e) {
    if (!flushFailing_)
      qCWarning(lcHealth).noquote() << "event record not written, kept for a later try:" << QString::fromUtf8(e.what());
    flushFailing_ = true;
    flushTimer_.start(30000);
    return false;
  }
  if (flushFailing_) qCInfo(lcHealth) << "event record written again";
  flushFailing_ = false;
  pending_.clear();
  return true;
}

}  // namespace health
