#include "report/ReportPages.h"

#include <QPaintDevice>
#include <algorithm>
#include <cmath>

namespace report {

int RecordedPage::metric(PaintDeviceMetric m) const {
  switch (m) {
    case PdmWidth: return static_cast<int>(std::lround(paper_.width() * dpi_));
    case PdmHeight: return static_cast<int>(std::lround(paper_.height() * dpi_));
    case PdmWidthMM: return static_cast<int>(std::lround(paper_.width() * 25.4));
    case PdmHeightMM: return static_cast<int>(std::lround(paper_.height() * 25.4));
    case PdmDpiX:
    case PdmDpiY:
    case PdmPhysicalDpiX:
    case PdmPhysicalDpiY: return dpi_;
    default: return QPicture::metric(m);
  }
}

void ReportPages::beginPage(QPainter& painter) {
  if (painter.isActive()) painter.end();
  pages_.push_back(std::make_unique<RecordedPage>(paper_, kDpi));
  painter.begin(pages_.back().get());
}

void ReportPages::finish(QPainter& painter) {
  if (painter.isActive()) painter.end();
}

int ReportPages::countIn(int from, int to) const {
  return std::max(std::min(to, count()) - std::max(from, 1) + 1, 0);
}

int ReportPages::render(QPainter& painter, QPagedPaintDevice& device, int from, int to,
                        const std::function<void(int)>& beforePage, QSizeF scale) const {
  from = std::max(from, 1);
  to = std::min(to, count());
  int played = 0;
  for (int n = from; n <= to; ++n) {
    if (beforePage) beforePage(n);
    if (played > 0) device.newPage();
    painter.save();
    // Playing a picture scales it from 96 px/in to the device's resolution; the page was
    // recorded at kDpi, so it is brought back to 96 px/in first.
    painter.scale(scale.width() * 96.0 / kDpi, scale.height() * 96.0 / kDpi);
    painter.drawPicture(0, 0, *pages_[static_cast<std::size_t>(n - 1)]);
    painter.restore();
    ++played;
  }
  return played;
}

}  // namespace report
