#pragma once
// A chart's own print settings: the margins in per cent of the page and whether the chart keeps
// its proportions. The chart print preview changes them; they hold for later previews.
namespace report {

struct ChartPrintSettings {
  enum Side { Left, Top, Right, Bottom };

  double margins[4] = {10, 10, 10, 10};  ///< per cent of the page's width (left, right) or height
  /// Off: the chart is stretched to the margins. On: it keeps its on-screen proportions.
  bool proportional = false;

  double margin(Side s) const { return margins[s]; }
  /// Sets one margin; refused (false, nothing changed) when it is negative or it and the
  /// opposite margin would reach 100 % together.
  bool setMargin(Side s, double percent) {
    const Side opposite = static_cast<Side>((s + 2) % 4);
    if (!(percent >= 0) || percent + margins[opposite] >= 100) return false;
    margins[s] = percent;
    return true;
  }
};

}  // namespace report
