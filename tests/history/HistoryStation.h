#pragma once
// The real window, shown offscreen, in a temporary station folder with a real db1.mdb of five
// units; sample rows are written with the station's own statements. Every curve statement the
// window sends is recorded.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <initializer_list>

#include "app/Unit1.h"
#include "history/core/ViewTexts.h"
#include "store/core/Statements.h"
#include "support/StationFolder.h"
#include "toolkit/ArrowSpinBox.h"
#include "toolkit/KeyValueGrid.h"
#include "toolkit/QueryChart.h"

struct Sample {
  double time;
  double total;
  /// (cell, volts) pairs; other cells read 0.
  std::initializer_list<std::pair<int, double>> cells;
};

class HistoryStation : public ::testing::Test {
 protected:
  using Kind = toolkit::MessageBoxes::Kind;

  explicit HistoryStation(bool withDatabase = true) {
    if (withDatabase) folder.makeDatabase(QStringLiteral("5"), 5);
    form.show();
    form.ADOConnection1.setStatementObserver([this](const QString& s) {
      if (s.startsWith(QStringLiteral("select V"))) curveQueries << s;
    });
  }

  /// Creates unit's sample table (if missing) and stores the samples in the order given.
  void store(int unit, std::initializer_list<Sample> samples) {
    if (!form.store.tableExists(store::sampleTableName(unit))) form.ADOConnection1.Execute(store::createTable(unit));
    for (const Sample& s : samples) {
      acquisition::CellRow cells;
      for (const auto& [k, v] : s.cells) cells[k] = v;
      form.ADOConnection1.Execute(store::insertSample(unit, cells, s.total, s.time));
    }
  }

  void doubleClickRow(toolkit::KeyValueGrid* grid, int row) {
    const QPoint at = grid->visualRect(grid->model()->index(row - 1, 0)).center();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, at);
  }
  void doubleClickTitleRow(toolkit::KeyValueGrid* grid) {
    QTest::mouseDClick(grid->horizontalHeader()->viewport(), Qt::LeftButton, {}, QPoint(20, 10));
  }
  void doubleClick(QWidget* w) { QTest::mouseDClick(w, Qt::LeftButton, {}, QPoint(3, 3)); }

  /// Title expected for an opening made between `before` and now.
  void expectTitle(int unit, const QString& selector, const QString& before) {
    const QString after = history::historyStamp(QDateTime::currentDateTime());
    const QString stamp = form.history->stamp();
    EXPECT_TRUE(stamp == before || stamp == after) << stamp.toStdString();
    EXPECT_EQ(form.DBChart1->title(), history::chartTitle(unit, selector, stamp));
  }
  QString now() const { return history::historyStamp(QDateTime::currentDateTime()); }

  bool viewShown() const { return form.DBChart1->isVisible() && form.Panel3->isVisible(); }
  bool viewHidden() const { return form.DBChart1->isHidden() && form.Panel3->isHidden(); }

  StationFolder folder;
  toolkit::RecordingMessageBoxes boxes;
  TForm1 form{boxes};
  QStringList curveQueries;
};
