#include "discharge/core/Recording.h"

#include <QDateTime>
#include <algorithm>
#include <cmath>

namespace discharge {

QString code(StartReason r) { return r == StartReason::Manual ? QStringLiteral("manual") : QStringLiteral("auto"); }

QString code(EndReason r) {
  switch (r) {
    case EndReason::Recovered: return QStringLiteral("recovered");
    case EndReason::Manual: return QStringLiteral("manual");
    case EndReason::MaxTime: return QStringLiteral("max_time");
    case EndReason::StationClosed: return QStringLiteral("closed");
    case EndReason::Interrupted: return QStringLiteral("interrupted");
  }
  return {};
}

std::optional<StartReason> startReasonFromCode(const QString& c) {
  for (StartReason r : {StartReason::Automatic, StartReason::Manual})
    if (code(r) == c) return r;
  return std::nullopt;
}

std::optional<EndReason> endReasonFromCode(const QString& c) {
  for (EndReason r : {EndReason::Recovered, EndReason::Manual, EndReason::MaxTime, EndReason::StationClosed,
                      EndReason::Interrupted})
    if (code(r) == c) return r;
  return std::nullopt;
}

QString text(StartReason r) {
  return r == StartReason::Manual ? QStringLiteral("手动开始记录") : QStringLiteral("自动检测（总电压低于判定值）");
}

QString text(EndReason r) {
  switch (r) {
    case EndReason::Recovered: return QStringLiteral("总电压恢复");
    case EndReason::Manual: return QStringLiteral("手动结束记录");
    case EndReason::MaxTime: return QStringLiteral("达到最长放电时间");
    case EndReason::StationClosed: return QStringLiteral("监测程序关闭");
    case EndReason::Interrupted: return QStringLiteral("记录中断（程序异常退出）");
  }
  return {};
}

QString reportTime(qint64 utcMs) {
  return QDateTime::fromMSecsSinceEpoch(utcMs).toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString durationText(qint64 ms) {
  const qint64 s = std::max<qint64>(ms, 0) / 1000;
  return QStringLiteral("%1:%2:%3").arg(s / 3600).arg(s / 60 % 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'));
}

int toMillivolts(double volts) {
  if (!std::isfinite(volts) || volts <= 0) return 0;
  return static_cast<int>(std::lround(std::min(volts, 1.0e6) * 1000));
}

void Recording::append(const Sample& s) {
  times.push_back(s.timeMs);
  totals.push_back(s.totalMv);
  const std::size_t at = cellMv.size();
  cellMv.resize(at + static_cast<std::size_t>(cells), -1);
  const int n = std::min(s.cells, cells);
  for (int k = 0; k < n; ++k) cellMv[at + static_cast<std::size_t>(k)] = s.cellMv[static_cast<std::size_t>(k)];
}

}  // namespace discharge
