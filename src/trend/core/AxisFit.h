#pragma once
// The value axis fitted to a curve (自动纵轴): a 2.2 V cell on the fixed 0..16 V axis is a flat
// line; fitted, its millivolts show.
#include <utility>

namespace trend {

/// An axis range holding [low, high]: a tenth of the spread added on either side, at least
/// ten steps of `resolution` (the values' own step: 0.01 V for cells, 0.1 V for totals) wide
/// in all, the ends rounded outwards to a multiple of a 1-2-5 step; never below 0.
std::pair<double, double> fitAxis(double low, double high, double resolution);

}  // namespace trend
