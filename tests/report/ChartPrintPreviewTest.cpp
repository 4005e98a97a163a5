// The chart print preview on a real chart view: where the chart goes on the page, the margins
// the dialog refuses, the settings it keeps for the next preview, and a page printed to PDF.
#include <gtest/gtest.h>

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QGraphicsLayout>
#include <QLineSeries>
#include <QRadioButton>
#include <QTemporaryDir>

#include "support/GreyChart.h"
#include "support/PdfReader.h"
#include "report/ChartPrintPreview.h"

namespace {

using S = report::ChartPrintSettings;

TEST(ChartPrintSettings, AMarginPairReachingOneHundredPerCentIsRefused) {
  S s;
  EXPECT_FALSE(s.proportional) << "stretched to the margins at first";
  EXPECT_TRUE(s.setMargin(S::Left, 49));
  EXPECT_TRUE(s.setMargin(S::Right, 50));
  EXPECT_FALSE(s.setMargin(S::Right, 51));
  EXPECT_EQ(s.margin(S::Right), 50);
  EXPECT_FALSE(s.setMargin(S::Top, 100 - s.margin(S::Bottom)));
  EXPECT_FALSE(s.setMargin(S::Bottom, -1));
  EXPECT_TRUE(s.setMargin(S::Top, 0));
}

TEST(ChartPrintTarget, StretchedToTheMarginsOrProportionalAndCentred) {
  S s;
  s.setMargin(S::Left, 10);
  s.setMargin(S::Top, 20);
  s.setMargin(S::Right, 30);
  s.setMargin(S::Bottom, 0);
  const QRectF page(0, 0, 1000, 500);
  EXPECT_EQ(report::chartTarget(page, QSizeF(753, 437), s), QRectF(100, 100, 600, 400));
  s.proportional = true;
  // 600 x 400 holds a 2:1 chart at 600 x 300, centred vertically.
  EXPECT_EQ(report::chartTarget(page, QSizeF(200, 100), s), QRectF(100, 150, 600, 300));
  EXPECT_EQ(report::chartTarget(page, QSizeF(100, 100), s), QRectF(200, 100, 400, 400));
}

class ChartPreview : public ::testing::Test {
 protected:
  void SetUp() override { fill(view); }
  static void fill(QChartView& view) { fillGreyChart(view, QStringLiteral("Curve"), {{0, 1}, {24, 12}}); }
  QChartView view;
  S settings;
};

TEST_F(ChartPreview, OpensLandscapeWithTheChartsSettingsAndWritesChangesBack) {
  settings.setMargin(S::Left, 5);
  {
    report::ChartPrintPreview dlg(&view, settings);
    EXPECT_TRUE(dlg.landscape->isChecked());
    EXPECT_EQ(dlg.printer().pageLayout().orientation(), QPageLayout::Landscape);
    EXPECT_EQ(dlg.marginBoxes[S::Left]->value(), 5);
    EXPECT_FALSE(dlg.proportional->isChecked());

    dlg.marginBoxes[S::Top]->setValue(30);
    dlg.marginBoxes[S::Bottom]->setValue(70);  // 30 + 70 reaches 100 %: refused
    EXPECT_EQ(dlg.marginBoxes[S::Bottom]->value(), 10) << "the box goes back";
    dlg.proportional->setChecked(true);
    dlg.portrait->setChecked(true);
    EXPECT_EQ(dlg.printer().pageLayout().orientation(), QPageLayout::Portrait);
  }
  EXPECT_EQ(settings.margin(S::Top), 30);
  EXPECT_EQ(settings.margin(S::Bottom), 10);
  EXPECT_TRUE(settings.proportional);

  report::ChartPrintPreview again(&view, settings);
  EXPECT_EQ(again.marginBoxes[S::Top]->value(), 30) << "kept for the next preview";
  EXPECT_TRUE(again.proportional->isChecked());
  EXPECT_TRUE(again.landscape->isChecked()) << "the orientation is not kept: landscape again";
}

TEST_F(ChartPreview, PrintedChartFillsTheMarginsOrKeepsItsShapeAndTheScreenKeepsItsSize) {
  QTemporaryDir dir;
  auto printTo = [&](const QString& name) {
    report::ChartPrintPreview dlg(&view, settings);
    dlg.printer().setOutputFormat(QPrinter::PdfFormat);
    dlg.printer().setOutputFileName(dir.filePath(name));
    dlg.printer().setPageSize(QPageSize(QPageSize::A4));
    dlg.print();
    return dir.filePath(name);
  };
  auto inkBox = [](const QString& file) {
    const QImage img = pdf::raster(file, 50);
    QRect ink;
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x)
        if (qGray(img.pixel(x, y)) < 200) ink |= QRect(x, y, 1, 1);
    return std::make_pair(ink, img.size());
  };

  const auto [stretched, size] = inkBox(printTo(QStringLiteral("stretched.pdf")));
  EXPECT_GT(size.width(), size.height()) << "landscape page";
  EXPECT_NEAR(stretched.left(), size.width() * 0.10, 2);
  EXPECT_NEAR(stretched.right(), size.width() * 0.90, 2);
  EXPECT_NEAR(stretched.top(), size.height() * 0.10, 2);
  EXPECT_NEAR(stretched.bottom(), size.height() * 0.90, 2);
  EXPECT_EQ(view.chart()->size(), QSizeF(753, 437)) << "the chart on screen is laid out as before";

  settings.proportional = true;
  const auto [kept, size2] = inkBox(printTo(QStringLiteral("kept.pdf")));
  EXPECT_NEAR(double(kept.width()) / kept.height(), 753.0 / 437.0, 0.04);
  // A widget that holds the chart view prints the same way.
  settings.proportional = false;
  QWidget box;
  auto* inner = new QChartView(&box);
  fill(*inner);
  box.resize(753, 437);
  inner->setGeometry(0, 0, 753, 437);
  const QSizeF innerOnScreen = inner->chart()->size();
  {
    report::ChartPrintPreview dlg(&box, settings);
    dlg.printer().setOutputFormat(QPrinter::PdfFormat);
    dlg.printer().setOutputFileName(dir.filePath(QStringLiteral("boxed.pdf")));
    dlg.printer().setPageSize(QPageSize(QPageSize::A4));
    dlg.print();
  }
  const auto [boxed, size3] = inkBox(dir.filePath(QStringLiteral("boxed.pdf")));
  EXPECT_EQ(boxed, stretched);
  EXPECT_EQ(inner->chart()->size(), innerOnScreen);
  settings.proportional = true;

  // A4 landscape inside 10 % margins is 1.41:1, the chart 1.72:1: its width is what limits it.
  EXPECT_NEAR(kept.left(), size2.width() * 0.10, 2);
  EXPECT_NEAR(kept.right(), size2.width() * 0.90, 2);
  EXPECT_NEAR((kept.top() + kept.bottom()) / 2.0, size2.height() / 2.0, 2) << "centred";
}

}  // namespace
