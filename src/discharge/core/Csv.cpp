#include "discharge/core/Csv.h"

#include <QDateTime>
#include <QDir>
#include <QSaveFile>
#include <stdexcept>

#include "discharge/core/Settings.h"

namespace discharge {

QString csvTime(qint64 utcMs) {
  const QDateTime local = QDateTime::fromMSecsSinceEpoch(utcMs).toLocalTime();
  const int offset = local.offsetFromUtc();
  const int a = offset < 0 ? -offset : offset;
  return local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) +
         QStringLiteral("%1%2:%3").arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
             .arg(a / 3600, 2, 10, QLatin1Char('0'))
             .arg(a / 60 % 60, 2, 10, QLatin1Char('0'));
}

QByteArray recordingCsv(const Recording& r) {
  QByteArray csv = "\xEF\xBB\xBFtime";
  for (int k = 1; k <= kMaxCells; ++k) csv += ",V" + QByteArray::number(k);
  csv += ",V\r\n";
  csv.reserve(csv.size() + static_cast<qsizetype>(r.size()) * (30 + 6 * (r.cells + 1) + kMaxCells));
  for (std::size_t i = 0; i < r.size(); ++i) {
    csv += csvTime(r.times[i]).toLatin1();
    for (int k = 1; k <= kMaxCells; ++k) {
      csv += ',';
      // Values are never negative (the decoder gives 0 and up), so no field starts with '-'.
      if (k <= r.cells && r.cell(i, k) >= 0) csv += millivoltText(r.cell(i, k)).toLatin1();
    }
    csv += ',' + millivoltText(r.totals[i]).toLatin1() + "\r\n";
  }
  return csv;
}

void writeRecordingCsv(const Recording& r, const QString& path) {
  QSaveFile f(path);
  if (!f.open(QIODevice::WriteOnly) || f.write(recordingCsv(r)) < 0 || !f.commit())
    throw std::runtime_error(
        QStringLiteral("无法写入 %1：%2").arg(QDir::toNativeSeparators(path), f.errorString()).toStdString());
}

}  // namespace discharge
