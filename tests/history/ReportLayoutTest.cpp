// The printed page of one unit, read back from the PDF the report wrote: where the title, the
// header and the cells are, what they say, the shade, the frames and the fonts.
#include <QImage>
#include <algorithm>
#include <map>

#include <QDate>
#include <QLocale>

#include "common/NumberText.h"
#include "history/ReportFixture.h"
#include "toolkit/ArrowSpinBox.h"

namespace {

// Positions are compared to a hundredth of an inch plus the fonts' own side bearings.
constexpr double kTol = 0.03;

// The texts of the table by their cell: line 0 is the header, lines 1..18 the data rows,
// columns 1..12. poppler splits a text where its font changes; the pieces are joined again.
std::map<std::pair<int, int>, QString> cellsByPlace(const std::vector<PdfWord>& words) {
  std::map<std::pair<int, int>, QString> out;
  std::vector<PdfWord> sorted = words;
  std::sort(sorted.begin(), sorted.end(), [](const PdfWord& a, const PdfWord& b) { return a.xMin < b.xMin; });
  const double tableTop = 0.95;
  for (const auto& w : sorted) {
    const double cx = (w.xMin + w.xMax) / 2;
    const double cy = (w.yMin + w.yMax) / 2;
    if (cx < 0.5 || cy < tableTop) continue;
    const int col = static_cast<int>((cx - 0.5) / 0.6) + 1;
    const int line = static_cast<int>((cy - tableTop) / 0.2);
    if (col > 12 || line > 18) continue;
    out[{line, col}] += w.text;
  }
  return out;
}

// The title line: every word whose middle lies between 0.75 and 0.95 in, left to right.
QString titleText(const std::vector<PdfWord>& words, double* left = nullptr) {
  std::vector<PdfWord> line;
  for (const auto& w : words)
    if ((w.yMin + w.yMax) / 2 > 0.75 && (w.yMin + w.yMax) / 2 < 0.95) line.push_back(w);
  std::sort(line.begin(), line.end(), [](const PdfWord& a, const PdfWord& b) { return a.xMin < b.xMin; });
  QString text;
  for (const auto& w : line) text += w.text;
  if (left) *left = line.empty() ? -1 : line.front().xMin;
  return text;
}

TEST_F(ReportRun, TitleNamesTheSelectedUnitAndTheDateInBoldItalicTimesAtTheSectionTop) {
  form.SpinEdit2->setValue(7);
  const auto words = printedWords();
  ASSERT_FALSE(words.empty());
  double left = 0;
  const QString title = titleText(words, &left);
  EXPECT_TRUE(title.startsWith(QStringLiteral("第7台检测仪在"))) << title.toStdString();
  EXPECT_TRUE(title.endsWith(QStringLiteral("的数据"))) << title.toStdString();
  QString date = QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
  date.remove(QLatin1Char(' '));
  EXPECT_TRUE(title.contains(date)) << title.toStdString() << " lacks " << date.toStdString();
  // Five blanks lead the title: its first glyph stands a little right of the paper's edge.
  EXPECT_GT(left, 0.1);
  EXPECT_LT(left, 0.5);

  const QString fonts = pdf::fonts(pdfPath);
  EXPECT_TRUE(fonts.contains(QStringLiteral("LiberationSerif-BoldItalic"))) << fonts.toStdString();
  EXPECT_TRUE(fonts.contains(QStringLiteral("LiberationSerif "))) << "the table's regular face; " << fonts.toStdString();
  EXPECT_TRUE(fonts.contains(QStringLiteral("NotoSerifCJKsc"))) << fonts.toStdString();
}

TEST_F(ReportRun, HeaderCellsSitEverySixTenthsOfAnInchFromHalfAnInch) {
  const auto words = printedWords();
  const auto cells = cellsByPlace(words);
  for (int k = 1; k <= 12; ++k)
    EXPECT_EQ(cells.count({0, k}) ? cells.at({0, k}) : QString(),
              k % 2 ? QStringLiteral("序号") : QStringLiteral("电压V")) << "header cell " << k;
  for (const auto& w : words) {
    if (w.text != QStringLiteral("序号")) continue;
    const int k = static_cast<int>((w.xMin - 0.5) / 0.6);
    EXPECT_NEAR((w.xMin + w.xMax) / 2, 0.5 + 0.6 * k + 0.3, kTol) << "centred in cell " << k + 1;
    EXPECT_NEAR((w.yMin + w.yMax) / 2, 1.05, kTol) << "header on the line from 0.95 to 1.15 in";
  }
  EXPECT_EQ(pdf::pageCount(pdfPath), 1);
}

TEST_F(ReportRun, NeverAnsweredUnitPrintsDashesInEveryCellButAllCellNumbers) {
  setUnit(1, 0, [](int c) { return 1.0 + c; });
  const auto cells = cellsByPlace(printedWords());
  for (int r = 1; r <= 18; ++r)
    for (int k = 1; k <= 6; ++k) {
      const int c = 6 * (r - 1) + k;
      EXPECT_EQ(cells.at({r, 2 * k - 1}), QString::number(c)) << "row " << r << " cell " << k;
      EXPECT_EQ(cells.at({r, 2 * k}), QStringLiteral("---")) << "cell " << c;
    }
}

TEST_F(ReportRun, CellsBeyondTheAnnouncedCountPrintDashesWhateverTheyStillHold) {
  setUnit(1, 100, [](int c) { return c <= 100 ? c / 10.0 : 15.5; });
  const auto cells = cellsByPlace(printedWords());
  for (int c = 1; c <= 108; ++c) {
    const int r = (c - 1) / 6 + 1, k = (c - 1) % 6 + 1;
    const QString expected = c <= 100 ? QString::fromStdString(common::formatGeneral(c / 10.0)) : QStringLiteral("---");
    EXPECT_EQ(cells.at({r, 2 * k}), expected) << "cell " << c;
  }
}

TEST_F(ReportRun, VoltagesPrintInTheGeneralFormWithoutFixedDecimals) {
  form.SpinEdit2->setValue(3);
  setUnit(3, 108, [](int c) { return c == 1 ? 0.0 : c == 2 ? 3.25 : c == 3 ? 12.5 : 16.0; });
  setUnit(1, 108, [](int) { return 9.75; });  // another unit's values stay off the page
  const auto cells = cellsByPlace(printedWords());
  EXPECT_EQ(cells.at({1, 2}), QStringLiteral("0"));
  EXPECT_EQ(cells.at({1, 4}), QStringLiteral("3.25"));
  EXPECT_EQ(cells.at({1, 6}), QStringLiteral("12.5"));
  EXPECT_EQ(cells.at({18, 12}), QStringLiteral("16"));
}

TEST_F(ReportRun, HeaderIsShadedAndEveryCellFramedOnFourSides) {
  setUnit(1, 108, [](int) { return 1.5; });
  clickPrint();
  ASSERT_TRUE(QFile::exists(pdfPath));
  constexpr int dpi = 100;
  const QImage img = pdf::raster(pdfPath, dpi);
  auto px = [&](double xIn, double yIn) {
    return QColor(img.pixel(static_cast<int>(xIn * dpi), static_cast<int>(yIn * dpi)));
  };
  // Inside the header cells, away from text and frames: the 15 % shade.
  for (int k = 0; k < 12; ++k) {
    const QColor c = px(0.5 + 0.6 * k + 0.04, 0.95 + 0.03);
    EXPECT_EQ(c, QColor(216, 216, 216)) << "header cell " << k + 1 << " " << c.name().toStdString();
  }
  // Inside a data cell: no fill.
  EXPECT_EQ(px(0.54, 1.18), QColor(Qt::white));
  EXPECT_EQ(px(7.64, 4.72), QColor(Qt::white));
  // Frames: dark pixels on every vertical line from 0.5 to 7.7 in and every horizontal line
  // from 0.95 to 4.75 in, and nothing beyond the last cell.
  auto darkNear = [&](double xIn, double yIn, bool vertical) {
    for (int d = -2; d <= 2; ++d) {
      const int x = static_cast<int>(xIn * dpi) + (vertical ? d : 0);
      const int y = static_cast<int>(yIn * dpi) + (vertical ? 0 : d);
      if (qGray(img.pixel(x, y)) < 128) return true;
    }
    return false;
  };
  for (int k = 0; k <= 12; ++k)
    for (int line = 0; line < 19; ++line)
      EXPECT_TRUE(darkNear(0.5 + 0.6 * k, 0.95 + 0.2 * line + 0.1, true)) << "vertical " << k << " line " << line;
  for (int line = 0; line <= 19; ++line)
    for (int k = 0; k < 12; ++k)
      EXPECT_TRUE(darkNear(0.5 + 0.6 * k + 0.3, 0.95 + 0.2 * line, false)) << "horizontal " << line << " cell " << k;
  for (int line = 0; line < 19; ++line) EXPECT_FALSE(darkNear(7.85, 0.95 + 0.2 * line + 0.1, true));
  EXPECT_FALSE(darkNear(4.0, 4.9, false)) << "nothing below the last row";
}

}  // namespace
