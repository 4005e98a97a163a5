#pragma once
// The real window with scripted report dialogs: a run of the print button writes its page to a
// PDF file in a temporary station folder, which the tests read back with poppler.
#include <gtest/gtest.h>

#include <QFile>
#include <QPushButton>

#include "app/Unit1.h"
#include "support/PdfReader.h"
#include "support/StationFolder.h"
#include "report/ReportDialogs.h"
#include "report/RvSystem.h"

class ReportRun : public ::testing::Test {
 protected:
  void SetUp() override {
    form.RvSystem1->setDialogs(dialogs);
    dialogs.answer = report::ScriptedReportDialogs::Answer::File;
    dialogs.fileName = pdfPath;
  }

  /// Presses the print button, as the operator does.
  void clickPrint() { form.SpeedButton2->click(); }

  /// Prints to the file and reads its words back; fails the test when no file came out.
  std::vector<PdfWord> printedWords() {
    clickPrint();
    EXPECT_TRUE(QFile::exists(pdfPath)) << "no PDF written; errors: "
                                        << boxes.texts(toolkit::MessageBoxes::Kind::Error).join(u'|').toStdString();
    if (!QFile::exists(pdfPath)) return {};
    return pdf::words(pdfPath);
  }

  /// Gives unit u `count` announced cells; cell c holds `volts(c)`.
  template <typename F>
  void setUnit(int u, int count, F volts) {
    form.polling->tables.CellCount[u] = count;
    for (int c = 1; c <= acquisition::kCells; ++c) form.polling->tables.CellVoltage[u][c] = volts(c);
  }

  StationFolder folder;
  QString pdfPath = folder.file(QStringLiteral("report.pdf"));
  toolkit::RecordingMessageBoxes boxes;
  report::ScriptedReportDialogs dialogs;
  TForm1 form{boxes};
};
