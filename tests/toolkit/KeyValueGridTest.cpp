#include <gtest/gtest.h>

#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>

#include "toolkit/KeyValueGrid.h"

namespace {

TEST(KeyValueGrid, SetValueFindsTheFirstRowWithTheKey) {
  toolkit::KeyValueGrid grid("k", "v", 3);
  grid.setKey(1, "1");
  grid.setKey(2, "7");
  grid.setKey(3, "7");
  grid.setValue("7", "2.34");
  EXPECT_EQ(grid.valueAt(2), "2.34");
  EXPECT_EQ(grid.valueAt(3), "");
  EXPECT_EQ(grid.value("7"), "2.34");
  EXPECT_EQ(grid.dataRowCount(), 3);
}

TEST(KeyValueGrid, MissingKeyTakesTheFirstEmptyRowThenANewRow) {
  toolkit::KeyValueGrid grid("k", "v", 2);
  grid.setValue("1", "a");
  grid.setValue("7", "b");
  grid.setValue("13", "c");
  EXPECT_EQ(grid.key(1), "1");
  EXPECT_EQ(grid.key(2), "7");
  ASSERT_EQ(grid.dataRowCount(), 3);
  EXPECT_EQ(grid.key(3), "13");
  EXPECT_EQ(grid.valueAt(3), "c");
  // Later calls update those rows rather than adding more.
  grid.setValue("13", "d");
  EXPECT_EQ(grid.dataRowCount(), 3);
  EXPECT_EQ(grid.valueAt(3), "d");
}

TEST(KeyValueGrid, OutOfRangeRowsAreIgnored) {
  toolkit::KeyValueGrid grid("k", "v", 2);
  grid.setKey(0, "x");
  grid.setKey(3, "x");
  EXPECT_EQ(grid.key(0), "");
  EXPECT_EQ(grid.key(3), "");
  EXPECT_EQ(grid.valueAt(-1), "");
}

TEST(KeyValueGrid, LayoutAndBehaviour) {
  toolkit::KeyValueGrid grid("      序号", "    电压V", 18);
  EXPECT_EQ(grid.columnCount(), 2);
  EXPECT_EQ(grid.horizontalHeaderItem(0)->text(), "      序号");
  EXPECT_EQ(grid.horizontalHeaderItem(1)->text(), "    电压V");
  EXPECT_EQ(grid.columnWidth(0), 62);
  EXPECT_EQ(grid.columnWidth(1), 61);
  for (int r = 0; r < 18; ++r) EXPECT_EQ(grid.rowHeight(r), 24);
  EXPECT_EQ(grid.horizontalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
  EXPECT_EQ(grid.editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_EQ(grid.selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_TRUE(grid.showGrid());
  EXPECT_EQ(grid.selectedRow(), 0);
  EXPECT_EQ(grid.selectedKey(), "");
}

TEST(KeyValueGrid, DoubleClickSelectsTheRowUnderThePointerThenReports) {
  toolkit::KeyValueGrid grid("k", "v", 18);
  grid.resize(129, 478);
  for (int r = 1; r <= 18; ++r) grid.setKey(r, QString::number(6 * (r - 1) + 1));
  grid.show();
  QSignalSpy spy(&grid, &toolkit::KeyValueGrid::dblClick);
  QString keyAtSignal;
  QObject::connect(&grid, &toolkit::KeyValueGrid::dblClick, [&] { keyAtSignal = grid.selectedKey(); });

  const QRect row3 = grid.visualRect(grid.model()->index(2, 0));
  QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, row3.center());
  QTest::mouseDClick(grid.viewport(), Qt::LeftButton, {}, row3.center());
  EXPECT_GE(spy.count(), 1);
  EXPECT_EQ(keyAtSignal, "13");
}

// A double click on the blank strip under row 18, delivered through the window as the
// platform delivers it (press, release, press, release): the table reports it with the row
// it had selected, and still has that row afterwards.
TEST(KeyValueGrid, DoubleClickBelowTheLastRowKeepsTheSelectedRow) {
  toolkit::KeyValueGrid grid("k", "v", 18);
  grid.resize(129, 478);
  for (int r = 1; r <= 18; ++r) grid.setKey(r, QString::number(6 * (r - 1) + 1));
  grid.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));
  QWindow* window = grid.windowHandle();
  auto inWindow = [&](QPoint viewportPoint) { return grid.viewport()->mapTo(&grid, viewportPoint); };

  QTest::mouseClick(window, Qt::LeftButton, {}, inWindow(grid.visualRect(grid.model()->index(4, 0)).center()));
  ASSERT_EQ(grid.selectedKey(), "25");

  QStringList keysAtSignal;
  QObject::connect(&grid, &toolkit::KeyValueGrid::dblClick, [&] { keysAtSignal << grid.selectedKey(); });
  const QPoint blank(30, grid.visualRect(grid.model()->index(17, 0)).bottom() + 8);
  ASSERT_LT(blank.y(), grid.viewport()->height()) << "no blank strip under row 18";
  ASSERT_FALSE(grid.indexAt(blank).isValid());
  QTest::mouseDClick(window, Qt::LeftButton, {}, inWindow(blank));
  EXPECT_EQ(keysAtSignal, QStringList{"25"});
  EXPECT_EQ(grid.selectedRow(), 5);
}

}  // namespace
