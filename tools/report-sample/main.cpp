// Writes the printed report of unit 1, as it looks after unit 1 has answered with 24 cells, to a
// PDF file through the print button's own path: report-sample OUT.pdf
#include <QApplication>
#include <QPushButton>
#include <cstdio>
#include <cstring>

#include "app/Unit1.h"
#include "toolkit/MessageBoxes.h"
#include "report/ReportDialogs.h"
#include "report/RvSystem.h"

int main(int argc, char** argv) {
  const bool help = argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0);
  if (argc != 2 || argv[1][0] == '-') {
    std::fprintf(help ? stdout : stderr, "usage: report-sample OUT.pdf\n");
    return help ? 0 : 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("cellstation"));

  toolkit::RecordingMessageBoxes boxes;
  report::ScriptedReportDialogs dialogs;
  dialogs.answer = report::ScriptedReportDialogs::Answer::File;
  dialogs.fileName = QString::fromLocal8Bit(argv[1]);
  TForm1 form(boxes);
  form.RvSystem1->setDialogs(dialogs);

  // A lead-acid string of 24 cells on float charge, around 2.23 V, as the demo's units report.
  static const double cells[24] = {2.231, 2.228, 2.235, 2.24,  2.226, 2.233, 2.229, 2.237, 2.23,  2.225, 2.234, 2.238,
                                   2.227, 2.232, 2.236, 2.23,  2.224, 2.239, 2.233, 2.228, 2.231, 2.235, 2.226, 2.234};
  form.polling->tables.CellCount[1] = 24;
  for (int c = 1; c <= 24; ++c) form.polling->tables.CellVoltage[1][c] = cells[c - 1];

  form.SpeedButton2->click();
  for (const auto& box : boxes.boxes) std::fprintf(stderr, "box: %s\n", qPrintable(box.text));
  return boxes.boxes.empty() ? 0 : 1;
}
