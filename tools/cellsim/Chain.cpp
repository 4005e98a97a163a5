#include "Chain.h"

#include <algorithm>
#include <numeric>

#include "protocol/Frames.h"

namespace cellsim {

Chain::Chain(const Options& options) : options_(options), random_(options.seed) {
  // A lead-acid string on float charge rests near 2.25 V a cell; a lithium iron phosphate one
  // near 3.30 V. Both stay well inside the station's 16 V cell clamp.
  rest_ = options.chemistry == Chemistry::LeadAcid ? 2.25 : 3.30;
  spread_ = options.chemistry == Chemistry::LeadAcid ? 0.06 : 0.05;
  std::normal_distribution<double> start(0.0, spread_ / 3);
  units_.resize(static_cast<std::size_t>(options.units));
  replies_.assign(99, 0);
  for (auto& unit : units_) {
    unit.resize(static_cast<std::size_t>(options.cells));
    for (double& v : unit) v = std::clamp(rest_ + start(random_), rest_ - spread_, rest_ + spread_);
  }
}

bool Chain::chance(double percent) {
  if (percent <= 0) return false;
  if (percent >= 100) return true;
  return std::uniform_real_distribution<double>(0, 100)(random_) < percent;
}

void Chain::drift(std::vector<double>& cells) {
  // A small random step with a pull back towards rest: the voltages wander but stay plausible.
  std::normal_distribution<double> step(0.0, 0.002);
  for (double& v : cells) {
    v += step(random_) - 0.02 * (v - rest_);
    v = std::clamp(v, rest_ - spread_, rest_ + spread_);
  }
}

double Chain::underLoad(double fraction, double rate, double offset) const {
  // Lead-acid: about 2.05 V a cell once the load is on, 0.10 V down over the discharge and
  // 0.15 V more through the knee in its last fifth, so a sound cell ends near 1.80 V. A lithium
  // iron phosphate cell: 3.20 V, a flat 0.08 V slope, 0.40 V through the knee.
  const bool lead = options_.chemistry == Chemistry::LeadAcid;
  const double loaded = lead ? 2.05 : 3.20, slope = lead ? 0.10 : 0.08, knee = lead ? 0.15 : 0.40;
  const double f = std::clamp(fraction, 0.0, 1.0);
  const double k = f > 0.8 ? (f - 0.8) / 0.2 : 0.0;
  return loaded - slope * f * rate - knee * k * k * rate * rate + offset * 0.5;
}

Reply Chain::answer(int asked, double seconds) {
  Reply reply;
  if (asked < 1 || asked > options_.units || options_.silent.contains(asked)) return reply;
  const auto as = options_.answerAs.find(asked);
  const int unit = as == options_.answerAs.end() ? asked : as->second;
  reply.unit = unit;

  std::vector<double> cells;
  if (unit <= options_.units) {
    auto& own = units_[static_cast<std::size_t>(unit - 1)];
    drift(own);
    cells = own;
  } else {
    // A unit beyond the chain (only reached through --answer-as) reports resting cells.
    cells.assign(static_cast<std::size_t>(options_.cells), rest_);
  }
  for (const Discharge& d : options_.discharges) {
    const double fraction = (seconds - d.afterSeconds) / (d.minutes * 60);
    if (d.unit != unit || unit > options_.units || fraction < 0 || fraction > 1) continue;
    for (std::size_t k = 0; k < cells.size(); ++k) {
      const double rate = d.weak.contains(static_cast<int>(k) + 1) ? 1.8 : 1.0;
      cells[k] = underLoad(fraction, rate, cells[k] - rest_);
    }
  }
  // A sagging cell reads its sag in this reply only; its own drift goes on underneath, so it
  // comes back where a healthy cell would be.
  const int nth = ++replies_[static_cast<std::size_t>(unit - 1)];
  for (const Sag& s : options_.sags) {
    if (s.unit != unit || s.cell > static_cast<int>(cells.size()) || nth <= s.after) continue;
    if (s.replies == 0 || nth <= s.after + s.replies) cells[static_cast<std::size_t>(s.cell - 1)] = s.volts;
  }
  // The unit measures the string's total on its own divider: close to the sum, not equal.
  const double sum = std::accumulate(cells.begin(), cells.end(), 0.0);
  const double total = sum * (1.0 + std::uniform_real_distribution<double>(-0.002, 0.002)(random_));

  reply.bytes = protocol::buildReply(static_cast<std::uint8_t>(unit), total, cells);
  if (chance(options_.badChecksumPercent)) {
    reply.bytes[protocol::checksumOffset(static_cast<int>(cells.size()))] ^= 0x5A;
    reply.badChecksum = true;
  }
  reply.splitAt = reply.bytes.size();
  if (chance(options_.splitPercent)) reply.splitAt = reply.bytes.size() / 2;
  return reply;
}

}  // namespace cellsim
