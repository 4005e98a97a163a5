// The history view on the real window: opening from the tables, the total and the selector,
// following the selected unit, the back button, and failures of the database.
#include <QFontMetrics>
#include <QPointF>

#include "HistoryStation.h"
#include "acquisition/polling/StationDb.h"

namespace {

using Points = QList<QPointF>;

class HistoryView : public HistoryStation {};

TEST_F(HistoryView, AnotherProgramsTableInReverseOrderWithANullIsDrawnLeftToRightWithAGap) {
  // A plain table of the station's layout made by another program, filled newest first at times
  // off the station's steps (so it stays a plain table and its rows come back in the order they
  // were written), one of whose values is NULL.
  QStringList columns;
  for (int k = 1; k <= acquisition::kCells; ++k) columns << QStringLiteral("V%1 double").arg(k);
  StationDb other(folder.file(QStringLiteral("db1.mdb")));
  other.exec(QStringLiteral("create table measure5 (%1, V double, measureTime double)").arg(columns.join(QLatin1Char(','))));
  const std::pair<double, const char*> rows[] = {{0.13, "2.4"}, {0.09, "2.3"}, {0.07, "NULL"}, {0.01, "2.1"}};
  for (const auto& [time, volts] : rows)
    other.exec(QStringLiteral("insert into measure5 (V7, V, measureTime) values (%1, 50, %2)")
                   .arg(QString::fromLatin1(volts))
                   .arg(time));
  form.SpinEdit2->setValue(5);
  doubleClickRow(form.ValueListEditor1, 2);
  ASSERT_TRUE(boxes.boxes.empty()) << boxes.texts(Kind::Error).join('\n').toStdString();
  // No false drop to 0 V: the NULL breaks the line into two runs, each left to right.
  EXPECT_EQ(form.DBChart1->seriesPoints(), (Points{{0.01, 2.1}, {0.09, 2.3}, {0.13, 2.4}}));
  EXPECT_EQ(form.DBChart1->seriesCount(), 2);
}

TEST_F(HistoryView, RowSevenOfUnitThreeDrawsCellSevenOfMeasureThree) {
  // Stored out of time order: the curve still runs left to right.
  store(3, {{0.1, 50, {{7, 2.3}, {8, 9}}},
            {0, 51, {{7, 2.1}, {8, 9}}},
            {0.15, 52, {{7, 2.4}, {8, 9}}},
            {0.05, 53, {{7, 2.2}, {8, 9}}}});
  form.SpinEdit2->setValue(3);
  const QString before = now();
  doubleClickRow(form.ValueListEditor1, 2);

  EXPECT_TRUE(boxes.boxes.empty());
  EXPECT_EQ(curveQueries, QStringList{QStringLiteral("select V7,measureTime from measure3")});
  EXPECT_EQ(form.ADOQuery2.SQL(), QStringLiteral("select V7,measureTime from measure3"));
  EXPECT_TRUE(form.ADOQuery2.Active());
  EXPECT_EQ(form.ComboBox1->currentText(), QStringLiteral("7"));
  EXPECT_EQ(form.Label7->text(), QStringLiteral("第3台检测仪的第         节历史曲线"));
  expectTitle(3, QStringLiteral("7"), before);
  EXPECT_EQ(form.DBChart1->leftAxis().max, 16);
  EXPECT_EQ(form.DBChart1->leftAxis().min, 0);
  EXPECT_EQ(form.DBChart1->seriesPoints(), (Points{{0, 2.1}, {0.05, 2.2}, {0.1, 2.3}, {0.15, 2.4}}));
  EXPECT_EQ(form.DBChart1->seriesColor(), QColor(255, 0, 0));
  EXPECT_EQ(form.DBChart1->seriesPenWidth(), 1);
  EXPECT_FALSE(form.DBChart1->seriesMarkersVisible());
  EXPECT_TRUE(viewShown());
  EXPECT_TRUE(form.DBChart1->isEnabled());
  // The bar lies over the tables, its selector over the caption's blanks: the words before
  // and after the run stay clear of it.
  const QFontMetrics m(form.Label7->font());
  const int x = form.Label7->x() + form.Label7->contentsRect().left();
  EXPECT_LE(x + m.horizontalAdvance(QStringLiteral("第3台检测仪的第")), form.ComboBox1->x());
  EXPECT_GT(x + m.horizontalAdvance(QStringLiteral("第3台检测仪的第         ")), form.ComboBox1->geometry().right());
  EXPECT_EQ(form.Panel3->geometry(), QRect(0, 48, 753, 40));
  EXPECT_EQ(form.DBChart1->geometry(), QRect(0, 88, 753, 437));
}

TEST_F(HistoryView, ChartStartsHiddenAndDisabledOnFixedAxes) {
  toolkit::QueryChart& chart = *form.DBChart1;
  EXPECT_TRUE(chart.isHidden());
  EXPECT_FALSE(chart.isEnabled());
  EXPECT_EQ(chart.seriesCount(), 0);
  EXPECT_FALSE(chart.legendVisible());
  const auto bottom = chart.bottomAxis();
  EXPECT_EQ(bottom.min, 0);
  EXPECT_EQ(bottom.max, 24);
  EXPECT_EQ(bottom.title, QStringLiteral("小时"));
  EXPECT_TRUE(bottom.titleFont.bold());
  EXPECT_EQ(bottom.titleFont.pixelSize(), 13);
  EXPECT_EQ(bottom.titleFont.families().value(0), QStringLiteral("Arial"));
  EXPECT_EQ(bottom.titleColor, QColor(Qt::black));
  const auto left = chart.leftAxis();
  EXPECT_EQ(left.title, QStringLiteral(" V"));
  EXPECT_TRUE(left.titleHorizontal);
  EXPECT_TRUE(left.titleFont.bold());
  EXPECT_EQ(left.titleFont.pixelSize(), 16);
}

TEST_F(HistoryView, TitleRowUsesTheTablesSelectionFirstDataRowBeforeAnyClick) {
  store(1, {{0, 50, {{1, 2.11}, {6, 2.16}, {18, 2.18}}}});
  doubleClickTitleRow(form.ValueListEditor6);
  EXPECT_EQ(curveQueries.value(0), QStringLiteral("select V6,measureTime from measure1"));
  EXPECT_EQ(form.DBChart1->seriesPoints(), (Points{{0, 2.16}}));

  doubleClickTitleRow(form.ValueListEditor1);
  EXPECT_EQ(form.ComboBox1->currentText(), QStringLiteral("1"));

  // A row picked by a click stays the selection for the title row and below the last row.
  doubleClickRow(form.ValueListEditor6, 3);
  EXPECT_EQ(form.ComboBox1->currentText(), QStringLiteral("18"));
  form.ComboBox1->setCurrentIndex(0);
  doubleClickTitleRow(form.ValueListEditor6);
  EXPECT_EQ(form.ComboBox1->currentText(), QStringLiteral("18"));
  form.ComboBox1->setCurrentIndex(0);
  const int belowLastRow = form.ValueListEditor6->viewport()->height() - 3;
  ASSERT_GT(belowLastRow, 18 * 24);
  QTest::mouseDClick(form.ValueListEditor6->viewport(), Qt::LeftButton, {}, QPoint(20, belowLastRow));
  EXPECT_EQ(form.ComboBox1->currentText(), QStringLiteral("18"));
  EXPECT_EQ(form.DBChart1->seriesPoints(), (Points{{0, 2.18}}));
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(HistoryView, TotalIsDrawnOnZeroToThreeHundred) {
  store(1, {{0.05, 245.5, {}}, {0, 300, {}}});
  for (QWidget* w : {static_cast<QWidget*>(form.Label5), static_cast<QWidget*>(form.measureV)}) {
    curveQueries.clear();
    const QString before = now();
    doubleClick(w);
    EXPECT_EQ(curveQueries, QStringList{QStringLiteral("select V,measureTime from measure1")});
    EXPECT_EQ(form.DBChart1->leftAxis().max, 300);
    EXPECT_EQ(form.ComboBox1->currentText(), QStringLiteral("总电压"));
    expectTitle(1, QStringLiteral("总电压"), before);
    EXPECT_EQ(form.DBChart1->seriesPoints(), (Points{{0, 300}, {0.05, 245.5}}));
  }
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(HistoryView, PickingTwelveReplacesCellSevenAndRenewsTheStamp) {
  store(3, {{0, 50, {{7, 2.1}, {12, 2.31}}}, {0.05, 50, {{7, 2.2}, {12, 2.32}}}});
  form.SpinEdit2->setValue(3);
  doubleClickRow(form.ValueListEditor1, 2);
  curveQueries.clear();
  const QString before = now();
  form.ComboBox1->setCurrentIndex(form.ComboBox1->findText(QStringLiteral("12")));
  // One opening: the routine's own setting of the selector text does not call it again.
  EXPECT_EQ(curveQueries, QStringList{QStringLiteral("select V12,measureTime from measure3")});
  expectTitle(3, QStringLiteral("12"), before);
  EXPECT_EQ(form.DBChart1->seriesCount(), 1);
  EXPECT_EQ(form.DBChart1->seriesPoints(), (Points{{0, 2.31}, {0.05, 2.32}}));
  EXPECT_EQ(form.DBChart1->leftAxis().max, 16);
}

TEST_F(HistoryView, ChangingTheUnitRedrawsOnlyWhileTheViewIsShown) {
  store(3, {{0, 101, {}}});
  store(4, {{0, 102, {}}});
  store(5, {{0, 103, {}}});
  form.SpinEdit2->setValue(3);
  doubleClick(form.measureV);
  curveQueries.clear();
  form.SpinEdit2->setValue(4);
  EXPECT_EQ(curveQueries, QStringList{QStringLiteral("select V,measureTime from measure4")});
  EXPECT_EQ(form.DBChart1->seriesPoints(), (Points{{0, 102}}));
  EXPECT_TRUE(form.DBChart1->title().startsWith(QStringLiteral("第4台检测仪的第总电压节截止")));
  EXPECT_EQ(form.Label7->text(), QStringLiteral("第4台检测仪的第         节历史曲线"));

  // The back button hides the chart, then the bar; the rest stays for the next opening.
  const QString title = form.DBChart1->title();
  const QString stamp = form.history->stamp();
  QTest::mouseClick(form.SpeedButton3, Qt::LeftButton);
  EXPECT_TRUE(viewHidden());
  EXPECT_TRUE(form.DBChart1->isEnabled());
  EXPECT_EQ(form.DBChart1->seriesCount(), 1);
  EXPECT_TRUE(form.ADOQuery2.Active());

  curveQueries.clear();
  form.SpinEdit2->setValue(5);
  EXPECT_TRUE(curveQueries.isEmpty());
  EXPECT_EQ(form.DBChart1->title(), title);
  EXPECT_EQ(form.history->stamp(), stamp);
  EXPECT_EQ(form.DBChart1->seriesPoints(), (Points{{0, 102}}));
  EXPECT_TRUE(viewHidden());
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(HistoryView, EmptyTableShowsAxesAndTitleWithoutACurve) {
  store(2, {});
  form.SpinEdit2->setValue(2);
  const QString before = now();
  doubleClick(form.measureV);
  EXPECT_TRUE(boxes.boxes.empty());
  EXPECT_TRUE(viewShown());
  expectTitle(2, QStringLiteral("总电压"), before);
  EXPECT_EQ(form.DBChart1->leftAxis().max, 300);
  EXPECT_TRUE(form.DBChart1->seriesPoints().isEmpty());
}

TEST_F(HistoryView, OpeningsReplaceTheSeriesNeverAddOne) {
  store(1, {{0, 50, {{1, 2.0}}}});
  doubleClick(form.measureV);
  doubleClick(form.measureV);
  EXPECT_EQ(form.DBChart1->seriesCount(), 1);
  form.SpeedButton3Click();
  doubleClickRow(form.ValueListEditor1, 1);
  EXPECT_EQ(form.DBChart1->seriesCount(), 1);
  EXPECT_EQ(form.DBChart1->seriesPoints(), (Points{{0, 2.0}}));
}

TEST_F(HistoryView, AUnitWithoutATableYetIsSaidInWordsAndStopsAtTheQuery) {
  store(1, {{0, 50, {}}});
  // A first opening on a unit without samples: the view stays hidden and disabled.
  form.SpinEdit2->setValue(4);
  const QString before = now();
  doubleClick(form.measureV);
  EXPECT_EQ(boxes.texts(Kind::Error), QStringList{QStringLiteral("第4台尚无存储数据（首次采样在开始巡检3分钟后）")});
  EXPECT_TRUE(viewHidden());
  EXPECT_FALSE(form.DBChart1->isEnabled());
  EXPECT_EQ(form.DBChart1->seriesCount(), 0);
  // The steps before the query stand.
  expectTitle(4, QStringLiteral("总电压"), before);
  EXPECT_EQ(form.Label7->text(), QStringLiteral("第4台检测仪的第         节历史曲线"));
  EXPECT_EQ(form.ADOQuery2.SQL(), QStringLiteral("select V,measureTime from measure4"));
  EXPECT_FALSE(form.ADOQuery2.Active());

  // Shown, then moved to the unit without samples: shown with the new title and no curve.
  boxes.clear();
  form.SpinEdit2->setValue(1);
  doubleClick(form.measureV);
  ASSERT_TRUE(viewShown());
  EXPECT_EQ(form.DBChart1->seriesPoints(), (Points{{0, 50}}));
  form.SpinEdit2->setValue(4);
  EXPECT_EQ(boxes.texts(Kind::Error), QStringList{QStringLiteral("第4台尚无存储数据（首次采样在开始巡检3分钟后）")});
  EXPECT_TRUE(viewShown());
  EXPECT_EQ(form.DBChart1->seriesCount(), 0);
  EXPECT_TRUE(form.DBChart1->title().startsWith(QStringLiteral("第4台")));

  // The next opening works as usual.
  boxes.clear();
  form.SpinEdit2->setValue(1);
  EXPECT_TRUE(boxes.boxes.empty());
  EXPECT_EQ(form.DBChart1->seriesPoints(), (Points{{0, 50}}));
}

}  // namespace
