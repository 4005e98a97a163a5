#pragma once
// The pages of one report run, recorded once when the report is generated and played back on
// whatever device it is delivered to (the preview, a printer, a PDF file). A report previewed
// and then printed thus shows the values of the moment it was generated.
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPicture>
#include <QSizeF>
#include <functional>
#include <memory>
#include <vector>

namespace report {

/// One recorded page: a picture that reports the paper's size and a fixed resolution, so the
/// page writer computes its positions and font sizes as it would on the printer itself.
class RecordedPage : public QPicture {
 public:
  RecordedPage(QSizeF paperInches, int dpi) : paper_(paperInches), dpi_(dpi) {}

 protected:
  int metric(PaintDeviceMetric m) const override;

 private:
  QSizeF paper_;
  int dpi_;
};

class ReportPages {
 public:
  /// The resolution pages are recorded at; the printer and the PDF writer are set to it.
  static constexpr int kDpi = 1200;

  explicit ReportPages(QSizeF paperInches) : paper_(paperInches) {}

  /// Ends the painter on the current page (if any) and begins it on a fresh one.
  void beginPage(QPainter& painter);
  /// Ends the painter on the last page.
  void finish(QPainter& painter);

  int count() const { return static_cast<int>(pages_.size()); }
  /// How many of the pages lie in `from`..`to` (1-based).
  int countIn(int from, int to) const;
  QSizeF paperInches() const { return paper_; }

  /// Plays pages `from`..`to` (1-based, clamped to the pages there are) onto a device whose
  /// painter is active and whose origin is the paper's top-left corner, starting a new device
  /// page between them, scaled by `scale` (1 = 100 %) from the paper's corner. Returns the
  /// number of pages played; `beforePage` hears each page number.
  int render(QPainter& painter, QPagedPaintDevice& device, int from = 1, int to = 9999,
             const std::function<void(int)>& beforePage = {}, QSizeF scale = QSizeF(1, 1)) const;

 private:
  QSizeF paper_;
  std::vector<std::unique_ptr<RecordedPage>> pages_;
};

}  // namespace report
