#pragma once
// Reads a PDF back with poppler's command-line tools: the words with their boxes (pdftotext
// -bbox), the page count (pdfinfo) and a page rasterised (pdftoppm). Tests check what a printer
// would put on paper rather than the painter calls that produced it.
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <stdexcept>
#include <vector>

struct PdfWord {
  QString text;
  // Inches from the page's top-left corner.
  double xMin, yMin, xMax, yMax;
  int page;
};

namespace pdf {

inline QByteArray run(const QString& program, const QStringList& args) {
  QProcess p;
  p.start(program, args);
  if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
    throw std::runtime_error((program + " failed: " + QString::fromLocal8Bit(p.readAllStandardError())).toStdString());
  return p.readAllStandardOutput();
}

inline std::vector<PdfWord> words(const QString& file) {
  const QString html = QString::fromUtf8(run(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), file, QStringLiteral("-")}));
  static const QRegularExpression pageRe(QStringLiteral("<page "));
  static const QRegularExpression wordRe(
      QStringLiteral(R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re"));
  std::vector<PdfWord> out;
  int page = 0;
  qsizetype pos = 0;
  for (;;) {
    const auto w = wordRe.match(html, pos);
    const auto pg = pageRe.match(html, pos);
    if (pg.hasMatch() && (!w.hasMatch() || pg.capturedStart() < w.capturedStart())) {
      ++page;
      pos = pg.capturedEnd();
      continue;
    }
    if (!w.hasMatch()) break;
    auto unescape = [](QString s) {
      return s.replace(QStringLiteral("&lt;"), QStringLiteral("<")).replace(QStringLiteral("&gt;"), QStringLiteral(">"))
          .replace(QStringLiteral("&quot;"), QStringLiteral("\"")).replace(QStringLiteral("&amp;"), QStringLiteral("&"));
    };
    out.push_back({unescape(w.captured(5)), w.captured(1).toDouble() / 72, w.captured(2).toDouble() / 72,
                   w.captured(3).toDouble() / 72, w.captured(4).toDouble() / 72, page});
    pos = w.capturedEnd();
  }
  return out;
}

inline int pageCount(const QString& file) {
  const QString info = QString::fromUtf8(run(QStringLiteral("pdfinfo"), {file}));
  static const QRegularExpression re(QStringLiteral(R"(Pages:\s+(\d+))"));
  const auto m = re.match(info);
  return m.hasMatch() ? m.captured(1).toInt() : -1;
}

/// The page's size in inches, from pdfinfo.
inline QSizeF pageSize(const QString& file) {
  const QString info = QString::fromUtf8(run(QStringLiteral("pdfinfo"), {file}));
  static const QRegularExpression re(QStringLiteral(R"(Page size:\s+([\d.]+) x ([\d.]+) pts)"));
  const auto m = re.match(info);
  return m.hasMatch() ? QSizeF(m.captured(1).toDouble() / 72, m.captured(2).toDouble() / 72) : QSizeF();
}

/// Page `page` (1-based) rasterised at `dpi`.
inline QImage raster(const QString& file, int dpi, int page = 1) {
  QTemporaryDir dir;
  const QString prefix = dir.filePath(QStringLiteral("page"));
  run(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-f"), QString::number(page),
                                   QStringLiteral("-l"), QString::number(page), QStringLiteral("-singlefile"),
                                   QStringLiteral("-png"), file, prefix});
  QImage img(prefix + QStringLiteral(".png"));
  if (img.isNull()) throw std::runtime_error("pdftoppm wrote no image");
  return img.convertToFormat(QImage::Format_RGB32);
}

/// The fonts embedded in the file, as pdffonts lists them.
inline QString fonts(const QString& file) { return QString::fromUtf8(run(QStringLiteral("pdffonts"), {file})); }

}  // namespace pdf
