#include "history/HistoryView.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QFontInfo>
#include <QFrame>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QSignalBlocker>
#include <stdexcept>

#include "history/core/ViewTexts.h"
#include "store/StationStore.h"
#include "store/core/Statements.h"
#include "toolkit/AutoSizeLabel.h"
#include "toolkit/Colors.h"
#include "toolkit/Fonts.h"
#include "toolkit/QueryChart.h"

namespace history {

namespace {

QFrame* bar(QWidget* window) {
  auto* f = new QFrame(window);
  f->setFrameStyle(QFrame::Panel | QFrame::Raised);
  f->setLineWidth(1);
  f->setGeometry(0, 48, 753, 40);
  // Opaque: the bar is laid over the cell tables.
  toolkit::setPanelColor(f, toolkit::clBtnFace());
  return f;
}

QPushButton* backButton(QWidget* parent) {
  auto* b = new QPushButton(QStringLiteral("返回"), parent);
  b->setFlat(true);
  b->setGeometry(680, 8, 57, 22);
  b->setFocusPolicy(Qt::NoFocus);
  return b;
}

}  // namespace

HistoryView::HistoryView(QWidget* window, store::StationStore& store, std::function<int()> shownUnit)
    : QObject(window),
      Panel3(bar(window)),
      Label7(toolkit::fixedLabel(Panel3, 22, 14, QString(), toolkit::songFont(14, true))),
      ComboBox1(new QComboBox(Panel3)),
      SpeedButton3(backButton(Panel3)),
      DBChart1(new toolkit::QueryChart(window)),
      store_(store),
      shownUnit_(std::move(shownUnit)) {
  ComboBox1->setEditable(true);
  // Typed text selects a curve; it never becomes an entry of the list.
  ComboBox1->setInsertPolicy(QComboBox::NoInsert);
  ComboBox1->setGeometry(138, 10, 65, 21);
  ComboBox1->addItem(totalText());
  for (int k = 1; k <= acquisition::kCells; ++k) ComboBox1->addItem(QString::number(k));
  ComboBox1->setCurrentIndex(0);
  ComboBox1->setEditText(totalText());
  // ComboBox1 covers the caption's run of nine blanks, laid out for 宋体 in bold: half-width
  // blanks and one pixel more per character for the emboldening. The serif stand-in's blank is
  // a quarter of that, and the words after the run would hide under the box; a monospaced
  // stand-in with the extra pixel keeps 宋体's measures.
  if (!toolkit::isSongFace(QFontInfo(Label7->font()).family())) {
    QFont f = Label7->font();
    f.setFamilies({QStringLiteral("Noto Sans Mono CJK SC"), QStringLiteral("Noto Serif CJK SC")});
    f.setLetterSpacing(QFont::AbsoluteSpacing, 1);
    Label7->setFont(f);
  }
  Panel3->hide();

  DBChart1->setGeometry(0, 88, 753, 437);
  DBChart1->hide();
  DBChart1->setEnabled(false);
}

bool HistoryView::isShown() const { return DBChart1->isVisible(); }

void HistoryView::markSelector(bool namesCurve) {
  // Red text while the box names no curve; a quiet mark, since the text may be half typed.
  QLineEdit* edit = ComboBox1->lineEdit();
  if (!edit) return;
  QPalette p = edit->palette();
  p.setColor(QPalette::Text, namesCurve ? QApplication::palette(edit).color(QPalette::Text) : toolkit::clRed());
  edit->setPalette(p);
}

void HistoryView::show(const QString& S) {
  // Only the total and the cell numbers 1..108 name a curve; no statement is built from any
  // other text.
  const std::optional<Selector> selector = parseSelector(S);
  if (!selector) return;
  const int N = shownUnit_();

  DBChart1->clearSeries();
  stamp_ = historyStamp(QDateTime::currentDateTime());
  Label7->setText(captionText(N));
  {
    // The view's own change of the text is no edit by the operator.
    const QSignalBlocker quiet(ComboBox1);
    // The list's entry follows the text, so the open list and the arrow keys go on from the
    // curve on show, typed or chosen.
    const int entry = ComboBox1->findText(S, Qt::MatchExactly);
    if (entry >= 0 && entry != ComboBox1->currentIndex()) ComboBox1->setCurrentIndex(entry);
    if (ComboBox1->currentText() != S) ComboBox1->setEditText(S);
    markSelector(true);
  }
  lastOpened_ = S;
  if (drawOther && drawOther(N, *selector)) {
    DBChart1->setEnabled(true);
    DBChart1->show();
    Panel3->show();
    emit curveShown();
    return;
  }
  DBChart1->setTitleLine(chartTitle(N, ComboBox1->currentText(), stamp_));
  DBChart1->setValueMaximum(selector->axisMaximum());
  store_.ADOQuery2.setSQL(selector->curveStatement(N));
  // A unit whose first sampling run has not come yet has no table: the operator is told so in
  // words, not in the engine's.
  if (!store_.tableExists(store::sampleTableName(N)))
    throw std::runtime_error(
        QStringLiteral("第%1台尚无存储数据（首次采样在开始巡检3分钟后）").arg(N).toStdString());
  const std::vector<store::CurvePoint> rows = store_.curve(selector->curveStatement(N), selector->valueColumn());
  std::vector<toolkit::QueryChart::CurvePoint> points;
  points.reserve(rows.size());
  for (const store::CurvePoint& r : rows) points.push_back({r.hours, r.volts});
  DBChart1->setEnabled(true);
  DBChart1->showCurve(std::move(points));
  DBChart1->show();
  Panel3->show();
  emit curveShown();
}

void HistoryView::selectorEdited() {
  const QString text = ComboBox1->currentText();
  const bool namesCurve = parseSelector(text).has_value();
  markSelector(namesCurve);
  if (namesCurve) show(text);
}

void HistoryView::unitChanged() {
  if (isShown() && !lastOpened_.isEmpty()) show(lastOpened_);
}

void HistoryView::hide() {
  DBChart1->hide();
  Panel3->hide();
}

}  // namespace history
