#pragma once
// The report page writer: lays text out in lines and tab columns on a paper page, in inches,
// over a QPainter. The same writer draws on a printer, a PDF writer or a recorded page, because
// every position is converted with the resolution of the device the painter is on.
//
// Layout model: a section is the band between the section top and bottom (inches from the
// paper's top edge) and the paper's left and right edges. Lines are counted from the section top;
// a line is font size / 60 inches high (0.2 in at 12 pt). Text written with print() goes to the
// cursor; each TAB in it moves to the next tab column, whose cell is shaded, framed and given
// the text up to the next TAB.
#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPen>
#include <QSizeF>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

namespace report {

class PageWriter {
 public:
  enum class Justify { Center, Left, Right, Block };
  enum Frame : unsigned { FrameNone = 0, FrameLeft = 1, FrameRight = 2, FrameTop = 4, FrameBottom = 8, FrameAll = 15 };

  struct Tab {
    double left = 0;   ///< inches from the paper's left edge
    double width = 0;  ///< inches
    Justify justify = Justify::Left;
    double margin = 0;  ///< inner margin, inches
    unsigned frames = FrameNone;
    int shade = 0;  ///< own shade in per cent; 0 takes the writer's tab shade
  };

  /// `painter` must be active on the page's device for every call that draws. `paperInches` is
  /// the paper's size; the painter's origin is the paper's top-left corner.
  PageWriter(QPainter& painter, QSizeF paperInches);

  /// Called when a line would end below the section bottom of the last column: the owner starts
  /// a new page on the device (the painter may be ended and begun again on another device).
  std::function<void()> onNewPage;
  /// Called after every text written, so the owner can show progress and let events run. It
  /// may throw to abandon the page.
  std::function<void()> afterText;

  void setSectionTop(double inches);
  void setSectionBottom(double inches);
  void clearTabs();
  /// The bottom of the current line becomes the section top; the line count starts again, so
  /// home() goes to the line just below.
  void sectionTopToCurrentLine();
  /// Cursor to line 1 of the section, at the left edge, before the first tab.
  void home();
  /// Sets name and size and turns bold, italic, underline and strike-out off.
  void setFont(const QString& name, double points);
  void setBold(bool on);
  void setItalic(bool on);
  /// The pen of the cell frames; the width is in device pixels.
  void setPen(const QColor& color, Qt::PenStyle style, int width, QPainter::CompositionMode mode);
  /// Appends a tab column; no position places it directly after the previous tab (or at the
  /// left edge for the first).
  void setTab(std::optional<double> left, Justify justify, double width, double margin, unsigned frames,
              int shade);
  /// Text columns across the section, `gap` inches apart; lines flow into the next column before
  /// a new page is started. Tab positions are taken relative to the current column.
  void setColumns(int count, double gap);
  /// Shade for cells without their own, clamped to 0..100.
  void setTabShade(int percent);
  void print(const QString& text);
  void printLine(const QString& text);

  // State, for the owner and for tests.
  double sectionTop() const { return sectionTop_; }
  double sectionBottom() const { return sectionBottom_; }
  int line() const { return line_; }
  double lineTop() const { return lineTop_; }
  double lineHeight() const { return font_.pointSizeF() / 60.0; }
  int tabShade() const { return tabShade_; }
  const std::vector<Tab>& tabs() const { return tabs_; }
  int page() const { return page_; }
  int column() const { return column_; }
  const QFont& font() const { return font_; }
  /// For owners that draw beside the text (curves): the painter and the paper, in inches.
  QPainter& painter() const { return painter_; }
  QSizeF paper() const { return paper_; }

  /// The fill for a shade of `percent` of `base`: each component c becomes
  /// c + (100 - percent) * (255 - c) / 100 in integer arithmetic (15 % of black is 216).
  static QColor shadeColor(const QColor& base, int percent);
  /// The face used for glyphs the named face lacks (the Chinese texts).
  static QString fallbackFamily();

 private:
  // Moves to line 1 when nothing has been written in the section yet, and to the next column or
  // page when the line would end below the section bottom.
  void placeLine();
  double columnLeft() const;
  double columnWidth() const;
  QRectF toDevice(double x, double y, double w, double h) const;
  void drawLooseText(const QString& text);
  void drawCell(const Tab& tab, const QString& text);
  struct Run {
    QFont font;
    QString text;
    double width;  // device pixels
  };
  std::vector<Run> runs(const QString& text) const;
  // Writes the text on the line's baseline within the box; returns its width in device pixels.
  double drawRuns(const QRectF& box, Qt::Alignment align, const QString& text);

  QPainter& painter_;
  QSizeF paper_;
  double sectionTop_ = 0;
  double sectionBottom_;
  // Top of the current line, inches from the paper's top edge; a line is as high as the font
  // it is written in, so a larger font grows the line downwards.
  double lineTop_ = 0;
  int line_ = 0;  // 0: nothing placed in the section yet; the next text goes to line 1
  double x_ = 0;              // cursor, inches from the current column's left edge
  int tab_ = -1;              // current tab column; -1 before the first
  std::vector<Tab> tabs_;
  int tabShade_ = 0;
  int columns_ = 1;
  double columnGap_ = 0;
  int column_ = 0;
  int page_ = 1;
  QFont font_;
  QPen pen_;
  QPainter::CompositionMode penMode_ = QPainter::CompositionMode_SourceOver;
  QColor tabColor_ = Qt::black;
};

/// Starts a one-section page the way the station's own reports do: the section half an inch
/// inside the paper, `title` centred in 16 pt bold between `margin` inches either side, then
/// 10 pt plain in `face` for what follows.
void beginTitledPage(PageWriter& w, const QString& face, double margin, const QString& title);

}  // namespace report
