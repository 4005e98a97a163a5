// The editable selector: only the total and the cell numbers reach a query; any other text,
// typed or found in an empty row key, leaves the view as it is, quietly.
#include <QLineEdit>
#include <QPalette>

#include "HistoryStation.h"
#include "toolkit/Colors.h"

namespace {

using Points = QList<QPointF>;

class SelectorBox : public HistoryStation {
 protected:
  void SetUp() override {
    store(3, {{0, 50, {{1, 2.01}, {7, 2.07}, {12, 2.12}}}});
    form.SpinEdit2->setValue(3);
    doubleClickRow(form.ValueListEditor1, 2);  // cell 7
    ASSERT_TRUE(viewShown());
    shownTitle = form.DBChart1->title();
    curveQueries.clear();
  }

  void type(const QString& text) { QTest::keyClicks(form.ComboBox1->lineEdit(), text); }
  void clearText() {
    form.ComboBox1->lineEdit()->selectAll();
    QTest::keyClick(form.ComboBox1->lineEdit(), Qt::Key_Backspace);
  }
  bool markedRed() const {
    return form.ComboBox1->lineEdit()->palette().color(QPalette::Text) == toolkit::clRed();
  }
  void expectUnchanged() {
    EXPECT_TRUE(curveQueries.isEmpty()) << curveQueries.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(form.DBChart1->title(), shownTitle);
    EXPECT_EQ(form.DBChart1->seriesPoints(), (Points{{0, 2.07}}));
    EXPECT_TRUE(viewShown());
  }

  QString shownTitle;
};

TEST_F(SelectorBox, TextThatNamesNoCurveIsMarkedAndNeverQueried) {
  EXPECT_FALSE(markedRed());
  clearText();
  EXPECT_EQ(form.ComboBox1->currentText(), QString());
  EXPECT_TRUE(markedRed());
  expectUnchanged();

  // Typed key by key (no prefix of these is a cell number), and pasted whole.
  for (const char* text : {"abc", "0", "00", "x7"}) {
    clearText();
    type(QString::fromUtf8(text));
    EXPECT_EQ(form.ComboBox1->currentText(), QString::fromUtf8(text));
    EXPECT_TRUE(markedRed()) << text;
    expectUnchanged();
  }
  for (const char* text : {"109", "007", "7 or 1=1", "7,measureTime from setting --"}) {
    clearText();
    form.ComboBox1->lineEdit()->insert(QString::fromUtf8(text));
    EXPECT_EQ(form.ComboBox1->currentText(), QString::fromUtf8(text));
    EXPECT_TRUE(markedRed()) << text;
    expectUnchanged();
  }
  // Enter neither adds the text to the list nor opens anything.
  QTest::keyClick(form.ComboBox1->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(form.ComboBox1->count(), 109);
  expectUnchanged();
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(SelectorBox, AUnitChangeUnderTypedTextRedrawsTheLastCurveForTheNewUnit) {
  store(2, {{0, 50, {{7, 2.27}}}});
  clearText();
  type(QStringLiteral("abc"));
  ASSERT_TRUE(markedRed());
  form.SpinEdit2->setValue(2);
  // Never the old unit's curve under the new unit's number: cell 7 of unit 2, named again.
  EXPECT_EQ(curveQueries, QStringList{QStringLiteral("select V7,measureTime from measure2")});
  EXPECT_EQ(form.DBChart1->seriesPoints(), (Points{{0, 2.27}}));
  EXPECT_EQ(form.ComboBox1->currentText(), QStringLiteral("7"));
  EXPECT_FALSE(markedRed());
  EXPECT_TRUE(form.DBChart1->title().startsWith(QStringLiteral("第2台"))) << form.DBChart1->title().toStdString();
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(SelectorBox, TheListFollowsTypedText) {
  clearText();
  type(QStringLiteral("57"));
  EXPECT_EQ(form.ComboBox1->currentText(), QStringLiteral("57"));
  EXPECT_EQ(form.ComboBox1->currentIndex(), form.ComboBox1->findText(QStringLiteral("57")));
  // Down goes on from the typed cell, not from the entry chosen before the typing.
  QTest::keyClick(form.ComboBox1, Qt::Key_Down);
  EXPECT_EQ(form.ComboBox1->currentText(), QStringLiteral("58"));
}

TEST_F(SelectorBox, OpeningFromTheTotalReplacesTypedText) {
  form.ComboBox1->setCurrentIndex(0);
  clearText();
  type(QStringLiteral("abc"));
  ASSERT_EQ(form.ComboBox1->currentIndex(), 0);  // the total's entry, under the typed text
  doubleClick(form.measureV);
  EXPECT_EQ(form.ComboBox1->currentText(), QStringLiteral("总电压"));
  EXPECT_FALSE(markedRed());
  EXPECT_TRUE(form.DBChart1->title().contains(QStringLiteral("第总电压节截止")));
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(SelectorBox, TypingACellNumberDrawsItAndClearsTheMark) {
  clearText();
  type(QStringLiteral("12"));
  // "1" on the way to "12" is a cell number of its own and is drawn in passing.
  EXPECT_EQ(curveQueries, (QStringList{QStringLiteral("select V1,measureTime from measure3"),
                                       QStringLiteral("select V12,measureTime from measure3")}));
  EXPECT_FALSE(markedRed());
  EXPECT_EQ(form.ComboBox1->currentText(), QStringLiteral("12"));
  EXPECT_EQ(form.DBChart1->seriesPoints(), (Points{{0, 2.12}}));
  EXPECT_TRUE(form.DBChart1->title().contains(QStringLiteral("第12节截止")));
  EXPECT_TRUE(boxes.boxes.empty());
}

// The window without a database: the row keys stay empty.
class WithoutKeys : public HistoryStation {
 protected:
  WithoutKeys() : HistoryStation(false) {}
};

TEST_F(WithoutKeys, EmptyRowKeyOpensNothing) {
  ASSERT_EQ(form.ValueListEditor1->key(2), QString());
  boxes.clear();
  doubleClickRow(form.ValueListEditor1, 2);
  doubleClickTitleRow(form.ValueListEditor3);
  EXPECT_TRUE(boxes.boxes.empty());
  EXPECT_TRUE(curveQueries.isEmpty());
  EXPECT_TRUE(viewHidden());
  EXPECT_TRUE(form.history->stamp().isEmpty());
  EXPECT_EQ(form.ComboBox1->currentText(), QStringLiteral("总电压"));
}

}  // namespace
