#include "report/PageWriter.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPaintDevice>
#include <QRawFont>
#include <algorithm>

namespace report {

namespace {

// Lines are compared in inches; this keeps 20 lines of 0.2 in from failing on rounding.
constexpr double kEpsilon = 1e-9;

int clampPercent(int p) { return std::clamp(p, 0, 100); }

// The metric-compatible faces of the common Windows faces: a report laid out for Times New Roman
// keeps its widths where only the Liberation faces are installed.
QString metricSubstitute(const QString& family) {
  static const std::pair<const char*, const char*> table[] = {
      {"Times New Roman", "Liberation Serif"}, {"Arial", "Liberation Sans"}, {"Courier New", "Liberation Mono"}};
  for (const auto& [name, substitute] : table)
    if (family.compare(QLatin1String(name), Qt::CaseInsensitive) == 0) return QString::fromLatin1(substitute);
  return {};
}

}  // namespace

PageWriter::PageWriter(QPainter& painter, QSizeF paperInches)
    : painter_(painter), paper_(paperInches), sectionBottom_(paperInches.height()) {
  setFont(QStringLiteral("Arial"), 10);
  pen_ = QPen(Qt::black, 1, Qt::SolidLine);
  pen_.setCosmetic(true);
}

QString PageWriter::fallbackFamily() { return QStringLiteral("Noto Serif CJK SC"); }

QColor PageWriter::shadeColor(const QColor& base, int percent) {
  const int p = clampPercent(percent);
  auto mix = [p](int c) { return c + (100 - p) * (255 - c) / 100; };
  return QColor(mix(base.red()), mix(base.green()), mix(base.blue()));
}

void PageWriter::setSectionTop(double inches) {
  sectionTop_ = inches;
  if (lineTop_ < inches) {
    lineTop_ = inches;
    line_ = 0;
  }
}

void PageWriter::setSectionBottom(double inches) { sectionBottom_ = inches; }

void PageWriter::clearTabs() {
  tabs_.clear();
  tab_ = -1;
}

void PageWriter::sectionTopToCurrentLine() {
  sectionTop_ = line_ == 0 ? lineTop_ : lineTop_ + lineHeight();
  lineTop_ = sectionTop_;
  line_ = 0;
}

void PageWriter::home() {
  line_ = 1;
  column_ = 0;
  lineTop_ = sectionTop_;
  x_ = 0;
  tab_ = -1;
}

void PageWriter::setFont(const QString& name, double points) {
  font_ = QFont();
  QString family = name;
  if (!QFontDatabase::hasFamily(name))
    if (const QString sub = metricSubstitute(name); !sub.isEmpty()) family = sub;
  font_.setFamily(family);
  font_.setPointSizeF(points);
  font_.setBold(false);
  font_.setItalic(false);
  font_.setUnderline(false);
  font_.setStrikeOut(false);
}

void PageWriter::setBold(bool on) { font_.setBold(on); }

void PageWriter::setItalic(bool on) { font_.setItalic(on); }

void PageWriter::setPen(const QColor& color, Qt::PenStyle style, int width, QPainter::CompositionMode mode) {
  pen_ = QPen(color, std::max(width, 0), style);
  // A width in device pixels whatever the device's resolution: one pixel stays one pixel.
  pen_.setCosmetic(true);
  penMode_ = mode;
}

void PageWriter::setTab(std::optional<double> left, Justify justify, double width, double margin,
                        unsigned frames, int shade) {
  Tab t;
  t.left = left ? *left : (tabs_.empty() ? 0.0 : tabs_.back().left + tabs_.back().width);
  t.width = width;
  t.justify = justify;
  t.margin = margin;
  t.frames = frames & FrameAll;
  t.shade = clampPercent(shade);
  tabs_.push_back(t);
}

void PageWriter::setColumns(int count, double gap) {
  columns_ = std::max(count, 1);
  columnGap_ = std::max(gap, 0.0);
  column_ = 0;
}

void PageWriter::setTabShade(int percent) { tabShade_ = clampPercent(percent); }

double PageWriter::columnWidth() const {
  return (paper_.width() - columnGap_ * (columns_ - 1)) / columns_;
}

double PageWriter::columnLeft() const { return column_ * (columnWidth() + columnGap_); }

void PageWriter::placeLine() {
  if (line_ == 0) line_ = 1;
  if (lineTop_ + lineHeight() <= sectionBottom_ + kEpsilon) return;
  if (column_ + 1 < columns_) {
    ++column_;
  } else {
    column_ = 0;
    ++page_;
    if (onNewPage) onNewPage();
  }
  line_ = 1;
  lineTop_ = sectionTop_;
}

QRectF PageWriter::toDevice(double x, double y, double w, double h) const {
  const QPaintDevice* d = painter_.device();
  const double dx = d->logicalDpiX();
  const double dy = d->logicalDpiY();
  return QRectF(x * dx, y * dy, w * dx, h * dy);
}

std::vector<PageWriter::Run> PageWriter::runs(const QString& text) const {
  // Glyphs the face lacks (the Chinese texts under Times New Roman) are written in the CJK
  // face, run by run, on the face's own baseline. Each run has one face of its own, so a page
  // recorded and played back elsewhere lays every run out exactly as it was measured here.
  QFont fallback = font_;
  fallback.setFamily(fallbackFamily());
  // The face itself, without the font engine's own fallbacks, decides which glyphs it has.
  const QRawFont own = QRawFont::fromFont(font_);
  std::vector<Run> out;
  for (qsizetype i = 0; i < text.size();) {
    char32_t ucs = text.at(i).unicode();
    qsizetype len = 1;
    if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
      ucs = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
      len = 2;
    }
    const bool useOwn = ucs == U' ' || own.supportsCharacter(static_cast<uint>(ucs));
    const QFont& f = useOwn ? font_ : fallback;
    if (out.empty() || out.back().font != f) out.push_back({f, QString(), 0});
    out.back().text += text.mid(i, len);
    i += len;
  }
  for (Run& r : out) r.width = QFontMetricsF(r.font, painter_.device()).horizontalAdvance(r.text);
  return out;
}

double PageWriter::drawRuns(const QRectF& box, Qt::Alignment align, const QString& text) {
  const std::vector<Run> parts = runs(text);
  double width = 0;
  for (const Run& r : parts) width += r.width;
  double x = box.left();
  if (align & Qt::AlignHCenter) x = box.left() + (box.width() - width) / 2;
  else if (align & Qt::AlignRight) x = box.right() - width;
  // The line's face sets the baseline: its ascent and descent are centred in the line.
  const QFontMetricsF fm(font_, painter_.device());
  const double baseline = box.top() + (box.height() + fm.ascent() - fm.descent()) / 2;
  painter_.setPen(QPen(Qt::black));
  for (const Run& r : parts) {
    painter_.setFont(r.font);
    painter_.drawText(QPointF(x, baseline), r.text);
    x += r.width;
  }
  return width;
}

void PageWriter::drawLooseText(const QString& text) {
  if (text.isEmpty()) return;
  const double top = lineTop_;
  const double left = columnLeft() + x_;
  const QRectF r = toDevice(left, top, std::max(columnLeft() + columnWidth() - left, 0.0), lineHeight());
  x_ += drawRuns(r, Qt::AlignLeft, text) / painter_.device()->logicalDpiX();
}

void PageWriter::drawCell(const Tab& tab, const QString& text) {
  const double top = lineTop_;
  const QRectF cell = toDevice(columnLeft() + tab.left, top, tab.width, lineHeight());

  const int shade = tab.shade != 0 ? tab.shade : tabShade_;
  if (shade > 0) painter_.fillRect(cell, shadeColor(tabColor_, shade));

  if (tab.frames != FrameNone && pen_.style() != Qt::NoPen) {
    painter_.save();
    painter_.setCompositionMode(penMode_);
    painter_.setPen(pen_);
    if (tab.frames & FrameLeft) painter_.drawLine(cell.topLeft(), cell.bottomLeft());
    if (tab.frames & FrameRight) painter_.drawLine(cell.topRight(), cell.bottomRight());
    if (tab.frames & FrameTop) painter_.drawLine(cell.topLeft(), cell.topRight());
    if (tab.frames & FrameBottom) painter_.drawLine(cell.bottomLeft(), cell.bottomRight());
    painter_.restore();
  }

  if (!text.isEmpty()) {
    const QRectF inner = toDevice(columnLeft() + tab.left + tab.margin, top,
                                  std::max(tab.width - 2 * tab.margin, 0.0), lineHeight());
    Qt::Alignment align = Qt::AlignLeft;
    switch (tab.justify) {
      case Justify::Center: align = Qt::AlignHCenter; break;
      case Justify::Right: align = Qt::AlignRight; break;
      // One line of a cell has nothing to spread over: block text sits at the left like left text.
      case Justify::Left:
      case Justify::Block: align = Qt::AlignLeft; break;
    }
    drawRuns(inner, align, text);
  }
  x_ = tab.left + tab.width;
}

void PageWriter::print(const QString& text) {
  placeLine();
  const QStringList parts = text.split(QLatin1Char('\t'));
  drawLooseText(parts.front());
  for (qsizetype i = 1; i < parts.size(); ++i) {
    if (tab_ + 1 < static_cast<int>(tabs_.size())) {
      ++tab_;
      drawCell(tabs_[static_cast<std::size_t>(tab_)], parts[i]);
    } else {
      // A TAB past the last column goes nowhere; what follows it is written at the cursor.
      drawLooseText(parts[i]);
    }
  }
  if (afterText) afterText();
}

void PageWriter::printLine(const QString& text) {
  print(text);
  ++line_;
  lineTop_ += lineHeight();
  x_ = 0;
  tab_ = -1;
}

void beginTitledPage(PageWriter& w, const QString& face, double margin, const QString& title) {
  w.setSectionTop(0.5);
  w.setSectionBottom(w.paper().height() - 0.5);
  w.home();
  w.setFont(face, 16);
  w.setBold(true);
  w.clearTabs();
  w.setTab(margin, PageWriter::Justify::Center, w.paper().width() - 2 * margin, 0, PageWriter::FrameNone, 0);
  w.printLine(QLatin1Char('\t') + title);
  w.setFont(face, 10);
  w.setBold(false);
}

}  // namespace report
