#include "discharge/core/Settings.h"

#include <cmath>

#include "common/ConvertError.h"
#include "common/NumberText.h"

namespace discharge {

namespace {
constexpr int kMaxCellMv = 16000;
constexpr int kMaxMinutes = 2880;
}  // namespace

QString settingName(int i) {
  switch (i) {
    case 0: return QStringLiteral("放电判定电压（V/节）");
    case 1: return QStringLiteral("恢复回差（V/节）");
    case 2: return QStringLiteral("终止电压（V/节）");
    case 3: return QStringLiteral("最长放电时间（分钟）");
  }
  return {};
}

QString millivoltText(qint64 mv, char decimalSeparator) {
  const bool negative = mv < 0;
  const qint64 a = negative ? -mv : mv;
  QString text = QString::number(a / 1000);
  if (const qint64 frac = a % 1000) {
    QString digits = QStringLiteral("%1").arg(frac, 3, 10, QLatin1Char('0'));
    while (digits.endsWith(QLatin1Char('0'))) digits.chop(1);
    text += QLatin1Char(decimalSeparator) + digits;
  }
  return negative ? QLatin1Char('-') + text : text;
}

void checkSettings(const Settings& s) {
  const auto volts = [](int mv) { return millivoltText(mv); };
  if (s.thresholdMv <= 0 || s.thresholdMv > kMaxCellMv)
    throw SettingError(QStringLiteral("放电判定电压必须大于0V且不高于16V（%1V）").arg(volts(s.thresholdMv)).toStdString());
  if (s.marginMv <= 0)
    throw SettingError(QStringLiteral("恢复回差必须大于0V（%1V）").arg(volts(s.marginMv)).toStdString());
  if (s.thresholdMv + s.marginMv > kMaxCellMv)
    throw SettingError(QStringLiteral("放电判定电压加恢复回差不能高于16V").toStdString());
  if (s.endMv <= 0 || s.endMv >= s.thresholdMv)
    throw SettingError(QStringLiteral("终止电压必须大于0V且低于放电判定电压（%1V）").arg(volts(s.thresholdMv)).toStdString());
  if (s.maxMinutes < 1 || s.maxMinutes > kMaxMinutes)
    throw SettingError(QStringLiteral("最长放电时间必须是1到%1分钟的整数").arg(kMaxMinutes).toStdString());
}

Settings parseSettings(const std::array<QString, kSettingCount>& texts, char decimalSeparator) {
  Settings s;
  int* const volts[3] = {&s.thresholdMv, &s.marginMv, &s.endMv};
  for (int i = 0; i < 3; ++i) {
    const QString text = texts[static_cast<std::size_t>(i)].trimmed();
    double v = 0;
    try {
      v = common::parseFloat(text.toStdString(), decimalSeparator);
    } catch (const common::EConvertError&) {
      v = NAN;
    }
    // 16 V is the most a cell is ever recorded as; anything beyond is refused by the checks.
    if (!std::isfinite(v) || std::fabs(v) > 1000)
      throw SettingError(QStringLiteral("%1：“%2”不是电压值，请输入伏特数（例如 1.8）")
                             .arg(settingName(i), text)
                             .toStdString());
    *volts[i] = static_cast<int>(std::lround(v * 1000));
  }
  const QString minutes = texts[3].trimmed();
  bool ok = false;
  s.maxMinutes = minutes.toInt(&ok);
  if (!ok)
    throw SettingError(
        QStringLiteral("%1：“%2”不是分钟数，请输入整数（例如 600）").arg(settingName(3), minutes).toStdString());
  checkSettings(s);
  return s;
}

std::array<QString, kSettingCount> settingTexts(const Settings& s, char decimalSeparator) {
  return {millivoltText(s.thresholdMv, decimalSeparator), millivoltText(s.marginMv, decimalSeparator),
          millivoltText(s.endMv, decimalSeparator), QString::number(s.maxMinutes)};
}

}  // namespace discharge
