#pragma once
// The operator's settings of discharge detection, station-wide. Voltages are per cell in mV;
// a unit's thresholds are these times its cell count.
#include <QString>
#include <array>
#include <stdexcept>

namespace discharge {

struct Settings {
  /// A unit's total below thresholdMv x cells for two good readings starts a discharge.
  /// 2.13 V a cell lies below a lead-acid string's float voltage (about 2.25 V).
  int thresholdMv = 2130;
  /// Back above (thresholdMv + marginMv) x cells for two readings ends it.
  int marginMv = 20;
  /// The end-of-discharge voltage a cell is judged against.
  int endMv = 1800;
  /// A discharge (automatic or by hand) ends after this long whatever the voltages say.
  int maxMinutes = 720;

  bool operator==(const Settings&) const = default;
};

inline constexpr int kSettingCount = 4;

/// The operator's name of setting i (threshold, margin, end voltage, maximum duration), with
/// its unit, as the dialog shows it.
QString settingName(int i);

/// A setting the operator typed that cannot be taken; what() is the message shown to them.
class SettingError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Reads the dialog's four texts: three voltages per cell in volts, the maximum duration in whole
/// minutes. Throws SettingError for an empty text, a text that is no number, and for values
/// checkSettings refuses.
Settings parseSettings(const std::array<QString, kSettingCount>& texts, char decimalSeparator);

/// Throws SettingError unless: 0 < threshold <= 16 V, 0 < margin and threshold + margin <= 16 V,
/// 0 < end voltage < threshold, and 1 <= maximum duration <= 2880 minutes (two days).
void checkSettings(const Settings& s);

/// The texts the dialog shows for the settings, in the order of parseSettings.
std::array<QString, kSettingCount> settingTexts(const Settings& s, char decimalSeparator);

/// mV as volts text: 2130 -> "2.13", 54100 -> "54.1", 0 -> "0"; exact, no rounding.
QString millivoltText(qint64 mv, char decimalSeparator = '.');

}  // namespace discharge
