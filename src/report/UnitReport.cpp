#include "report/UnitReport.h"

#include <QLocale>
#include <array>

#include "report/PageWriter.h"
#include "report/ReportText.h"

namespace report {

void printUnitReport(PageWriter& Sender, int N, int cellCount, const acquisition::CellRow& cells, const QDateTime& now,
                     char decimalSeparator) {
  Sender.setSectionTop(0.75);
  Sender.clearTabs();
  Sender.sectionTopToCurrentLine();
  Sender.setSectionBottom(10.5);
  Sender.home();
  Sender.setFont(QStringLiteral("Times New Roman"), 12);
  Sender.setBold(true);
  Sender.setItalic(true);
  Sender.print(reportTitle(N, now, QLocale::system()));
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
  Sender.printLine(reportHeaderLine());
  for (int r = 1; r <= 18; ++r) {
    std::array<QString, 6> texts;
    for (int k = 1; k <= 6; ++k) {
      const int c = acquisition::cellAt(k, r);
      texts[static_cast<std::size_t>(k - 1)] = voltageText(cellCount, c, cells[c], decimalSeparator);
    }
    Sender.setTabShade(0);
    Sender.printLine(reportRowLine(r, texts));
  }
}

}  // namespace report
