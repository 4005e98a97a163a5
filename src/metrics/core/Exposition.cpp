#include "metrics/core/Exposition.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "common/NumberText.h"

namespace metrics {

namespace {

using acquisition::StationSnapshot;
using acquisition::UnitSnapshot;

// A float as Prometheus reads it: the shortest text that reads back as the same double.
void number(std::string& out, double v) {
  if (std::isnan(v)) {
    out += "NaN";
    return;
  }
  if (std::isinf(v)) {
    out += v > 0 ? "+Inf" : "-Inf";
    return;
  }
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

// A voltage as the window shows it (at most 15 significant digits: 2.28, not
// 2.2800000000000002).
void volts(std::string& out, double v) {
  if (!std::isfinite(v)) {
    number(out, v);
    return;
  }
  out += common::formatGeneral(v, '.');
}

void integer(std::string& out, std::uint64_t v) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

void family(std::string& out, const char* name, const char* type, const char* help) {
  out += "# HELP ";
  out += name;
  out += ' ';
  out += help;
  out += "\n# TYPE ";
  out += name;
  out += ' ';
  out += type;
  out += '\n';
}

void unitLabel(std::string& out, const char* name, int u) {
  out += name;
  out += "{unit=\"";
  integer(out, static_cast<std::uint64_t>(u));
  out += '"';
}

constexpr const char* kAlarmNames[acquisition::kAlarmKinds] = {"cell_low", "cell_high", "total_low", "total_high",
                                                               "spread"};

// One sample per polled unit; with `readings`, only of the units that have answered (a unit
// that never has has no reading, and 0 would look like one).
template <typename Value>
void perUnit(std::string& out, const StationSnapshot& s, int units, const char* name, const char* type,
             const char* help, Value value, bool readings = false) {
  family(out, name, type, help);
  for (int u = 1; u <= units; ++u) {
    if (readings && !s.unit(u).lastGoodMs) continue;
    unitLabel(out, name, u);
    out += "} ";
    value(out, s.unit(u));
    out += '\n';
  }
}

}  // namespace

void renderMetrics(const StationSnapshot& s, const HistogramCounts& runs, const std::string& version,
                   std::string& out) {
  const int units = std::clamp(s.unitCount, 0, acquisition::kUnits);

  family(out, "cellstation_build_info", "gauge", "The station's version; always 1.");
  out += "cellstation_build_info{version=\"";
  for (const char c : version) {
    // A label value escapes backslash, double quote and line feed.
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') out += "\\n";
    else out += c;
  }
  out += "\"} 1\n";
  family(out, "cellstation_polling", "gauge", "1 while the station polls its units, 0 when stopped.");
  out += s.polling ? "cellstation_polling 1\n" : "cellstation_polling 0\n";
  family(out, "cellstation_units_polled", "gauge", "Detector units the station polls.");
  out += "cellstation_units_polled ";
  integer(out, static_cast<std::uint64_t>(units));
  out += '\n';
  family(out, "cellstation_line_up", "gauge", "1 while the serial line works, 0 while it is down.");
  out += s.lineUp ? "cellstation_line_up 1\n" : "cellstation_line_up 0\n";
  if (s.lastSamplingMs) {
    family(out, "cellstation_last_sampling_timestamp_seconds", "gauge", "Unix time of the last sampling run.");
    out += "cellstation_last_sampling_timestamp_seconds ";
    number(out, static_cast<double>(*s.lastSamplingMs) / 1000.0);
    out += '\n';
  }

  family(out, "cellstation_sampling_run_duration_seconds", "histogram", "Time a sampling run took to store its samples.");
  for (std::size_t i = 0; i < kRunBuckets.size(); ++i) {
    out += "cellstation_sampling_run_duration_seconds_bucket{le=\"";
    number(out, kRunBuckets[i]);
    out += "\"} ";
    integer(out, runs.buckets[i]);
    out += '\n';
  }
  out += "cellstation_sampling_run_duration_seconds_bucket{le=\"+Inf\"} ";
  integer(out, runs.count);
  out += "\ncellstation_sampling_run_duration_seconds_sum ";
  number(out, runs.sum);
  out += "\ncellstation_sampling_run_duration_seconds_count ";
  integer(out, runs.count);
  out += '\n';

  family(out, "cellstation_cell_voltage_volts", "gauge", "Cell voltage as of the unit's last good reply.");
  for (int u = 1; u <= units; ++u) {
    const UnitSnapshot& unit = s.unit(u);
    const int n = unit.lastGoodMs ? std::clamp(unit.cellCount, 0, acquisition::kCells) : 0;
    for (int k = 1; k <= n; ++k) {
      unitLabel(out, "cellstation_cell_voltage_volts", u);
      out += ",cell=\"";
      integer(out, static_cast<std::uint64_t>(k));
      out += "\"} ";
      volts(out, unit.cellVolts[static_cast<std::size_t>(k - 1)]);
      out += '\n';
    }
  }
  perUnit(out, s, units, "cellstation_unit_cells", "gauge", "Cells the unit reported in its last reply.",
          [](std::string& o, const UnitSnapshot& x) { integer(o, static_cast<std::uint64_t>(std::clamp(x.cellCount, 0, acquisition::kCells))); },
          true);
  perUnit(out, s, units, "cellstation_total_voltage_volts", "gauge", "Total voltage as of the unit's last good reply.",
          [](std::string& o, const UnitSnapshot& x) { volts(o, x.totalVolts); }, true);
  perUnit(out, s, units, "cellstation_unit_online", "gauge", "1 while the unit answers, 0 after three polls without a good reply.",
          [](std::string& o, const UnitSnapshot& x) { o += x.online ? '1' : '0'; });

  family(out, "cellstation_last_reply_timestamp_seconds", "gauge", "Unix time of the unit's last good reply.");
  for (int u = 1; u <= units; ++u) {
    const UnitSnapshot& unit = s.unit(u);
    if (!unit.lastGoodMs) continue;
    unitLabel(out, "cellstation_last_reply_timestamp_seconds", u);
    out += "} ";
    number(out, static_cast<double>(*unit.lastGoodMs) / 1000.0);
    out += '\n';
  }

  family(out, "cellstation_alarm_active", "gauge", "1 while the unit's alarm of this kind is active.");
  for (int u = 1; u <= units; ++u)
    for (int a = 0; a < acquisition::kAlarmKinds; ++a) {
      unitLabel(out, "cellstation_alarm_active", u);
      out += ",kind=\"";
      out += kAlarmNames[a];
      out += s.unit(u).alarm[static_cast<std::size_t>(a)] ? "\"} 1\n" : "\"} 0\n";
    }
  perUnit(out, s, units, "cellstation_cells_in_alarm", "gauge", "Cells of the unit with a low or high alarm.",
          [](std::string& o, const UnitSnapshot& x) { integer(o, static_cast<std::uint64_t>(std::max(0, x.cellsInAlarm))); });

  struct Counter {
    const char* name;
    const char* help;
    std::uint64_t UnitSnapshot::*field;
  };
  static constexpr Counter kCounters[] = {
      {"cellstation_requests_total", "Requests sent to the unit.", &UnitSnapshot::requests},
      {"cellstation_replies_total", "Good replies from the unit asked.", &UnitSnapshot::replies},
      {"cellstation_no_replies_total", "Polls of the unit that brought nothing back.", &UnitSnapshot::noReply},
      {"cellstation_bad_checksums_total", "Blocks with a bad checksum while the unit was asked.", &UnitSnapshot::badChecksum},
      {"cellstation_malformed_frames_total", "Blocks that were no frame while the unit was asked.", &UnitSnapshot::malformed},
      {"cellstation_foreign_replies_total", "Good frames from another unit while the unit was asked.", &UnitSnapshot::foreign},
  };
  for (const Counter& c : kCounters)
    perUnit(out, s, units, c.name, "counter", c.help, [&c](std::string& o, const UnitSnapshot& x) { integer(o, x.*c.field); });
}

}  // namespace metrics
