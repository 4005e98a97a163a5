#include "health/EventRecord.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include "health/HealthLog.h"

namespace health {

EventRecord::EventRecord(const QString& databaseFile) {
  EventWriter::Options options;
  options.leftoverFile = QFileInfo(QDir::current().absoluteFilePath(databaseFile)).dir().filePath(QLatin1String(kLeftoverFile));
  writer_ = std::make_unique<EventWriter>(databaseFile, options);
}

void EventRecord::record(Event e) {
  if (!e.time.isValid()) e.time = QDateTime::currentDateTime();
  const QString line = eventLogLine(e);
  if (e.kind == EventKind::AlarmRaised || e.kind == EventKind::UnitOffline || e.kind == EventKind::LineDown ||
      e.kind == EventKind::SamplingFailed || e.kind == EventKind::BackupFailed)
    qCWarning(lcHealth).noquote() << "event:" << line;
  else
    qCInfo(lcHealth).noquote() << "event:" << line;
  writer_->append(e);
  if (onRecorded) onRecorded(e);
}

bool EventRecord::flush(int timeoutMs) { return writer_->flush(timeoutMs); }

}  // namespace health
