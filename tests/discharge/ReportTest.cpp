// The discharge report rendered to PDF and read back with poppler: the table's numbers against
// the judgement, the weak cells shaded, the summary and the curves' page.
#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QTime>
#include <QTemporaryDir>
#include <algorithm>
#include <map>

#include "discharge/Report.h"
#include "discharge/core/Judgement.h"
#include "support/PdfReader.h"

using namespace discharge;

namespace {

/// 24 cells over 40 minutes, a sample every 10 s: a step down, a slope, a knee. Cells 7 and 15
/// fall faster and reach 1.80 V; cell 20 sags lower than the rest without reaching it.
Recording makeRecording() {
  Recording r;
  r.record.id = 12;
  r.record.unit = 3;
  r.record.cells = 24;
  r.record.startMs = 1'765'000'000'000;
  r.record.endMs = r.record.startMs + 40 * 60000;
  r.record.startedBy = StartReason::Manual;
  r.record.endedBy = EndReason::Manual;
  r.record.ratedMinutes = 60;
  r.cells = 24;
  for (int i = 0; i <= 240; ++i) {
    Sample s;
    s.timeMs = r.record.startMs + i * 10000;
    s.cells = 24;
    const double f = i / 240.0;
    for (int k = 1; k <= 24; ++k) {
      const double rate = k == 7 ? 1.6 : k == 15 ? 1.35 : k == 20 ? 1.21 : 1.0 + (k % 5) * 0.01;
      const double v = 2.10 - 0.12 * f * rate - (f > 0.8 ? (f - 0.8) * 0.5 * rate * rate : 0);
      s.cellMv[static_cast<std::size_t>(k - 1)] = static_cast<int>(std::lround(v * 100)) * 10;
      s.totalMv += s.cellMv[static_cast<std::size_t>(k - 1)];
    }
    s.totalMv = s.totalMv / 100 * 100;
    r.append(s);
  }
  return r;
}

}  // namespace

TEST(Report, theTableReadsBackAsTheJudgementWithTheWeakCellsShaded) {
  Recording r = makeRecording();
  // The station was down from minute 10 to minute 12 of it.
  r.restarts.push_back({r.record.startMs + 10 * 60000, r.record.startMs + 12 * 60000});
  const Judgement j = judge(r, 1800);
  ASSERT_EQ(j.weakestFirst.front(), 7);
  ASSERT_TRUE(j.cells[14].crossedMs && !j.cells[19].crossedMs && j.cells[19].weak);

  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("report.pdf"));
  writeReportPdf(file, QStringLiteral("Room-A"), r, j);
  ASSERT_EQ(pdf::pageCount(file), 2);
  const auto words = pdf::words(file);

  // Page 1's lines (words whose middles lie within 0.05 in), left to right.
  std::vector<PdfWord> first;
  QStringList page1;
  for (const PdfWord& w : words)
    if (w.page == 1) {
      first.push_back(w);
      page1 << w.text;
    }
  const auto middle = [](const PdfWord& w) { return (w.yMin + w.yMax) / 2; };
  std::sort(first.begin(), first.end(), [&](const PdfWord& a, const PdfWord& b) { return middle(a) < middle(b); });
  std::vector<std::vector<PdfWord>> lines;
  for (const PdfWord& w : first) {
    if (lines.empty() || middle(w) - middle(lines.back().front()) > 0.05) lines.emplace_back();
    lines.back().push_back(w);
  }
  std::map<int, std::pair<QStringList, PdfWord>> rows;  // cell -> its six fields, its number's word
  for (auto& ws : lines) {
    std::sort(ws.begin(), ws.end(), [](const PdfWord& a, const PdfWord& b) { return a.xMin < b.xMin; });
    if (ws.size() != 6 && ws.size() != 12) continue;
    for (std::size_t h = 0; h < ws.size(); h += 6) {
      bool ok = false;
      const int cell = ws[h].text.toInt(&ok);
      if (!ok || !ws[h + 1].text.contains(QLatin1Char('.'))) continue;
      QStringList fields;
      for (std::size_t c = h; c < h + 6; ++c) fields << ws[c].text;
      rows[cell] = {fields, ws[h]};
    }
  }
  ASSERT_EQ(rows.size(), 24u);
  const QImage page = pdf::raster(file, 100);
  for (const CellJudgement& c : j.cells) {
    const auto& [fields, number] = rows.at(c.cell);
    // Two decimals always: 1.80, not 1.8.
    EXPECT_EQ(fields[1], QString::number(c.startMv / 1000.0, 'f', 2)) << c.cell;
    EXPECT_EQ(fields[2], QString::number(c.minMv / 1000.0, 'f', 2)) << c.cell;
    EXPECT_EQ(fields[3], QString::number(c.endMv / 1000.0, 'f', 2)) << c.cell;
    EXPECT_EQ(fields[4], c.crossedMs ? durationText(*c.crossedMs) : QStringLiteral("未到")) << c.cell;
    EXPECT_EQ(fields[5].toInt(), c.rank) << c.cell;
    // Inside the number's cell, left of the number: grey for a weak cell, white otherwise.
    const QRgb ground = page.pixel(static_cast<int>((number.xMin - 0.06) * 100), static_cast<int>((number.yMin + number.yMax) * 50));
    EXPECT_EQ(qGray(ground) < 230, c.weak) << c.cell << " grey " << qGray(ground);
  }
  // The summary: the first cell at the end voltage, when, the capacity, the weakest five.
  const QString all = page1.join(QLatin1Char(' '));
  EXPECT_TRUE(all.contains(durationText(*j.firstCrossedMs))) << all.toStdString();
  EXPECT_TRUE(all.contains(QStringLiteral("%1%").arg(std::lround(*j.capacity * 100)))) << all.toStdString();
  EXPECT_TRUE(all.contains(QStringLiteral("0:40:00")));
  EXPECT_TRUE(all.contains(QStringLiteral("Room-A")));
  EXPECT_TRUE(all.contains(reportTime(r.restarts[0].stoppedMs)) && all.contains(reportTime(r.restarts[0].resumedMs)))
      << all.toStdString();
  EXPECT_TRUE(all.contains(QStringLiteral("1.80 V/"))) << all.toStdString();
  // The curves' page names the five weakest cells in its legend.
  QStringList page2;
  for (const PdfWord& w : words)
    if (w.page == 2) page2 << w.text;
  for (int i = 0; i < 5; ++i)
    EXPECT_TRUE(page2.join(QLatin1Char(' ')).contains(QStringLiteral("第%1节").arg(j.weakestFirst[static_cast<std::size_t>(i)])))
        << i;
}

TEST(Report, aThreeMinuteTestHasItsTimeAxisInDistinctRisingSteps) {
  Recording full = makeRecording();
  Recording r;
  r.record = full.record;
  r.cells = full.cells;
  for (std::size_t i = 0; i <= 18; ++i) {  // 0..180 s
    Sample s;
    s.timeMs = full.times[i];
    s.cells = 24;
    s.totalMv = full.totals[i];
    for (int k = 1; k <= 24; ++k) s.cellMv[static_cast<std::size_t>(k - 1)] = full.cell(i, k);
    r.append(s);
  }
  r.record.endMs = r.times.back();
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("short.pdf"));
  writeReportPdf(file, QStringLiteral("Room-A"), r, judge(r, 1800));
  // The labels under the total's chart (the upper one), left to right.
  const QRegularExpression clock(QStringLiteral("^\\d+:\\d\\d(:\\d\\d)?$"));
  std::vector<PdfWord> labels;
  for (const PdfWord& w : pdf::words(file))
    if (w.page == 2 && clock.match(w.text).hasMatch()) labels.push_back(w);
  ASSERT_FALSE(labels.empty());
  const double row = std::min_element(labels.begin(), labels.end(), [](auto& a, auto& b) { return a.yMin < b.yMin; })->yMin;
  std::vector<PdfWord> axis;
  for (const PdfWord& w : labels)
    if (std::abs(w.yMin - row) < 0.05) axis.push_back(w);
  std::sort(axis.begin(), axis.end(), [](const PdfWord& a, const PdfWord& b) { return a.xMin < b.xMin; });
  ASSERT_GE(axis.size(), 4u);
  QStringList texts;
  for (const PdfWord& w : axis) texts << w.text;
  EXPECT_EQ(texts.front(), QStringLiteral("0:00:00")) << texts.join(' ').toStdString();
  EXPECT_EQ(texts.back(), QStringLiteral("0:03:00")) << texts.join(' ').toStdString();
  for (qsizetype i = 1; i < texts.size(); ++i)
    EXPECT_LT(QTime::fromString(texts[i - 1], QStringLiteral("h:mm:ss")), QTime::fromString(texts[i], QStringLiteral("h:mm:ss")))
        << texts.join(' ').toStdString();
}
