// Printing: the print button and the report body.
#include <QDateTime>
#include <QLocale>
#include <array>

#include "app/Unit1.h"
#include "report/ReportText.h"
#include "toolkit/ArrowSpinBox.h"
#include "report/ChartPrintPreview.h"
#include "report/PageWriter.h"
#include "toolkit/QueryChart.h"
#include "report/RvSystem.h"

void TForm1::SpeedButton2Click() {
  if (DBChart1->isVisible()) {
    chartPreview->run(DBChart1, DBChart1PrintSettings);
    DBChart1->update();
    return;
  }
  RvSystem1->Execute(this);
}

void TForm1::RvSystem1Print(report::PageWriter& Sender) {
  using report::PageWriter;
  // The writer lets events run after every text, and a reply may change the tables meanwhile:
  // the unit and its cells are taken once, so the page shows one moment of one unit.
  const int N = SpinEdit2->value();
  const int cellCount = CellCount[N];
  const acquisition::CellRow cells = CellVoltage[N];
  const QDateTime now = QDateTime::currentDateTime();

  Sender.setSectionTop(0.75);
  Sender.clearTabs();
  Sender.sectionTopToCurrentLine();
  Sender.setSectionBottom(10.5);
  Sender.home();
  Sender.setFont(QStringLiteral("Times New Roman"), 12);
  Sender.setBold(true);
  Sender.setItalic(true);
  Sender.print(report::reportTitle(N, now, QLocale::system()));
  Sender.sectionTopToCurrentLine();
  Sender.setBold(false);
  Sender.setItalic(false);
  Sender.home();
  Sender.clearTabs();
  Sender.setPen(Qt::black, Qt::SolidLine, 1, QPainter::CompositionMode_SourceOver);
  Sender.setTab(0.5, PageWriter::Justify::Center, 0.6, 0, PageWriter::FrameAll, 0);
  for (int k = 2; k <= 12; ++k) Sender.setTab(std::nullopt, PageWriter::Justify::Center, 0.6, 0, PageWriter::FrameAll, 0);
  Sender.setColumns(1, 0);
  Sender.setTabShade(15);
  Sender.printLine(report::reportHeaderLine());
  for (int r = 1; r <= 18; ++r) {
    std::array<QString, 6> texts;
    for (int k = 1; k <= 6; ++k) {
      const int c = 6 * (r - 1) + k;
      texts[static_cast<std::size_t>(k - 1)] = report::voltageText(cellCount, c, cells[c], decimalSeparator());
    }
    Sender.setTabShade(0);
    Sender.printLine(report::reportRowLine(r, texts));
  }
}
