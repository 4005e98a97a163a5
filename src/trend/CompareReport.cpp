#include "trend/CompareReport.h"

#include "trend/CompareDialog.h"
#include "trend/DeviationPlot.h"
#include "trend/core/TrendTexts.h"

namespace trend {

namespace {

using report::PageWriter;

const QString kFace = QStringLiteral("Times New Roman");
constexpr double kLeft = 0.5;
constexpr int kHeaderShade = 15;
constexpr int kMarkShade = 30;

void textLine(PageWriter& w, const QString& text) {
  w.clearTabs();
  w.setTab(kLeft, PageWriter::Justify::Left, w.paper().width() - 2 * kLeft, 0, PageWriter::FrameNone, 0);
  w.printLine(QLatin1Char('\t') + text);
}

/// The tabs of one table row: `widths` columns from `left`, framed, centred.
void row(PageWriter& w, double left, const std::vector<double>& widths, const QStringList& fields, int shade) {
  for (std::size_t c = 0; c < widths.size() && qsizetype(c) < fields.size(); ++c) {
    w.setTab(left, PageWriter::Justify::Center, widths[c], 0.02, PageWriter::FrameAll, shade);
    left += widths[c];
  }
}

void newPage(PageWriter& w) {
  const double bottom = w.sectionBottom();
  w.setSectionBottom(w.lineTop());
  w.print(QString());
  w.setSectionBottom(bottom);
}

}  // namespace

void writeComparison(PageWriter& w, const QString& station, int unit, const Range& range,
                     const archive::DeviationReport& report, double markMvPerMonth) {
  beginTitledPage(w, kFace, kLeft, QStringLiteral("第%1台检测仪单体对比").arg(unit));
  textLine(w, QStringLiteral("站点：%1    时段：%2 至 %3    单体：%4 节")
                  .arg(station, localMinute(range.fromMs), localMinute(range.toMs))
                  .arg(report.cells.size()));
  textLine(w, QStringLiteral("偏差：各节电压与同一次采样全组平均之差（mV）；趋势：偏差的最小二乘斜率（mV/月，一月按 30 天）"));
  textLine(w, markedText(report, markMvPerMonth));
  textLine(w, QString());
  w.setBold(true);
  textLine(w, QStringLiteral("漂移最大的 10 节"));
  w.setBold(false);
  const std::vector<double> widths{0.6, 0.6, 1.2, 1.2, 1.0};
  const auto line = [&](const QStringList& fields, int shade) {
    w.clearTabs();
    row(w, kLeft, widths, fields, shade);
    QString text;
    for (const QString& f : fields) text += QLatin1Char('\t') + f;
    w.printLine(text);
  };
  line({QStringLiteral("名次"), QStringLiteral("节号"), QStringLiteral("平均偏差 mV"), QStringLiteral("趋势 mV/月"),
        QStringLiteral("样本")},
       kHeaderShade);
  for (std::size_t i = 0; i < report.drifting.size(); ++i) {
    const archive::CellDeviation& d = report.drifting[i];
    line({QString::number(i + 1), QString::number(d.cell), signedMv(d.meanDeviationMv), signedMv(d.trendMvPerMonth),
          QString::number(d.samples)},
         archive::driftMarked(d, markMvPerMonth) ? kMarkShade : 0);
  }
  textLine(w, QString());
  // The chart under the table, in device pixels.
  QPainter& p = w.painter();
  const double dx = p.device()->logicalDpiX(), dy = p.device()->logicalDpiY();
  const double top = w.lineTop() + 0.2;
  const QRectF box(kLeft * dx, top * dy, (w.paper().width() - 2 * kLeft) * dx, 4.2 * dy);
  p.save();
  QFont font(kFace);
  p.setFont(font);
  paintDeviations(p, box, report, range, dx / 96.0);
  p.restore();

  // Page 2: every cell, in two halves side by side.
  newPage(w);
  w.setFont(kFace, 12);
  w.setBold(true);
  textLine(w, QStringLiteral("第%1台 全部单体").arg(unit));
  w.setBold(false);
  w.setFont(kFace, 8);
  const std::vector<double> cellWidths{0.5, 1.0, 1.0, 0.8};
  const double half = 3.3 + 0.3;
  const std::size_t n = report.cells.size(), rows = (n + 1) / 2;
  const QStringList head{QStringLiteral("节号"), QStringLiteral("平均偏差 mV"), QStringLiteral("趋势 mV/月"),
                         QStringLiteral("样本")};
  const auto fields = [&](const archive::CellDeviation& d) {
    return QStringList{QString::number(d.cell), signedMv(d.meanDeviationMv), signedMv(d.trendMvPerMonth),
                       QString::number(d.samples)};
  };
  const auto pair = [&](const QStringList& a, const QStringList* b, int shade) {
    w.clearTabs();
    row(w, kLeft, cellWidths, a, shade);
    QString text;
    for (const QString& f : a) text += QLatin1Char('\t') + f;
    if (b) {
      row(w, kLeft + half, cellWidths, *b, shade);
      for (const QString& f : *b) text += QLatin1Char('\t') + f;
    }
    w.printLine(text);
  };
  pair(head, n > 1 ? &head : nullptr, kHeaderShade);
  for (std::size_t i = 0; i < rows; ++i) {
    const QStringList a = fields(report.cells[i]);
    if (i + rows < n) {
      const QStringList b = fields(report.cells[i + rows]);
      pair(a, &b, 0);
    } else {
      pair(a, nullptr, 0);
    }
  }
}

}  // namespace trend
