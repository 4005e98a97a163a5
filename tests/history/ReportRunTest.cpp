// A run of the print button from the operator's side: the options dialog and what cancelling
// it does, the status window while the page is generated (with the event loop running), the
// preview, errors on delivery, and the choice between the chart and the report.
#include <QChartView>
#include <QPdfWriter>
#include <QTimer>

#include "history/ReportFixture.h"
#include "toolkit/ArrowSpinBox.h"
#include "report/ChartPrintPreview.h"
#include "toolkit/QueryChart.h"

namespace {

using Answer = report::ScriptedReportDialogs::Answer;
using toolkit::MessageBoxes;

TEST_F(ReportRun, CancellingTheOptionsDialogGeneratesAndPrintsNothing) {
  dialogs.answer = Answer::Cancel;
  int bodies = 0;
  auto body = form.RvSystem1->OnPrint;
  form.RvSystem1->OnPrint = [&](report::PageWriter& w) {
    ++bodies;
    body(w);
  };
  clickPrint();
  EXPECT_EQ(dialogs.titles, QStringList{QStringLiteral("Output Options")});
  EXPECT_EQ(bodies, 0);
  EXPECT_TRUE(dialogs.statusTexts.isEmpty());
  EXPECT_FALSE(QFile::exists(pdfPath));
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(ReportRun, OptionsOfferThePreviewOneCopyAndEveryPage) {
  dialogs.answer = Answer::Cancel;
  clickPrint();
  EXPECT_EQ(dialogs.offered.destination, report::ReportOptions::Destination::Preview);
  EXPECT_EQ(dialogs.offered.copies, 1);
  EXPECT_EQ(dialogs.offered.fromPage, 1);
  EXPECT_EQ(dialogs.offered.toPage, 9999);
  EXPECT_EQ(form.RvSystem1->SystemPrinter.Title, QStringLiteral("ReportPrinter Report"));
  EXPECT_EQ(form.RvSystem1->SystemPrinter.Orientation, QPageLayout::Portrait);
}

TEST_F(ReportRun, StatusWindowShowsTheGeneratedPageAndTheEventLoopRunsMeanwhile) {
  // A timer due now stands for a polling tick or a reply arriving while the page is generated.
  bool ranDuringGeneration = false;
  QTimer tick;
  tick.setInterval(0);
  QObject::connect(&tick, &QTimer::timeout, [&] { ranDuringGeneration |= dialogs.statusOpen; });
  tick.start();
  clickPrint();
  tick.stop();
  EXPECT_TRUE(ranDuringGeneration);
  EXPECT_EQ(dialogs.titles, (QStringList{QStringLiteral("Output Options"), QStringLiteral("Report Status")}));
  ASSERT_FALSE(dialogs.statusTexts.isEmpty());
  for (const QString& t : dialogs.statusTexts) EXPECT_EQ(t, QStringLiteral("Generating page 1"));
  EXPECT_FALSE(dialogs.statusOpen) << "closed after the run";
  EXPECT_TRUE(QFile::exists(pdfPath));
}

TEST_F(ReportRun, CancelInTheStatusWindowAbandonsTheRun) {
  dialogs.cancelAtStatus = 5;
  clickPrint();
  EXPECT_FALSE(QFile::exists(pdfPath));
  EXPECT_FALSE(dialogs.statusOpen);
  EXPECT_EQ(dialogs.statusTexts.size(), 5) << "nothing more is written once cancelled";
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(ReportRun, ThePrintButtonDuringGenerationDoesNotStartASecondRun) {
  int presses = 0;
  dialogs.duringGeneration = [&] {
    if (presses++ == 0) form.SpeedButton2->click();
  };
  clickPrint();
  EXPECT_EQ(dialogs.titles.count(QStringLiteral("Output Options")), 1);
  EXPECT_TRUE(QFile::exists(pdfPath));
}

TEST_F(ReportRun, PreviewShowsThePageAsItWasGenerated) {
  QPdfWriter shown(folder.file(QStringLiteral("preview.pdf")));
  dialogs.answer = Answer::Preview;
  dialogs.previewDevice = &shown;
  form.SpinEdit2->setValue(4);
  setUnit(4, 1, [](int) { return 7.5; });
  // A reply decoded while the preview is open changes the tables, not the page.
  dialogs.beforePreview = [&] {
    form.polling->tables.CellVoltage[4][1] = 9.25;
    form.SpinEdit2->setValue(5);
  };
  clickPrint();
  ASSERT_EQ(dialogs.previews, 1);
  EXPECT_EQ(dialogs.previewZoom, 100);
  EXPECT_EQ(dialogs.titles.last(), QStringLiteral("Report Preview"));
  QString text;
  for (const auto& w : pdf::words(folder.file(QStringLiteral("preview.pdf")))) text += w.text + u'|';
  EXPECT_TRUE(text.remove(u'|').contains(QStringLiteral("第4台检测仪在"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("7.5"))) << text.toStdString();
  EXPECT_FALSE(text.contains(QStringLiteral("9.25"))) << text.toStdString();
  EXPECT_FALSE(QFile::exists(pdfPath));
}

TEST_F(ReportRun, TheComponentsScaleShrinksThePageFromItsCorner) {
  form.RvSystem1->SystemPrinter.ScaleX = 50;
  form.RvSystem1->SystemPrinter.ScaleY = 50;
  clickPrint();
  const auto words = pdf::words(pdfPath);
  const PdfWord* last = nullptr;
  for (const auto& w : words)
    if (w.text == QStringLiteral("108")) last = &w;
  ASSERT_NE(last, nullptr);
  // At 100 % the number 108 is centred in the 11th cell of the last row, 6.8 in across and 4.65 in down.
  EXPECT_NEAR((last->xMin + last->xMax) / 2, 6.8 / 2, 0.03);
  EXPECT_NEAR((last->yMin + last->yMax) / 2, 4.65 / 2, 0.03);
}

TEST_F(ReportRun, AFileThatCannotBeWrittenIsReportedNotPassedOver) {
  dialogs.fileName = folder.file(QStringLiteral("no-such-folder/report.pdf"));
  clickPrint();
  const QStringList errors = boxes.texts(MessageBoxes::Kind::Error);
  ASSERT_EQ(errors.size(), 1);
  EXPECT_TRUE(errors.front().contains(QStringLiteral("no-such-folder/report.pdf"))) << errors.front().toStdString();
}

TEST_F(ReportRun, APrinterThatDoesNotExistIsReported) {
  dialogs.answer = Answer::Printer;
  dialogs.printerName = QStringLiteral("NoSuchQueue");
  clickPrint();
  const QStringList errors = boxes.texts(MessageBoxes::Kind::Error);
  ASSERT_EQ(errors.size(), 1);
  EXPECT_TRUE(errors.front().contains(QStringLiteral("NoSuchQueue"))) << errors.front().toStdString();
}

// Records the chart print preview instead of opening it.
struct RecordingChartPreview : report::ChartPreviewRunner {
  void run(QWidget* chart, report::ChartPrintSettings& settings) override {
    charts.push_back(chart);
    lastSettings = &settings;
  }
  std::vector<QWidget*> charts;
  report::ChartPrintSettings* lastSettings = nullptr;
};

TEST_F(ReportRun, WithTheHistoryViewShownTheButtonPrintsTheChartAndAfterBackTheReport) {
  folder.makeDatabase(QStringLiteral("5"), 5);
  auto recorder = std::make_unique<RecordingChartPreview>();
  RecordingChartPreview& chartPreview = *recorder;
  form.chartPreview = std::move(recorder);
  form.show();
  form.DBChart1->show();
  form.Panel3->show();

  clickPrint();
  ASSERT_EQ(chartPreview.charts.size(), 1u);
  EXPECT_EQ(chartPreview.charts.front(), static_cast<QWidget*>(form.DBChart1));
  EXPECT_EQ(chartPreview.lastSettings, &form.DBChart1PrintSettings);
  EXPECT_TRUE(dialogs.titles.isEmpty()) << "no report run";
  EXPECT_FALSE(QFile::exists(pdfPath));

  form.SpeedButton3->click();
  clickPrint();
  EXPECT_EQ(chartPreview.charts.size(), 1u);
  EXPECT_EQ(dialogs.titles.first(), QStringLiteral("Output Options"));
  EXPECT_TRUE(QFile::exists(pdfPath));
}

}  // namespace
