#include "archive/core/ArchiveExport.h"

#include <QDateTime>
#include <QDir>
#include <QSaveFile>
#include <cmath>
#include <string>

namespace archive {

namespace {

constexpr std::size_t kFlushBytes = 1 << 20;
constexpr qint64 kProgressRows = 1000;

// Millivolts as volts with three decimals: 2250 -> "2.250". Values are never negative.
void putMillivolts(std::string& out, qint64 mv) {
  char buf[32];
  int n = 0;
  qint64 whole = mv / 1000;
  const int frac = int(mv % 1000);
  do {
    buf[n++] = char('0' + whole % 10);
    whole /= 10;
  } while (whole > 0);
  while (n > 0) out.push_back(buf[--n]);
  out.push_back('.');
  out.push_back(char('0' + frac / 100));
  out.push_back(char('0' + frac / 10 % 10));
  out.push_back(char('0' + frac % 10));
}

class CsvFile {
 public:
  explicit CsvFile(const QString& path) : file_(path) {
    if (!file_.open(QIODevice::WriteOnly)) fail();
    buffer_ = "\xEF\xBB\xBF";
  }
  std::string& buffer() { return buffer_; }
  void maybeFlush() {
    if (buffer_.size() >= kFlushBytes) flush();
  }
  void commit() {
    flush();
    if (!file_.commit()) fail();
  }

 private:
  void flush() {
    if (file_.write(buffer_.data(), qint64(buffer_.size())) != qint64(buffer_.size())) fail();
    buffer_.clear();
  }
  [[noreturn]] void fail() {
    throw ArchiveError(QStringLiteral("无法写入导出文件 %1：%2")
                           .arg(QDir::toNativeSeparators(file_.fileName()), file_.errorString())
                           .toStdString());
  }
  QSaveFile file_;
  std::string buffer_;
};

}  // namespace

QString localIsoTime(qint64 timeMs) {
  const QDateTime t = QDateTime::fromMSecsSinceEpoch(timeMs);
  const int offset = t.offsetFromUtc();
  const int abs = offset < 0 ? -offset : offset;
  return t.toString(timeMs % 1000 ? QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz") : QStringLiteral("yyyy-MM-dd'T'HH:mm:ss")) +
         QStringLiteral("%1%2:%3")
             .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
             .arg(abs / 3600, 2, 10, QLatin1Char('0'))
             .arg(abs % 3600 / 60, 2, 10, QLatin1Char('0'));
}

ExportResult exportRunsCsv(ArchiveReader& reader, int unit, qint64 fromMs, qint64 toMs, const QString& path,
                           const ExportProgress& progress) {
  const qint64 total = progress ? reader.estimateRuns(unit, fromMs, toMs) : 0;
  if (progress && !progress(0, total)) return ExportResult::Cancelled;
  CsvFile csv(path);
  std::string& out = csv.buffer();
  out += "time";
  for (int i = 1; i <= kCells; ++i) out += ",V" + std::to_string(i);
  out += ",V\r\n";
  qint64 done = 0;
  const bool complete = reader.forEachMonth(unit, fromMs, toMs, [&](std::vector<StoredRun>& runs) {
    for (const StoredRun& r : runs) {
      out += localIsoTime(r.timeMs).toStdString();
      for (int i = 0; i < kCells; ++i) {
        out.push_back(',');
        if (i < r.cellCount) putMillivolts(out, r.mv[std::size_t(i)]);
      }
      out.push_back(',');
      putMillivolts(out, r.mv[kTotalIndex]);
      out += "\r\n";
      csv.maybeFlush();
      if (++done % kProgressRows == 0 && progress && !progress(done, std::max(done, total))) return false;
    }
    return true;
  });
  if (!complete) return ExportResult::Cancelled;
  csv.commit();
  if (progress) progress(done, done);
  return ExportResult::Done;
}

ExportResult exportDaySummariesCsv(ArchiveReader& reader, int unit, qint64 fromDay, qint64 toDay, const QString& path,
                                   const ExportProgress& progress) {
  const std::vector<DaySummary> rows = reader.daySummaries(unit, fromDay, toDay);
  const qint64 total = qint64(rows.size());
  if (progress && !progress(0, total)) return ExportResult::Cancelled;
  CsvFile csv(path);
  std::string& out = csv.buffer();
  out += "date,unit,cell,min,mean,max,samples\r\n";
  qint64 done = 0;
  for (const DaySummary& s : rows) {
    out += QDateTime::fromMSecsSinceEpoch(s.day * kDayMs, Qt::UTC).date().toString(Qt::ISODate).toStdString();
    out += ',' + std::to_string(s.unit) + (s.cell == kTotalCell ? ",V," : ",V" + std::to_string(s.cell) + ',');
    putMillivolts(out, s.minMv);
    out.push_back(',');
    // The mean to a tenth of a millivolt.
    const qint64 tenths = std::llround(s.meanMv * 10.0);
    putMillivolts(out, tenths / 10);
    out.push_back(char('0' + tenths % 10));
    out.push_back(',');
    putMillivolts(out, s.maxMv);
    out += ',' + std::to_string(s.samples) + "\r\n";
    csv.maybeFlush();
    if (++done % kProgressRows == 0 && progress && !progress(done, total)) return ExportResult::Cancelled;
  }
  csv.commit();
  if (progress) progress(done, total);
  return ExportResult::Done;
}

}  // namespace archive
