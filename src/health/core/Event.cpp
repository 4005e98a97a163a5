#include "health/core/Event.h"

#include "common/NumberText.h"

namespace health {

namespace {

QString alarmText(Limit l) {
  switch (l) {
    case Limit::CellLow: return QStringLiteral("单体电压过低");
    case Limit::CellHigh: return QStringLiteral("单体电压过高");
    case Limit::TotalLow: return QStringLiteral("总电压过低");
    case Limit::TotalHigh: return QStringLiteral("总电压过高");
    case Limit::Spread: return QStringLiteral("单体压差过大");
  }
  return {};
}

}  // namespace

QString eventText(const Event& e) {
  switch (e.kind) {
    case EventKind::AlarmRaised: return alarmText(e.limit);
    case EventKind::AlarmCleared: return alarmText(e.limit) + QStringLiteral("解除");
    case EventKind::UnitOffline: return QStringLiteral("离线");
    case EventKind::UnitOnline: return QStringLiteral("恢复通信");
    case EventKind::PollingStarted: return QStringLiteral("开始巡检");
    case EventKind::PollingStopped: return QStringLiteral("停止巡检");
    case EventKind::SamplingFailed: return QStringLiteral("采样失败");
    case EventKind::LineDown: return QStringLiteral("串口断开");
    case EventKind::LineUp: return QStringLiteral("串口恢复");
    case EventKind::DischargeStarted: return QStringLiteral("放电开始");
    case EventKind::DischargeEnded: return QStringLiteral("放电结束");
    case EventKind::BackupFailed: return QStringLiteral("备份失败");
    case EventKind::StoreDelayed: return QStringLiteral("存储延迟");
    case EventKind::StoreResumed: return QStringLiteral("存储恢复");
    case EventKind::DiskLow: return QStringLiteral("磁盘空间不足");
    case EventKind::DiskRecovered: return QStringLiteral("磁盘空间恢复");
    case EventKind::ArchiveDamaged: return QStringLiteral("长期记录文件损坏");
  }
  return {};
}

QString eventLogLine(const Event& e) {
  QString line = eventText(e);
  if (e.unit) line += QStringLiteral(" unit=%1").arg(e.unit);
  if (e.cell) line += QStringLiteral(" cell=%1").arg(e.cell);
  if (e.value) line += QStringLiteral(" value=") + QString::fromStdString(common::formatGeneral(*e.value));
  if (!e.detail.isEmpty()) line += QStringLiteral(" detail=") + e.detail;
  return line;
}

}  // namespace health
