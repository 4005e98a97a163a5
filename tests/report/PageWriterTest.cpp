// The page writer on a real PDF writer: line and section arithmetic, tab cells with their
// justification, shade and frames, TABs past the last column, and pages and columns filling up.
#include <gtest/gtest.h>

#include <QPdfWriter>
#include <QTemporaryDir>
#include <memory>

#include "support/PdfReader.h"
#include "report/PageWriter.h"

namespace {

using report::PageWriter;

// A writer painting straight onto a Letter page of a PDF file.
struct PdfPage {
  QTemporaryDir dir;
  QString path = dir.filePath(QStringLiteral("page.pdf"));
  QPdfWriter pdf{path};
  QPainter painter;
  std::unique_ptr<PageWriter> writer;
  int newPages = 0;

  PdfPage() {
    pdf.setResolution(600);
    pdf.setPageSize(QPageSize(QPageSize::Letter));
    pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
    painter.begin(&pdf);
    writer = std::make_unique<PageWriter>(painter, QSizeF(8.5, 11));
    writer->onNewPage = [this] {
      pdf.newPage();
      ++newPages;
    };
  }
  std::vector<PdfWord> finish() {
    painter.end();
    return pdf::words(path);
  }
};

const PdfWord* word(const std::vector<PdfWord>& words, const QString& text) {
  for (const auto& w : words)
    if (w.text == text) return &w;
  return nullptr;
}

TEST(PageWriter, ShadeOfBlackFollowsTheIntegerFormulaAndIsClamped) {
  struct Case {
    int percent;
    int expected;
  };
  for (const Case c : {Case{15, 216}, Case{0, 255}, Case{100, 0}, Case{50, 127}, Case{1, 252}, Case{-20, 255},
                       Case{250, 0}}) {
    const QColor got = PageWriter::shadeColor(Qt::black, c.percent);
    EXPECT_EQ(got, QColor(c.expected, c.expected, c.expected)) << c.percent << " % gave " << got.name().toStdString();
  }
  EXPECT_EQ(PageWriter::shadeColor(QColor(100, 0, 255), 15), QColor(100 + 85 * 155 / 100, 216, 255));
}

TEST(PageWriter, TabShadeIsClampedToAPercentage) {
  PdfPage page;
  PageWriter& w = *page.writer;
  w.setTabShade(150);
  EXPECT_EQ(w.tabShade(), 100);
  w.setTabShade(-3);
  EXPECT_EQ(w.tabShade(), 0);
  w.setTabShade(15);
  EXPECT_EQ(w.tabShade(), 15);
  w.setTab(1.0, PageWriter::Justify::Left, 1.0, 0, PageWriter::FrameAll, 400);
  EXPECT_EQ(w.tabs().back().shade, 100);
  page.finish();
}

TEST(PageWriter, SectionsAndLinesMoveAsTheReportExpects) {
  PdfPage page;
  PageWriter& w = *page.writer;
  w.setFont(QStringLiteral("Times New Roman"), 12);
  EXPECT_DOUBLE_EQ(w.lineHeight(), 0.2);
  w.setSectionTop(0.75);
  EXPECT_DOUBLE_EQ(w.lineTop(), 0.75) << "a cursor above the section moves down to it";
  w.sectionTopToCurrentLine();
  EXPECT_DOUBLE_EQ(w.sectionTop(), 0.75) << "nothing written yet: the section stays";
  w.setSectionBottom(10.5);
  w.home();
  EXPECT_EQ(w.line(), 1);
  w.print(QStringLiteral("Title"));
  w.sectionTopToCurrentLine();
  EXPECT_NEAR(w.sectionTop(), 0.95, 1e-12) << "the title's line ends the old section";
  w.home();
  EXPECT_NEAR(w.lineTop(), 0.95, 1e-12);
  w.printLine(QStringLiteral("one"));
  w.printLine(QStringLiteral("two"));
  EXPECT_EQ(w.line(), 3);
  EXPECT_NEAR(w.lineTop(), 1.35, 1e-12);
  w.setSectionTop(0.5);
  EXPECT_NEAR(w.lineTop(), 1.35, 1e-12) << "a section top above the cursor leaves it where it is";
  w.setFont(QStringLiteral("Times New Roman"), 6);
  EXPECT_DOUBLE_EQ(w.lineHeight(), 0.1);

  const auto words = page.finish();
  ASSERT_NE(word(words, QStringLiteral("two")), nullptr);
  EXPECT_NEAR((word(words, QStringLiteral("Title"))->yMin + word(words, QStringLiteral("Title"))->yMax) / 2, 0.85, 0.03);
  EXPECT_NEAR((word(words, QStringLiteral("one"))->yMin + word(words, QStringLiteral("one"))->yMax) / 2, 1.05, 0.03);
  EXPECT_NEAR((word(words, QStringLiteral("two"))->yMin + word(words, QStringLiteral("two"))->yMax) / 2, 1.25, 0.03);
}

TEST(PageWriter, TabCellsPlaceTextByTheirJustificationAndInnerMargin) {
  PdfPage page;
  PageWriter& w = *page.writer;
  w.setFont(QStringLiteral("Times New Roman"), 12);
  w.home();
  w.setTab(1.0, PageWriter::Justify::Left, 2.0, 0.1, PageWriter::FrameNone, 0);
  w.setTab(std::nullopt, PageWriter::Justify::Right, 2.0, 0.1, PageWriter::FrameNone, 0);
  w.setTab(std::nullopt, PageWriter::Justify::Center, 2.0, 0, PageWriter::FrameNone, 0);
  w.setTab(0.2, PageWriter::Justify::Block, 0.7, 0, PageWriter::FrameNone, 0);
  EXPECT_DOUBLE_EQ(w.tabs()[1].left, 3.0) << "directly after the previous tab";
  EXPECT_DOUBLE_EQ(w.tabs()[2].left, 5.0);
  w.printLine(QStringLiteral("\tLeft\tRight\tCentre\tBlock"));
  const auto words = page.finish();
  ASSERT_EQ(words.size(), 4u);
  EXPECT_NEAR(word(words, QStringLiteral("Left"))->xMin, 1.1, 0.02);
  EXPECT_NEAR(word(words, QStringLiteral("Right"))->xMax, 4.9, 0.02);
  const PdfWord* c = word(words, QStringLiteral("Centre"));
  EXPECT_NEAR((c->xMin + c->xMax) / 2, 6.0, 0.02);
  EXPECT_NEAR(word(words, QStringLiteral("Block"))->xMin, 0.2, 0.02);
}

TEST(PageWriter, ATabPastTheLastColumnDrawsNoCell) {
  PdfPage page;
  PageWriter& w = *page.writer;
  w.setFont(QStringLiteral("Times New Roman"), 12);
  w.setSectionTop(1.0);
  w.home();
  w.setPen(Qt::black, Qt::SolidLine, 1, QPainter::CompositionMode_SourceOver);
  w.setTab(1.0, PageWriter::Justify::Center, 1.0, 0, PageWriter::FrameAll, 50);
  w.setTab(std::nullopt, PageWriter::Justify::Center, 1.0, 0, PageWriter::FrameAll, 0);
  w.setTabShade(100);
  w.printLine(QStringLiteral("\tA\tB\t\t"));
  w.printLine(QStringLiteral("\tC\tD\tAfter"));
  const auto words = page.finish();
  // What follows a TAB with no column left is written at the cursor, right after the last cell.
  const PdfWord* after = word(words, QStringLiteral("After"));
  ASSERT_NE(after, nullptr);
  EXPECT_NEAR(after->xMin, 3.0, 0.03);

  constexpr int dpi = 100;
  const QImage img = pdf::raster(page.path, dpi);
  auto at = [&](double x, double y) { return QColor(img.pixel(int(x * dpi), int(y * dpi))); };
  EXPECT_EQ(at(1.05, 1.05), PageWriter::shadeColor(Qt::black, 50)) << "the cell's own shade wins";
  EXPECT_EQ(at(2.05, 1.05), QColor(Qt::black)) << "no own shade: the tab shade, 100 %";
  EXPECT_EQ(at(3.5, 1.1), QColor(Qt::white)) << "no third cell";
  for (int x = int(3.05 * dpi); x < int(5 * dpi); ++x)
    ASSERT_GT(qGray(img.pixel(x, int(1.1 * dpi))), 128) << "ink at " << x << " beyond the last cell";
}

TEST(PageWriter, LinesPastTheSectionBottomFlowToTheNextColumnThenTheNextPage) {
  PdfPage page;
  PageWriter& w = *page.writer;
  w.setFont(QStringLiteral("Times New Roman"), 12);
  w.setSectionTop(1.0);
  w.setSectionBottom(2.0);  // five lines of 0.2 in
  w.setColumns(2, 0.5);
  w.home();
  int texts = 0;
  w.afterText = [&] { ++texts; };
  for (int i = 1; i <= 12; ++i) w.printLine(QStringLiteral("L%1").arg(i));
  EXPECT_EQ(texts, 12);
  EXPECT_EQ(page.newPages, 1);
  EXPECT_EQ(w.page(), 2);
  const auto words = page.finish();
  auto find = [&](const QString& t) { return word(words, t); };
  ASSERT_TRUE(find(QStringLiteral("L5")) && find(QStringLiteral("L6")) && find(QStringLiteral("L11")));
  EXPECT_EQ(find(QStringLiteral("L5"))->page, 1);
  EXPECT_NEAR(find(QStringLiteral("L5"))->yMax, 2.0, 0.05) << "the fifth line ends at the section bottom";
  EXPECT_EQ(find(QStringLiteral("L6"))->page, 1);
  EXPECT_NEAR(find(QStringLiteral("L6"))->xMin, 4.5, 0.02) << "second column: (8.5 - 0.5) / 2 + 0.5";
  EXPECT_NEAR((find(QStringLiteral("L6"))->yMin + find(QStringLiteral("L6"))->yMax) / 2, 1.1, 0.03);
  EXPECT_EQ(find(QStringLiteral("L11"))->page, 2);
  EXPECT_NEAR(find(QStringLiteral("L11"))->xMin, 0.0, 0.02);
}

}  // namespace
