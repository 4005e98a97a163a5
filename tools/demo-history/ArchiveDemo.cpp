#include "ArchiveDemo.h"

#include <QDateTime>
#include <cmath>
#include <numbers>

#include "archive/core/ArchiveWriter.h"
#include "protocol/PackedVoltage.h"

namespace demo {

namespace {

constexpr qint64 kRunMs = 180000;

// What the station holds for a true voltage: the detector's packed reading, decoded.
double asReported(double volts) {
  const auto packed = protocol::encodePacked(volts);
  return protocol::decodePacked(packed[0], packed[1]);
}

// The discharge's pull on a cell at `days` since the start: two hours down, then the recharge.
double discharge(double days) {
  const double cycle = std::fmod(days - 12.0, 30.0);
  if (days < 12.0 || cycle < 0) return 0;
  const double h = cycle * 24.0 - 14.0;  // hours since 14:00 on the discharge day
  if (h < 0) return 0;
  if (h < 2.0) return -0.18 - 0.10 * h / 2.0;
  return 0.10 * std::exp(-(h - 2.0) / 1.5);
}

}  // namespace

SimulatedStation::SimulatedStation(int units, int cells, qint64 startMs, std::uint32_t seed)
    : units_(units), cells_(cells), startMs_(startMs), rng_(seed) {}

archive::Run SimulatedStation::run(qint64 timeMs) {
  archive::Run run;
  run.timeMs = timeMs;
  const double days = double(timeMs - startMs_) / double(archive::kDayMs);
  const double hour = std::fmod(double(timeMs) / 3.6e6, 24.0);
  const double warmth = 0.004 * std::sin((hour - 9.0) * std::numbers::pi / 12.0);
  const double creep = 0.002 * days / 30.0;
  const double pull = discharge(days);
  run.units.resize(std::size_t(units_));
  for (int u = 1; u <= units_; ++u) {
    archive::UnitReading& r = run.units[std::size_t(u - 1)];
    r.unit = u;
    r.cellCount = cells_;
    double total = 0;
    for (int k = 1; k <= cells_; ++k) {
      const double offset = 0.012 * std::sin(k * 2.399 + u * 1.7);
      const bool weak = weakCell(u, k);
      double v = 2.25 + offset + warmth + creep + noise_(rng_) + (weak ? 1.5 : 1.0) * pull;
      if (weak) v -= 0.001 * days;
      total += v;
      r.cells[std::size_t(k - 1)] = asReported(v);
    }
    r.total = asReported(total);
  }
  return run;
}

int writeArchiveDays(const QString& folder, int units, int cells, int days) {
  const qint64 now = QDateTime::currentMSecsSinceEpoch() / kRunMs * kRunMs;
  const qint64 runs = qint64(days) * archive::kDayMs / kRunMs;
  const qint64 start = now - (runs - 1) * kRunMs;
  archive::WriterOptions options;
  options.folder = folder;
  archive::ArchiveWriter writer(options);
  SimulatedStation station(units, cells, start);
  for (qint64 i = 0; i < runs; ++i) writer.append(station.run(start + i * kRunMs));
  return int(runs);
}

}  // namespace demo
