#include "health/core/Limits.h"

#include <cmath>

#include "acquisition/core/ReplyDecoder.h"
#include "common/ConvertError.h"
#include "common/NumberText.h"

namespace health {

double clearMargin(Limit limit) {
  switch (limit) {
    case Limit::TotalLow:
    case Limit::TotalHigh: return 0.5;
    case Limit::CellLow:
    case Limit::CellHigh:
    case Limit::Spread: return 0.02;
  }
  return 0.02;
}

QString limitName(Limit limit) {
  switch (limit) {
    case Limit::CellLow: return QStringLiteral("单体电压下限");
    case Limit::CellHigh: return QStringLiteral("单体电压上限");
    case Limit::TotalLow: return QStringLiteral("总电压下限");
    case Limit::TotalHigh: return QStringLiteral("总电压上限");
    case Limit::Spread: return QStringLiteral("单体压差上限");
  }
  return {};
}

bool Limits::any() const {
  for (const auto& v : volts)
    if (v) return true;
  return false;
}

namespace {

QString voltsText(double v) { return QString::fromStdString(common::formatGeneral(v)); }

}  // namespace

void checkLimits(const Limits& limits) {
  for (Limit l : kAllLimits) {
    const auto& v = limits[l];
    if (!v) continue;
    if (!std::isfinite(*v)) throw LimitError(QStringLiteral("%1不是有效的电压值").arg(limitName(l)).toStdString());
    if (*v < 0)
      throw LimitError(QStringLiteral("%1不能为负数（%2V）").arg(limitName(l), voltsText(*v)).toStdString());
    const bool cell = l == Limit::CellLow || l == Limit::CellHigh || l == Limit::Spread;
    const double most = cell ? acquisition::kMaxCellVoltage : acquisition::kMaxTotalVoltage;
    if (*v > most)
      throw LimitError(QStringLiteral("%1不能高于%2V：测得的电压最高记为%2V").arg(limitName(l), voltsText(most)).toStdString());
    if (l == Limit::Spread && *v == 0) throw LimitError(QStringLiteral("单体压差上限必须大于0V").toStdString());
  }
  if (limits[Limit::CellLow] && limits[Limit::CellHigh] && *limits[Limit::CellLow] >= *limits[Limit::CellHigh])
    throw LimitError(QStringLiteral("单体电压下限必须低于单体电压上限").toStdString());
  if (limits[Limit::TotalLow] && limits[Limit::TotalHigh] && *limits[Limit::TotalLow] >= *limits[Limit::TotalHigh])
    throw LimitError(QStringLiteral("总电压下限必须低于总电压上限").toStdString());
}

Limits parseLimits(const std::array<QString, kLimitCount>& texts, char decimalSeparator) {
  Limits limits;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const QString text = texts[i].trimmed();
    if (text.isEmpty()) continue;
    const Limit l = kAllLimits[i];
    try {
      limits[l] = common::parseFloat(text.toStdString(), decimalSeparator);
    } catch (const common::EConvertError&) {
      throw LimitError(QStringLiteral("%1：“%2”不是电压值，请输入伏特数（例如 1.85），不设此项请留空")
                           .arg(limitName(l), text)
                           .toStdString());
    }
  }
  checkLimits(limits);
  return limits;
}

}  // namespace health
