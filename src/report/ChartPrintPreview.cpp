#include "report/ChartPrintPreview.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QGraphicsWidget>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>
#include <stdexcept>

namespace report {

namespace {

// The top-level widget item of a view's scene: the chart itself in a chart view.
QGraphicsWidget* sceneWidget(QGraphicsView* view) {
  if (!view->scene()) return nullptr;
  for (QGraphicsItem* item : view->scene()->items())
    if (item->isWidget() && !item->parentItem()) return static_cast<QGraphicsWidget*>(item);
  return nullptr;
}

}  // namespace

QRectF chartTarget(const QRectF& page, const QSizeF& chartSize, const ChartPrintSettings& s) {
  using S = ChartPrintSettings;
  QRectF r(page.left() + page.width() * s.margin(S::Left) / 100, page.top() + page.height() * s.margin(S::Top) / 100,
           page.width() * (100 - s.margin(S::Left) - s.margin(S::Right)) / 100,
           page.height() * (100 - s.margin(S::Top) - s.margin(S::Bottom)) / 100);
  if (!s.proportional || chartSize.isEmpty() || r.isEmpty()) return r;
  const QSizeF fitted = chartSize.scaled(r.size(), Qt::KeepAspectRatio);
  return QRectF(r.left() + (r.width() - fitted.width()) / 2, r.top() + (r.height() - fitted.height()) / 2,
                fitted.width(), fitted.height());
}

void renderChart(QWidget* chart, QPainter& painter, const QRectF& target, double dpi, int detail) {
  if (!chart || target.isEmpty() || dpi <= 0) return;
  // The chart is a chart view, or a widget that holds one filling it.
  auto* view = qobject_cast<QGraphicsView*>(chart);
  if (!view) {
    view = chart->findChild<QGraphicsView*>();
    if (view && view->size() != chart->size()) view = nullptr;
  }
  QGraphicsWidget* item = view ? sceneWidget(view) : nullptr;
  if (!item) {
    // A plain widget is drawn as it stands on screen, scaled to the target.
    painter.save();
    painter.translate(target.topLeft());
    painter.scale(target.width() / chart->width(), target.height() / chart->height());
    chart->render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
    painter.restore();
    return;
  }
  // Lay the chart out at the printed size, draw it, and give it back its size on screen. Layout
  // requests are handled on the spot so the axes and labels fit the new size before drawing.
  const QSizeF onScreen = item->size();
  const double scale = 96.0 / dpi * std::clamp(detail, 10, 400) / 100.0;
  const QSizeF printed(target.width() * scale, target.height() * scale);
  item->resize(printed);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
  const QRectF source(item->pos(), printed);
  view->scene()->render(&painter, target, source, Qt::IgnoreAspectRatio);
  item->resize(onScreen);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
}

// The page as it will be printed, drawn to fit the preview area.
class ChartPrintPreview::Page : public QWidget {
 public:
  explicit Page(ChartPrintPreview& owner) : QWidget(&owner), owner_(owner) { setMinimumSize(420, 320); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Dark));
    const QSizeF paper = owner_.printer_.pageLayout().fullRect(QPageLayout::Inch).size();
    if (paper.isEmpty()) return;
    const QSizeF shown = paper.scaled(QSizeF(size()) - QSizeF(20, 20), Qt::KeepAspectRatio);
    const QRectF page((width() - shown.width()) / 2, (height() - shown.height()) / 2, shown.width(), shown.height());
    p.fillRect(page, Qt::white);
    p.setPen(Qt::black);
    p.drawRect(page);
    owner_.renderPage(p, page, shown.width() / paper.width());
    if (owner_.showMargins->isChecked()) {
      p.setPen(QPen(Qt::blue, 0, Qt::DashLine));
      ChartPrintSettings margins = owner_.settings_;
      margins.proportional = false;  // the margins themselves, not the chart within them
      p.drawRect(chartTarget(page, QSizeF(), margins));
    }
  }

 private:
  ChartPrintPreview& owner_;
};

ChartPrintPreview::ChartPrintPreview(QWidget* chart, ChartPrintSettings& settings, QWidget* parent)
    : QDialog(parent), chart_(chart), settings_(settings), printer_(QPrinter::HighResolution) {
  setWindowTitle(QStringLiteral("Print Preview"));
  setModal(true);
  printer_.setFullPage(true);
  printer_.setDocName(QStringLiteral("Chart"));

  auto* top = new QHBoxLayout(this);
  auto* side = new QVBoxLayout;
  top->addLayout(side);
  page_ = new Page(*this);
  top->addWidget(page_, 1);

  auto* printerBox = new QGroupBox(QStringLiteral("Printer"), this);
  auto* printerLayout = new QVBoxLayout(printerBox);
  printers = new QComboBox(printerBox);
  printers->addItems(QPrinterInfo::availablePrinterNames());
  const QString current = printer_.printerName().isEmpty() ? QPrinterInfo::defaultPrinterName() : printer_.printerName();
  printers->setCurrentText(current);
  if (!printers->currentText().isEmpty()) printer_.setPrinterName(printers->currentText());
  auto* setup = new QPushButton(QStringLiteral("Setup..."), printerBox);
  printerLayout->addWidget(printers);
  printerLayout->addWidget(setup);
  side->addWidget(printerBox);

  auto* orientationBox = new QGroupBox(QStringLiteral("Orientation"), this);
  auto* orientationLayout = new QVBoxLayout(orientationBox);
  portrait = new QRadioButton(QStringLiteral("Portrait"), orientationBox);
  landscape = new QRadioButton(QStringLiteral("Landscape"), orientationBox);
  orientationLayout->addWidget(portrait);
  orientationLayout->addWidget(landscape);
  side->addWidget(orientationBox);

  auto* marginBox = new QGroupBox(QStringLiteral("Margins (%)"), this);
  auto* marginForm = new QFormLayout(marginBox);
  static const char* const names[4] = {"Left", "Top", "Right", "Bottom"};
  for (int s = 0; s < 4; ++s) {
    auto* box = new QDoubleSpinBox(marginBox);
    box->setRange(0, 100);
    box->setDecimals(0);
    box->setValue(settings_.margins[s]);
    marginForm->addRow(QString::fromLatin1(names[s]), box);
    marginBoxes[s] = box;
    connect(box, &QDoubleSpinBox::valueChanged, this,
            [this, s](double v) { marginEdited(static_cast<ChartPrintSettings::Side>(s), v); });
  }
  showMargins = new QCheckBox(QStringLiteral("View Margins"), marginBox);
  showMargins->setChecked(true);
  marginForm->addRow(showMargins);
  side->addWidget(marginBox);

  auto* detailRow = new QHBoxLayout;
  detailRow->addWidget(new QLabel(QStringLiteral("Detail:"), this));
  detail = new QSlider(Qt::Horizontal, this);
  detail->setRange(50, 200);
  detail->setValue(100);
  detailRow->addWidget(detail);
  side->addLayout(detailRow);
  proportional = new QCheckBox(QStringLiteral("Proportional"), this);
  proportional->setChecked(settings_.proportional);
  side->addWidget(proportional);
  side->addStretch(1);

  auto* printButton = new QPushButton(QStringLiteral("Print"), this);
  auto* closeButton = new QPushButton(QStringLiteral("Close"), this);
  side->addWidget(printButton);
  side->addWidget(closeButton);

  connect(printers, &QComboBox::currentTextChanged, this, [this](const QString& name) {
    printer_.setPrinterName(name);
    setOrientation(landscape->isChecked() ? QPageLayout::Landscape : QPageLayout::Portrait);
  });
  connect(setup, &QPushButton::clicked, this, [this] {
    QPageSetupDialog dlg(&printer_, this);
    dlg.exec();
    (printer_.pageLayout().orientation() == QPageLayout::Landscape ? landscape : portrait)->setChecked(true);
    page_->update();
  });
  connect(portrait, &QRadioButton::toggled, this, [this](bool on) { if (on) setOrientation(QPageLayout::Portrait); });
  connect(landscape, &QRadioButton::toggled, this, [this](bool on) { if (on) setOrientation(QPageLayout::Landscape); });
  connect(showMargins, &QCheckBox::toggled, page_, qOverload<>(&QWidget::update));
  connect(detail, &QSlider::valueChanged, page_, qOverload<>(&QWidget::update));
  connect(proportional, &QCheckBox::toggled, this, [this](bool on) {
    settings_.proportional = on;
    page_->update();
  });
  connect(printButton, &QPushButton::clicked, this, [this] {
    try {
      print();
    } catch (const std::exception& e) {
      // The dialog's own buttons run in its event loop, beyond the window's handler guard.
      QMessageBox::critical(this, windowTitle(), QString::fromUtf8(e.what()));
    }
  });
  connect(closeButton, &QPushButton::clicked, this, &QDialog::accept);

  // The dialog prints landscape unless the operator turns the page.
  landscape->setChecked(true);
  setOrientation(QPageLayout::Landscape);
}

ChartPrintPreview::~ChartPrintPreview() = default;

void ChartPrintPreview::setOrientation(QPageLayout::Orientation o) {
  printer_.setPageOrientation(o);
  page_->update();
}

void ChartPrintPreview::marginEdited(ChartPrintSettings::Side side, double value) {
  if (!settings_.setMargin(side, value)) {
    // Refused: the box goes back to the margin that holds.
    QSignalBlocker block(marginBoxes[side]);
    marginBoxes[side]->setValue(settings_.margin(side));
  }
  page_->update();
}

void ChartPrintPreview::renderPage(QPainter& painter, const QRectF& page, double dpi) const {
  const QRectF target = chartTarget(page, chart_ ? QSizeF(chart_->size()) : QSizeF(), settings_);
  renderChart(chart_, painter, target, dpi, detail->value());
}

void ChartPrintPreview::print() {
  QPainter p;
  if (!p.begin(&printer_)) throw std::runtime_error(("Unable to print on " + printer_.printerName()).toStdString());
  const QRectF page = printer_.pageLayout().fullRectPixels(printer_.resolution());
  renderPage(p, QRectF(QPointF(0, 0), page.size()), printer_.resolution());
  if (!p.end()) throw std::runtime_error(("Printing on " + printer_.printerName() + " failed").toStdString());
}

void QtChartPreviewRunner::run(QWidget* chart, ChartPrintSettings& settings) {
  ChartPrintPreview dlg(chart, settings, nullptr);
  dlg.exec();
}

}  // namespace report
