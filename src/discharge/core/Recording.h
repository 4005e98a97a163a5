#pragma once
// What a discharge leaves behind: its record and its samples, values as whole mV.
#include <QString>
#include <QtGlobal>
#include <array>
#include <optional>
#include <vector>

namespace discharge {

inline constexpr int kMaxCells = 108;

enum class StartReason { Automatic, Manual };
enum class EndReason {
  Recovered,      ///< the total back above threshold + margin for two readings
  Manual,         ///< ended by the operator
  MaxTime,        ///< the maximum duration ran out
  StationClosed,  ///< the station was closed during it
  Interrupted,    ///< found unfinished when the station started (it had stopped without closing)
};

/// The stored code and the operator's text of each reason.
QString code(StartReason r);
QString code(EndReason r);
std::optional<StartReason> startReasonFromCode(const QString& code);
std::optional<EndReason> endReasonFromCode(const QString& code);
QString text(StartReason r);
QString text(EndReason r);

/// A time as the reports and events show it: local "yyyy-MM-dd HH:mm:ss".
QString reportTime(qint64 utcMs);

/// A duration as h:mm:ss (hours not bounded), for the operator.
QString durationText(qint64 ms);

/// One good reply of a unit in discharge.
struct Sample {
  qint64 timeMs = 0;  ///< UTC, ms since the epoch
  int cells = 0;      ///< cells the reply carried, 0..108
  int totalMv = 0;
  std::array<int, kMaxCells> cellMv{};  ///< cells 1..cells
};

/// The nearest whole mV of a decoded voltage (which the wire gives to 10 mV for cells and
/// 0.1 V for totals, so the rounding only takes off the binary fraction).
int toMillivolts(double volts);

struct DischargeRecord {
  qint64 id = 0;
  int unit = 0;
  int cells = 0;  ///< cells the unit reported when the discharge began
  qint64 startMs = 0;
  std::optional<qint64> endMs;  ///< none while it runs
  StartReason startedBy = StartReason::Automatic;
  std::optional<EndReason> endedBy;
  std::optional<int> ratedMinutes;  ///< the runtime the string is rated for, where entered
  int thresholdMv = 0;              ///< the per-cell settings in force when it began
  int endMv = 0;
  qint64 samples = 0;  ///< samples stored (filled in by the archive's list)
};

/// A recording loaded for judging, reporting and export: samples in time order, the cell
/// values as one block (row i holds cells 1..cells of sample i; -1 where the reply had fewer).
/// A restart of the station during a discharge: the last sample before it stopped, and when the
/// recording went on.
struct Restart {
  qint64 stoppedMs = 0;
  qint64 resumedMs = 0;
};

struct Recording {
  DischargeRecord record;
  /// Restarts of the station the discharge went on across, in time order.
  std::vector<Restart> restarts;
  int cells = 0;
  std::vector<qint64> times;
  std::vector<int> totals;
  std::vector<int> cellMv;

  std::size_t size() const { return times.size(); }
  int cell(std::size_t sample, int k) const { return cellMv[sample * static_cast<std::size_t>(cells) + static_cast<std::size_t>(k - 1)]; }
  void append(const Sample& s);
};

}  // namespace discharge
