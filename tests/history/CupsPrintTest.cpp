// Printing for real through CUPS: the report and the chart go to the CUPS-PDF queue that
// scripts/start-cups.sh sets up, by the same path as to any printer (QPrinter on the queue), and
// the PDF that CUPS-PDF writes is read back.
#include <gtest/gtest.h>

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGraphicsLayout>
#include <QLineSeries>
#include <QPrinterInfo>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QValueAxis>
#include <cmath>

#include "app/Unit1.h"
#include "support/GreyChart.h"
#include "support/PdfReader.h"
#include "support/StationFolder.h"
#include "toolkit/ArrowSpinBox.h"
#include "report/ChartPrintPreview.h"
#include "report/ReportDialogs.h"
#include "report/RvSystem.h"

namespace {

const QString kQueue = QStringLiteral("CellstationPDF");

// Where CUPS-PDF writes: its configuration's Out folder.
QString cupsPdfFolder() {
  QFile conf(QStringLiteral("/etc/cups/cups-pdf.conf"));
  if (!conf.open(QIODevice::ReadOnly)) return {};
  static const QRegularExpression re(QStringLiteral(R"(^\s*Out\s+(\S+))"), QRegularExpression::MultilineOption);
  const auto m = re.match(QString::fromUtf8(conf.readAll()));
  return m.hasMatch() ? m.captured(1) : QString();
}

QSet<QString> pdfsIn(const QString& folder) {
  const QStringList names = QDir(folder).entryList({QStringLiteral("*.pdf")}, QDir::Files);
  return QSet<QString>(names.begin(), names.end());
}

class CupsPrint : public ::testing::Test {
 protected:
  void SetUp() override {
    QProcess lpstat;
    lpstat.start(QStringLiteral("lpstat"), {QStringLiteral("-r")});
    lpstat.waitForFinished(10000);
    const bool running = QString::fromUtf8(lpstat.readAllStandardOutput()).contains(QStringLiteral("scheduler is running"));
    ASSERT_TRUE(running) << "the CUPS scheduler is not running: start it with scripts/start-cups.sh (test.sh does)";
    ASSERT_TRUE(QPrinterInfo::availablePrinterNames().contains(kQueue))
        << "no CUPS queue " << kQueue.toStdString() << ": scripts/start-cups.sh adds it";
    folder = cupsPdfFolder();
    ASSERT_FALSE(folder.isEmpty()) << "CUPS-PDF has no Out folder in /etc/cups/cups-pdf.conf";
    before = pdfsIn(folder);
  }

  void TearDown() override {
    for (const QString& f : printed) QFile::remove(f);
  }

  // The PDF of the job whose title starts the file name, once CUPS-PDF has finished it.
  QString awaitJob(const QString& titlePart) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 90000) {
      for (const QString& name : pdfsIn(folder) - before) {
        if (!name.contains(titlePart)) continue;
        const QString path = QDir(folder).filePath(name);
        try {
          if (pdf::pageCount(path) > 0) {
            printed << path;
            return path;
          }
        } catch (const std::exception&) {
          // still being written
        }
      }
      QTest::qWait(200);
    }
    ADD_FAILURE() << "CUPS-PDF wrote no PDF for " << titlePart.toStdString() << " into " << folder.toStdString()
                  << " (see /var/log/cups/error_log)";
    return {};
  }

  QString folder;
  QSet<QString> before;
  QStringList printed;
};

// The ink in each cell of the report's table (19 lines of 12 cells), frames left out: the mean
// darkness of its inside, 0 for white paper.
std::vector<double> cellInk(const QImage& img, int dpi) {
  std::vector<double> out;
  for (int line = 0; line < 19; ++line)
    for (int col = 0; col < 12; ++col) {
      const int x0 = static_cast<int>((0.5 + 0.6 * col + 0.03) * dpi), x1 = static_cast<int>((0.5 + 0.6 * (col + 1) - 0.03) * dpi);
      const int y0 = static_cast<int>((0.95 + 0.2 * line + 0.03) * dpi), y1 = static_cast<int>((0.95 + 0.2 * (line + 1) - 0.03) * dpi);
      double sum = 0;
      for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) sum += 255 - qGray(img.pixel(x, y));
      out.push_back(sum / ((x1 - x0) * (y1 - y0)));
    }
  return out;
}

TEST_F(CupsPrint, ReportPrintedOnTheQueueComesOutAsTheSamePageAsTheFile) {
  StationFolder station;
  toolkit::RecordingMessageBoxes boxes;
  report::ScriptedReportDialogs dialogs;
  TForm1 form(boxes);
  form.RvSystem1->setDialogs(dialogs);
  form.SpinEdit2->setValue(2);
  form.polling->tables.CellCount[2] = 3;
  form.polling->tables.CellVoltage[2][1] = 2.125;
  form.polling->tables.CellVoltage[2][2] = 13.5;
  form.polling->tables.CellVoltage[2][3] = 0;

  // The same page written to a file, to hold the printed one against.
  dialogs.answer = report::ScriptedReportDialogs::Answer::File;
  dialogs.fileName = station.file(QStringLiteral("reference.pdf"));
  form.SpeedButton2->click();
  ASSERT_TRUE(QFile::exists(dialogs.fileName));

  dialogs.answer = report::ScriptedReportDialogs::Answer::Printer;
  dialogs.printerName = kQueue;
  form.SpeedButton2->click();
  ASSERT_TRUE(boxes.texts(toolkit::MessageBoxes::Kind::Error).isEmpty())
      << boxes.texts(toolkit::MessageBoxes::Kind::Error).join(u'|').toStdString();
  EXPECT_TRUE(dialogs.statusTexts.contains(QStringLiteral("Printing page 1")));

  const QString path = awaitJob(QStringLiteral("ReportPrinter"));
  ASSERT_FALSE(path.isEmpty());
  EXPECT_EQ(pdf::pageCount(path), 1);
  EXPECT_NEAR(pdf::pageSize(path).width(), pdf::pageSize(dialogs.fileName).width(), 0.01);
  EXPECT_NEAR(pdf::pageSize(path).height(), pdf::pageSize(dialogs.fileName).height(), 0.01);

  // CUPS-PDF passes the page through PostScript, which keeps the drawing but not the text: the
  // printed page is compared with the file cell by cell.
  constexpr int dpi = 100;
  const auto printed = cellInk(pdf::raster(path, dpi), dpi);
  const auto reference = cellInk(pdf::raster(dialogs.fileName, dpi), dpi);
  ASSERT_EQ(printed.size(), reference.size());
  for (std::size_t i = 0; i < printed.size(); ++i)
    EXPECT_NEAR(printed[i], reference[i], 0.2 * reference[i] + 1.5) << "line " << i / 12 << " cell " << i % 12 + 1;
  // The comparison tells the texts apart: "2.125", "13.5", "0" and "---" differ in ink.
  EXPECT_GT(std::abs(reference[12 + 1] - reference[12 + 7]), 3.0);
  EXPECT_GT(reference[0], 35.0) << "the header is shaded";
}

TEST_F(CupsPrint, ChartPrintedFromThePreviewFillsTheLandscapePageInsideTheMargins) {
  QChartView view;
  std::vector<QPointF> points;
  for (int h = 0; h <= 24; ++h) points.emplace_back(h, 2 + (h % 5));
  fillGreyChart(view, QStringLiteral("ChartOnPaper"), points);

  report::ChartPrintSettings settings;
  report::ChartPrintPreview preview(&view, settings);
  preview.printers->setCurrentText(kQueue);
  ASSERT_EQ(preview.printer().printerName(), kQueue);
  preview.print();

  const QString path = awaitJob(QStringLiteral("Chart"));
  ASSERT_FALSE(path.isEmpty());
  EXPECT_EQ(pdf::pageCount(path), 1);
  // The landscape page comes out on the sheet turned a quarter: the chart's long side runs
  // down the sheet. Not proportional: it fills the margins, 10 % of the page on every side.
  const QImage img = pdf::raster(path, 50);
  QRect ink;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      if (qGray(img.pixel(x, y)) < 200) ink |= QRect(x, y, 1, 1);
  ASSERT_FALSE(ink.isEmpty()) << "nothing printed";
  EXPECT_LT(img.width(), img.height()) << "a portrait sheet";
  EXPECT_NEAR(ink.top(), img.height() * 0.10, img.height() * 0.01);
  EXPECT_NEAR(ink.bottom(), img.height() * 0.90, img.height() * 0.01);
  EXPECT_NEAR(ink.left(), img.width() * 0.10, img.width() * 0.01);
  EXPECT_NEAR(ink.right(), img.width() * 0.90, img.width() * 0.01);
}

}  // namespace
