#pragma once
// The station-wide alarm limits. Each of the five is off until the operator sets it.
#include <QString>
#include <array>
#include <optional>
#include <stdexcept>

namespace health {

enum class Limit { CellLow, CellHigh, TotalLow, TotalHigh, Spread };
inline constexpr int kLimitCount = 5;
inline constexpr std::array<Limit, kLimitCount> kAllLimits{Limit::CellLow, Limit::CellHigh, Limit::TotalLow,
                                                            Limit::TotalHigh, Limit::Spread};

/// How far back inside a limit a reading must be before an alarm clears, by limit: a cell
/// within 20 mV, a total within 0.5 V, a spread within 20 mV. Smaller than any limit worth
/// setting, larger than the chatter of a cell near its limit.
double clearMargin(Limit limit);

/// The operator's name of a limit, as the dialog and the event record show it.
QString limitName(Limit limit);

struct Limits {
  std::array<std::optional<double>, kLimitCount> volts{};

  std::optional<double>& operator[](Limit l) { return volts[static_cast<std::size_t>(l)]; }
  const std::optional<double>& operator[](Limit l) const { return volts[static_cast<std::size_t>(l)]; }
  bool any() const;
  bool operator==(const Limits&) const = default;
};

/// A limit the operator typed that cannot be taken; what() is the message shown to them.
class LimitError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Reads the five texts of the limits dialog, in the order of kAllLimits. An empty (or blank)
/// text leaves that limit off. Throws LimitError for a text that is no voltage, a negative
/// value, a cell limit above 16 V or a total above 300 V (never reached: stored values are
/// clamped there), a spread of 0, and a low limit at or above its high limit.
Limits parseLimits(const std::array<QString, kLimitCount>& texts, char decimalSeparator);

/// Checks a set of limits as parseLimits does; an empty text means the limit is off.
void checkLimits(const Limits& limits);

}  // namespace health
