#include "trend/core/AxisFit.h"

#include <algorithm>
#include <cmath>

namespace trend {

namespace {

// The 1-2-5 step nearest above a fifth of the span: about five grid lines.
double niceStep(double span) {
  const double raw = span / 5.0;
  const double decade = std::pow(10.0, std::floor(std::log10(raw)));
  for (const double m : {1.0, 2.0, 5.0})
    if (m * decade >= raw) return m * decade;
  return 10.0 * decade;
}

}  // namespace

std::pair<double, double> fitAxis(double low, double high, double resolution) {
  if (high < low) std::swap(low, high);
  const double margin = std::max((high - low) / 10.0, 5.0 * resolution);
  double lo = std::max(0.0, low - margin), hi = high + margin;
  const double step = niceStep(hi - lo);
  // A little slack against floating point: 2.2 / 0.01 is 220.00000000000003.
  lo = std::max(0.0, std::floor(lo / step + 1e-9) * step);
  hi = std::ceil(hi / step - 1e-9) * step;
  if (hi <= lo) hi = lo + step;
  return {lo, hi};
}

}  // namespace trend
