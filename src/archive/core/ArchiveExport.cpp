#include "archive/core/ArchiveExport.h"

#include <QDateTime>
#include <QDir>
#include <QSaveFile>
#include <cmath>
#include <limits>
#include <string>

namespace archive {

namespace {

constexpr std::size_t kFlushBytes = 1 << 20;
constexpr qint64 kProgressRows = 1000;

// Millivolts as volts with three decimals: 2250 -> "2.250", written at `p`; returns the end.
// Values are never negative.
char* writeMillivolts(char* p, qint64 mv) {
  char digits[24];
  int n = 0;
  qint64 whole = mv / 1000;
  const int frac = int(mv % 1000);
  do {
    digits[n++] = char('0' + whole % 10);
    whole /= 10;
  } while (whole > 0);
  while (n > 0) *p++ = digits[--n];
  *p++ = '.';
  *p++ = char('0' + frac / 100);
  *p++ = char('0' + frac / 10 % 10);
  *p++ = char('0' + frac % 10);
  return p;
}

void putMillivolts(std::string& out, qint64 mv) {
  char buf[32];
  out.append(buf, std::size_t(writeMillivolts(buf, mv) - buf));
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

namespace {

void putDigits(std::string& out, qint64 v, int width) {
  char buf[24];
  int n = 0;
  do {
    buf[n++] = char('0' + v % 10);
    v /= 10;
  } while (v > 0 || n < width);
  while (n > 0) out.push_back(buf[--n]);
}

qint64 floorDiv(qint64 a, qint64 b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

// The time as ISO 8601 with the given UTC offset (seconds east): the civil date of the local
// day by the proleptic Gregorian calendar, without a look at the time zone.
void putIsoTime(std::string& out, qint64 timeMs, int offsetSec) {
  const qint64 local = timeMs + qint64(offsetSec) * 1000;
  const qint64 days = floorDiv(local, kDayMs);
  const qint64 msOfDay = local - days * kDayMs;
  // Days since 1970-01-01 to year, month, day (the era algorithm: 400-year cycles from 0000-03-01).
  const qint64 z = days + 719468;
  const qint64 era = floorDiv(z, 146097);
  const qint64 doe = z - era * 146097;
  const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const qint64 mp = (5 * doy + 2) / 153;
  const qint64 day = doy - (153 * mp + 2) / 5 + 1;
  const qint64 month = mp < 10 ? mp + 3 : mp - 9;
  const qint64 year = yoe + era * 400 + (month <= 2);
  putDigits(out, year, 4);
  out.push_back('-');
  putDigits(out, month, 2);
  out.push_back('-');
  putDigits(out, day, 2);
  out.push_back('T');
  putDigits(out, msOfDay / 3600000, 2);
  out.push_back(':');
  putDigits(out, msOfDay / 60000 % 60, 2);
  out.push_back(':');
  putDigits(out, msOfDay / 1000 % 60, 2);
  if (msOfDay % 1000) {
    out.push_back('.');
    putDigits(out, msOfDay % 1000, 3);
  }
  const int abs = offsetSec < 0 ? -offsetSec : offsetSec;
  out.push_back(offsetSec < 0 ? '-' : '+');
  putDigits(out, abs / 3600, 2);
  out.push_back(':');
  putDigits(out, abs % 3600 / 60, 2);
}

int offsetAt(qint64 timeMs) { return QDateTime::fromMSecsSinceEpoch(timeMs).offsetFromUtc(); }

// The local offset of the times of one UTC hour, looked up once per hour: a zone whose offset
// changes within the hour (at its start or inside it) is asked for each time of that hour.
class LocalOffsets {
 public:
  int at(qint64 timeMs) {
    const qint64 hour = floorDiv(timeMs, kHourMs);
    if (hour != hour_) {
      hour_ = hour;
      const int first = offsetAt(hour * kHourMs);
      whole_ = first == offsetAt(hour * kHourMs + kHourMs - 1);
      offset_ = first;
    }
    return whole_ ? offset_ : offsetAt(timeMs);
  }

 private:
  static constexpr qint64 kHourMs = 3600000;
  qint64 hour_ = std::numeric_limits<qint64>::min();
  int offset_ = 0;
  bool whole_ = false;
};

}  // namespace

QString localIsoTime(qint64 timeMs) {
  std::string out;
  putIsoTime(out, timeMs, offsetAt(timeMs));
  return QString::fromLatin1(out.data(), qsizetype(out.size()));
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
  LocalOffsets offsets;
  const bool complete = reader.forEachMonth(unit, fromMs, toMs, [&](std::vector<StoredRun>& runs) {
    for (const StoredRun& r : runs) {
      putIsoTime(out, r.timeMs, offsets.at(r.timeMs));
      // The values of a row into one buffer, appended at once (a value takes at most 23 chars).
      char row[kValues * 24 + 4];
      char* p = row;
      for (int i = 0; i < kCells; ++i) {
        *p++ = ',';
        if (i < r.cellCount) p = writeMillivolts(p, r.mv[std::size_t(i)]);
      }
      *p++ = ',';
      p = writeMillivolts(p, r.mv[kTotalIndex]);
      *p++ = '\r';
      *p++ = '\n';
      out.append(row, std::size_t(p - row));
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
  out += "utc_date,unit,cell,min,mean,max,samples\r\n";
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
