#pragma once
// A value's curve over a long range as the chart draws it: runs of columns between gaps. A
// column is one pixel of the plot: the lowest, mean and highest sample in it. A gap (no sample
// in a column, or a sampling run missing between two exact samples) breaks the curve.
#include <vector>

#include "archive/core/ArchiveReader.h"

namespace trend {

struct Column {
  double x = 0;  // UTC ms: the column's middle, or the sample's time
  double low = 0, mean = 0, high = 0;
};

struct TrendCurve {
  /// Columns of several samples each (a band and its mean); else the samples themselves.
  bool condensed = false;
  std::vector<std::vector<Column>> runs;
  qint64 samples = 0;
};

/// The longest step between two samples of one unbroken line: twice the 180 s between sampling
/// runs, or twice the usual step where the polling interval spaces them wider.
qint64 gapAfter(const std::vector<archive::SeriesPoint>& points);

TrendCurve trendCurve(const archive::Series& series);

}  // namespace trend
