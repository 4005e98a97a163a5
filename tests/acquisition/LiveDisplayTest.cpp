// The reply handler and the live display on the real window, offscreen.
#include <gtest/gtest.h>

#include <QDir>
#include <QFontMetrics>
#include <QLabel>
#include <QStringList>
#include <QTemporaryDir>

#include "ReplyFrames.h"
#include "app/Unit1.h"
#include "toolkit/ArrowSpinBox.h"
#include "toolkit/KeyValueGrid.h"
#include "toolkit/MessageBoxes.h"

namespace {

using testframes::Bytes;
using Kind = toolkit::MessageBoxes::Kind;

const QString kAbsent = QStringLiteral("-----------");

/// The window with its rows numbered as the start-up does when the settings load.
struct Station {
  toolkit::RecordingMessageBoxes boxes;
  TForm1 form{boxes};

  explicit Station(bool numbered = true) {
    if (numbered)
      for (int t = 1; t <= 6; ++t)
        for (int r = 1; r <= 18; ++r) form.cellTable(t)->setKey(r, QString::number(6 * (r - 1) + t));
  }

  void receive(const Bytes& block) {
    form.Comm1ReceiveData(nullptr, block.data(), static_cast<std::uint16_t>(block.size()));
  }

  /// The shown text of cell k, read from its place in the tables (table (k-1) mod 6 + 1,
  /// row (k-1) div 6 + 1), after checking the row carries the cell's key.
  QString cell(int k) const {
    const toolkit::KeyValueGrid* table = form.cellTable((k - 1) % 6 + 1);
    const int row = (k - 1) / 6 + 1;
    EXPECT_EQ(table->key(row), QString::number(k));
    return table->valueAt(row);
  }

  QStringList screen() const {
    QStringList texts;
    for (int k = 1; k <= 108; ++k) texts << cell(k);
    texts << form.measureV->text();
    return texts;
  }

  /// A decimal written with the window's separator ("2.34" -> "2,34" under a decimal comma).
  QString number(const char* text) const {
    return QString::fromLatin1(text).replace(QLatin1Char('.'), QLatin1Char(form.decimalSeparator()));
  }

  /// k hundredths as text, worked out from the digits alone: 108 -> "1.08", 10 -> "0.1".
  QString hundredths(int k) const {
    QString text = QString::number(k / 100);
    if (k % 100) {
      QString frac = QStringLiteral("%1").arg(k % 100, 2, 10, QLatin1Char('0'));
      if (frac.endsWith(QLatin1Char('0'))) frac.chop(1);
      text += QLatin1Char(form.decimalSeparator()) + frac;
    }
    return text;
  }
};

TEST(LiveDisplay, UnitThatNeverAnsweredShowsEveryCellAbsentAndZeroVolts) {
  Station s;
  s.form.ShowUnit(42);
  for (int k = 1; k <= 108; ++k) ASSERT_EQ(s.cell(k), kAbsent) << k;
  EXPECT_EQ(s.form.measureV->text(), QStringLiteral("0V  "));
}

TEST(LiveDisplay, TwoCellReplyOfTheShownUnitRedrawsAtOnce) {
  Station s;
  s.form.SpinEdit2->setValue(3);  // the operator selects unit 3: all absent so far
  EXPECT_EQ(s.cell(1), kAbsent);
  s.receive(testframes::kUnit3TwoCells);
  EXPECT_EQ(s.cell(1), s.number("2.34"));  // table 1, row 1
  EXPECT_EQ(s.cell(2), s.number("2.05"));  // table 2, row 1
  for (int k = 3; k <= 108; ++k) ASSERT_EQ(s.cell(k), kAbsent) << k;
  EXPECT_EQ(s.form.measureV->text(), QStringLiteral("245V  "));
  // The label grows with its text instead of cutting it to the width of the first blank.
  EXPECT_GE(s.form.measureV->width(), s.form.measureV->fontMetrics().horizontalAdvance(s.form.measureV->text()));
  EXPECT_TRUE(s.form.polling->ReplyReceived);
  EXPECT_TRUE(s.boxes.boxes.empty());
}

TEST(LiveDisplay, BadChecksumChangesNeitherCountNorScreen) {
  Station s;
  s.form.SpinEdit2->setValue(3);
  s.receive(testframes::kUnit3TwoCells);
  const QStringList shown = s.screen();
  // Memory moves on without a redraw, so a wrong redraw would show it.
  s.form.polling->tables.CellVoltage[3][1] = 9.99;
  s.form.polling->ReplyReceived = false;
  Bytes damaged = testframes::kUnit3TwoCells;
  damaged[15] = 0xD5;
  damaged[6] = 0x0B;  // now announces 3 cells, and the checksum is wrong for them too
  damaged.insert(damaged.end() - 1, {0x13, 0x00});
  s.receive(damaged);
  EXPECT_EQ(s.screen(), shown);
  EXPECT_EQ(s.form.polling->tables.CellCount[3], 2) << "a damaged frame changes no count";
  EXPECT_DOUBLE_EQ(s.form.polling->tables.CellVoltage[3][1], 9.99);
  EXPECT_DOUBLE_EQ(s.form.polling->tables.TotalVoltage[3], 245.0);
  EXPECT_TRUE(s.form.polling->ReplyReceived);
}

TEST(LiveDisplay, ReplyOfAnotherUnitShowsOnlyWhenThatUnitIsSelected) {
  Station s;
  s.form.SpinEdit2->setValue(5);
  const QStringList unit5 = s.screen();
  s.receive(testframes::cellsFrame(4, 0x32, 0x45, 24, 0x13, 0x79));  // 24 cells of 3.79 V
  EXPECT_EQ(s.screen(), unit5);
  EXPECT_EQ(s.form.polling->tables.CellCount[4], 24);
  EXPECT_TRUE(s.form.polling->ReplyReceived);

  s.form.SpinEdit2->setValue(4);  // through the spin box's change signal
  for (int k = 1; k <= 24; ++k) ASSERT_EQ(s.cell(k), s.number("3.79")) << k;
  for (int k = 25; k <= 108; ++k) ASSERT_EQ(s.cell(k), kAbsent) << k;
  EXPECT_EQ(s.form.measureV->text(), QStringLiteral("245V  "));
  EXPECT_TRUE(s.boxes.boxes.empty());
}

TEST(LiveDisplay, CountOf24FillsRowsOneToFourOfEveryTable) {
  Station s;
  s.form.polling->tables.CellCount[8] = 24;
  for (int k = 1; k <= 108; ++k) s.form.polling->tables.CellVoltage[8][k] = k / 100.0;
  s.form.polling->tables.TotalVoltage[8] = 23.95;
  s.form.ShowUnit(8);
  for (int t = 1; t <= 6; ++t)
    for (int r = 1; r <= 18; ++r) {
      const QString text = s.form.cellTable(t)->valueAt(r);
      if (r <= 4)
        EXPECT_EQ(text, s.hundredths(6 * (r - 1) + t)) << t << '/' << r;
      else
        EXPECT_EQ(text, kAbsent) << t << '/' << r;
    }
  EXPECT_EQ(s.form.measureV->text(), s.number("23.95") + QStringLiteral("V  "));
}

TEST(LiveDisplay, From108CellsTo100KeepsTheRestInMemoryButShowsThemAbsent) {
  Station s;
  s.form.SpinEdit2->setValue(12);
  s.receive(testframes::patternFrame(12, 0x32, 0x40, 108, 1));  // cell k = k/100 V
  for (int k = 1; k <= 108; ++k) ASSERT_EQ(s.cell(k), s.hundredths(k)) << k;
  EXPECT_EQ(s.form.measureV->text(), QStringLiteral("240V  "));

  s.receive(testframes::patternFrame(12, 0x32, 0x30, 100, 2));  // cell k = k/10 V
  for (int k = 1; k <= 100; ++k) ASSERT_EQ(s.cell(k), s.hundredths(10 * k)) << k;
  // Absent: row 17 of tables 5 and 6 (cells 101, 102) and row 18 of every table (103..108).
  for (int t = 1; t <= 6; ++t) {
    EXPECT_EQ(s.form.cellTable(t)->valueAt(17), t >= 5 ? kAbsent : s.hundredths(10 * (96 + t))) << t;
    EXPECT_EQ(s.form.cellTable(t)->valueAt(18), kAbsent) << t;
  }
  for (int k = 101; k <= 108; ++k) EXPECT_DOUBLE_EQ(s.form.polling->tables.CellVoltage[12][k], k / 100.0);
  EXPECT_EQ(s.form.measureV->text(), QStringLiteral("230V  "));
}

TEST(LiveDisplay, ClampedValuesShowAsTheLimits) {
  Station s;
  s.form.SpinEdit2->setValue(2);
  s.receive(testframes::frame(2, 9, {0x33, 0x01, 0x21, 0x70, 0x21, 0x61}));
  EXPECT_EQ(s.cell(1), QStringLiteral("16"));
  EXPECT_EQ(s.cell(2), QStringLiteral("16"));
  EXPECT_EQ(s.form.measureV->text(), QStringLiteral("300V  "));
}

TEST(LiveDisplay, EmptyFrameShowsEveryCellAbsentAndTheTotal) {
  Station s;
  s.form.SpinEdit2->setValue(6);
  s.receive(testframes::patternFrame(6, 0x32, 0x00, 108, 1));
  s.receive(testframes::frame(6, 5, {0x23, 0x80}));  // 12 bytes, n = 0, 38 V
  for (int k = 1; k <= 108; ++k) ASSERT_EQ(s.cell(k), kAbsent) << k;
  EXPECT_EQ(s.form.measureV->text(), QStringLiteral("38V  "));
}

TEST(LiveDisplay, BlocksThatAreNoFrameNeitherRedrawNorComplain) {
  Station s;
  s.form.SpinEdit2->setValue(3);
  s.receive(testframes::kUnit3TwoCells);
  const QStringList shown = s.screen();
  const Bytes blocks[] = {
      {0xEB},
      Bytes(testframes::kUnit3TwoCells.begin(), testframes::kUnit3TwoCells.end() - 1),
      testframes::frame(0, 5, {0x05, 0x00}),
      testframes::frame(100, 5, {0x05, 0x00}),
      testframes::frame(3, 3, {0x05, 0x00}),
      testframes::patternFrame(3, 0x30, 0x00, 109, 1),
  };
  for (const Bytes& block : blocks) {
    s.form.polling->ReplyReceived = false;
    // An exact-size copy, so that any read beyond the block is caught by the sanitizers.
    std::vector<std::uint8_t> exact(block);
    exact.shrink_to_fit();
    s.form.Comm1ReceiveData(nullptr, exact.data(), static_cast<std::uint16_t>(exact.size()));
    EXPECT_TRUE(s.form.polling->ReplyReceived);
  }
  s.form.Comm1ReceiveData(nullptr, nullptr, 0);
  EXPECT_EQ(s.screen(), shown);
  EXPECT_EQ(s.form.polling->tables.CellCount[3], 2);
  EXPECT_TRUE(s.boxes.boxes.empty());
}

TEST(LiveDisplay, TablesWithoutKeysGainThemInTheOrderWritten) {
  Station s(false);  // the rows were never numbered
  s.form.polling->tables.CellCount[1] = 108;
  for (int k = 1; k <= 108; ++k) s.form.polling->tables.CellVoltage[1][k] = k / 100.0;
  s.form.ShowUnit(1);
  for (int t = 1; t <= 6; ++t) {
    ASSERT_EQ(s.form.cellTable(t)->dataRowCount(), 18);
    for (int r = 1; r <= 18; ++r) EXPECT_EQ(s.form.cellTable(t)->key(r), QString::number(6 * (r - 1) + t));
  }
  // Later calls update those rows rather than adding more.
  for (int k = 1; k <= 108; ++k) s.form.polling->tables.CellVoltage[1][k] = k / 10.0;
  s.form.ShowUnit(1);
  for (int t = 1; t <= 6; ++t) EXPECT_EQ(s.form.cellTable(t)->dataRowCount(), 18);
  for (int k = 1; k <= 108; ++k) ASSERT_EQ(s.cell(k), s.hundredths(10 * k)) << k;
}

TEST(LiveDisplay, SelectingAUnitWhileTheCurveIsShownStillRedrawsTheTables) {
  Station s;
  s.form.polling->tables.CellCount[2] = 1;
  s.form.polling->tables.CellVoltage[2][1] = 3.795;
  s.form.polling->tables.TotalVoltage[2] = 16.65;
  // Shown in an empty folder: the start-up's own steps must not touch files elsewhere.
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(folder.path()));
  s.form.show();
  s.form.DBChart1->show();
  EXPECT_TRUE(s.form.DBChart1->isVisible());
  s.form.SpinEdit2->setValue(2);
  EXPECT_EQ(s.cell(1), s.number("3.795"));
  EXPECT_EQ(s.cell(7), kAbsent);
  EXPECT_EQ(s.form.measureV->text(), s.number("16.65") + QStringLiteral("V  "));
  s.form.hide();
  QDir::setCurrent(previous);
}

}  // namespace
