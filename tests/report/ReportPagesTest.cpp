// Recorded report pages played back on PDF writers of different resolutions: a position given
// in inches lands at the same place on paper whatever the device.
#include <gtest/gtest.h>

#include <QPdfWriter>
#include <QTemporaryDir>

#include "support/PdfReader.h"
#include "report/PageWriter.h"
#include "report/ReportPages.h"

namespace {

QString playOn(const report::ReportPages& pages, const QString& file, int dpi) {
  QPdfWriter pdf(file);
  pdf.setResolution(dpi);
  pdf.setPageSize(QPageSize(QPageSize::Letter));
  pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
  QPainter p(&pdf);
  EXPECT_EQ(pages.render(p, pdf), pages.count());
  p.end();
  return file;
}

TEST(ReportPages, InchesLandInPlaceAtEveryDeviceResolution) {
  report::ReportPages pages(QSizeF(8.5, 11));
  QPainter painter;
  pages.beginPage(painter);
  report::PageWriter w(painter, pages.paperInches());
  w.setFont(QStringLiteral("Times New Roman"), 12);
  w.setSectionTop(2.0);
  w.home();
  w.setTab(3.0, report::PageWriter::Justify::Left, 2.0, 0, report::PageWriter::FrameNone, 0);
  w.printLine(QStringLiteral("\tMark"));
  w.setFont(QStringLiteral("Times New Roman"), 24);
  w.printLine(QStringLiteral("\tBig"));
  pages.finish(painter);

  QTemporaryDir dir;
  for (int dpi : {72, 300, 600, 1200}) {
    const auto words = pdf::words(playOn(pages, dir.filePath(QStringLiteral("p%1.pdf").arg(dpi)), dpi));
    ASSERT_EQ(words.size(), 2u) << dpi;
    EXPECT_NEAR(words[0].xMin, 3.0, 0.02) << dpi;
    EXPECT_NEAR((words[0].yMin + words[0].yMax) / 2, 2.1, 0.03) << dpi;
    // poppler's word box is the face's whole height, somewhat over one em.
    const double em12 = (words[0].yMax - words[0].yMin) * 72 / 12;
    EXPECT_GT(em12, 1.0) << dpi;
    EXPECT_LT(em12, 1.6) << dpi;
    EXPECT_NEAR(words[1].yMax - words[1].yMin, 2 * (words[0].yMax - words[0].yMin), 0.01) << dpi;
    EXPECT_NEAR((words[1].yMin + words[1].yMax) / 2, 2.2 + 0.2, 0.03) << "a 24 pt line is 0.4 in high; " << dpi;
  }
}

}  // namespace
