// The report component run to its end with scripted dialogs: what reaches the file or the
// printer when the page range holds none of the report's pages.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "report/ReportDialogs.h"
#include "report/RvSystem.h"
#include "support/PdfReader.h"
#include "toolkit/HandlerGuard.h"
#include "toolkit/MessageBoxes.h"

namespace {

using Answer = report::ScriptedReportDialogs::Answer;

// Pages 2 to 9999 of a one-page report: nothing is written or sent, the run does not count as
// delivered, and the error box names the range; the whole range still gives the page.
TEST(RvSystem, APageRangeWithoutAPageDeliversNothingAndSaysSo) {
  QTemporaryDir dir;
  const QString pdfPath = dir.filePath(QStringLiteral("report.pdf"));
  report::TRvSystem rv;
  report::ScriptedReportDialogs dialogs;
  rv.setDialogs(dialogs);
  rv.OnPrint = [](report::PageWriter& w) { w.printLine(QStringLiteral("第3台检测仪")); };
  toolkit::RecordingMessageBoxes boxes;
  toolkit::HandlerGuard guard(boxes, nullptr);
  std::vector<report::TRvSystem::Outcome> outcomes;
  auto run = [&] { guard.run([&] { outcomes.push_back(rv.Execute()); }); };

  dialogs.fromPage = 2;
  dialogs.answer = Answer::File;
  dialogs.fileName = pdfPath;
  run();
  EXPECT_FALSE(QFile::exists(pdfPath));
  dialogs.answer = Answer::Printer;
  dialogs.printerName = QStringLiteral("CellstationPDF");
  run();
  EXPECT_TRUE(outcomes.empty()) << "a run without a page counted as delivered";
  EXPECT_FALSE(dialogs.statusTexts.join(u'|').contains(QStringLiteral("Printing page")));
  const QStringList errors = boxes.texts(toolkit::MessageBoxes::Kind::Error);
  ASSERT_EQ(errors.size(), 2) << errors.join(u'|').toStdString();
  for (const QString& e : errors) EXPECT_TRUE(e.contains(QStringLiteral("Pages 2 to 9999"))) << e.toStdString();
  EXPECT_TRUE(errors[0].contains(QStringLiteral("saved")));
  EXPECT_TRUE(errors[1].contains(QStringLiteral("printed")));

  dialogs.fromPage = 1;
  dialogs.answer = Answer::File;
  run();
  ASSERT_EQ(outcomes, std::vector{report::TRvSystem::Outcome::Filed});
  EXPECT_EQ(pdf::pageCount(pdfPath), 1);
}

}  // namespace
