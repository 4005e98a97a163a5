#pragma once
// The chart print preview: a modal dialog that shows a chart on a page and prints it. It lists
// the installed printers with the current one selected and offers printer setup, orientation
// (landscape when it opens), margins in per cent, whether the margins are shown, a detail
// setting, proportional printing, print and close. The margins and the proportional choice are
// written into the chart's print settings as they are changed.
//
// The chart is any widget; a QGraphicsView (a chart view), or a widget filled by one, is laid out
// anew at the printed size so its text and lines stay sharp and undistorted; other widgets are
// drawn as they stand on screen, scaled.
#include <QDialog>
#include <QPrinter>
#include <QRectF>
#include <QSizeF>
#include <memory>

#include "report/ChartPrintSettings.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QPainter;
class QRadioButton;
class QSlider;

namespace report {

/// Where the chart goes on a page (device coordinates): inside the margins, stretched to them,
/// or, when proportional, the largest rectangle of the chart's shape, centred between them.
QRectF chartTarget(const QRectF& page, const QSizeF& chartSize, const ChartPrintSettings& settings);

/// Draws the chart into `target` on a painter whose device has `dpi` pixels per inch. `detail`
/// in per cent: the chart is laid out at detail % of the target's size at screen resolution
/// (96 px/in), so more detail means smaller text and more room for the curve.
void renderChart(QWidget* chart, QPainter& painter, const QRectF& target, double dpi, int detail = 100);

class ChartPrintPreview : public QDialog {
  Q_OBJECT
 public:
  /// Both `chart` and `settings` are borrowed for the dialog's life.
  ChartPrintPreview(QWidget* chart, ChartPrintSettings& settings, QWidget* parent = nullptr);
  ~ChartPrintPreview() override;

  /// The printer the dialog prints on, set to the selected queue and orientation.
  QPrinter& printer() { return printer_; }
  /// Prints the chart on one page of the selected printer. Throws std::runtime_error when the
  /// printer cannot be started.
  void print();
  /// Draws the chart's page on any paged device at its full page, margins and settings applied.
  void renderPage(QPainter& painter, const QRectF& page, double dpi) const;

  // The controls, for tests to operate as an operator would.
  QComboBox* printers;
  QRadioButton* portrait;
  QRadioButton* landscape;
  QDoubleSpinBox* marginBoxes[4];
  QCheckBox* showMargins;
  QSlider* detail;
  QCheckBox* proportional;

 private:
  class Page;
  void marginEdited(ChartPrintSettings::Side side, double value);
  void setOrientation(QPageLayout::Orientation o);

  QWidget* chart_;
  ChartPrintSettings& settings_;
  QPrinter printer_;
  Page* page_;
};

/// Runs the chart print preview; tests replace the real dialog with their own runner.
class ChartPreviewRunner {
 public:
  virtual ~ChartPreviewRunner() = default;
  virtual void run(QWidget* chart, ChartPrintSettings& settings) = 0;
};

/// Opens the real dialog, with no owner, and waits until it is closed.
class QtChartPreviewRunner : public ChartPreviewRunner {
 public:
  void run(QWidget* chart, ChartPrintSettings& settings) override;
};

}  // namespace report
