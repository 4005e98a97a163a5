// The station polling a simulated chain: replies reach the tables and the window, samples reach
// the database, and the port is released when polling stops or the window closes.
#include <cmath>
#include <numeric>

#include "ChainStation.h"

namespace {

TEST_F(ChainStation, pollsTheChainShowsTheSelectedUnitAndStoresSamples) {
  open(QStringLiteral("60"), 3, {QStringLiteral("--units"), QStringLiteral("3"), QStringLiteral("--cells"), QStringLiteral("24"), QStringLiteral("--seed"), QStringLiteral("11")});
  form->SpeedButton1->click();
  ASSERT_TRUE(errors().isEmpty()) << errors().join('\n').toStdString();
  for (int t = 1; t <= 9; ++t) ASSERT_TRUE(tickAndAwaitReply()) << "tick " << t;
  EXPECT_EQ(form->Label9->text(), QStringLiteral("No.3"));
  EXPECT_TRUE(form->Label8->text().isEmpty()) << form->Label8->text().toStdString();

  for (int u = 1; u <= 3; ++u) {
    EXPECT_EQ(form->polling->tables.CellCount[u], 24);
    double sum = 0;
    for (int k = 1; k <= 24; ++k) {
      EXPECT_GE(form->polling->tables.CellVoltage[u][k], 2.18) << u << "/" << k;
      EXPECT_LE(form->polling->tables.CellVoltage[u][k], 2.32) << u << "/" << k;
      sum += form->polling->tables.CellVoltage[u][k];
    }
    EXPECT_EQ(form->polling->tables.CellVoltage[u][25], 0);
    EXPECT_NEAR(form->polling->tables.TotalVoltage[u], sum, sum * 0.01) << "unit " << u;
  }

  // Unit 1 is on show: its cells in the six tables, its total in the label.
  for (int k : {1, 6, 7, 24}) {
    const int table = (k - 1) % 6 + 1, row = (k - 1) / 6 + 1;
    EXPECT_EQ(form->cellTable(table)->valueAt(row), number(form->polling->tables.CellVoltage[1][k])) << "cell " << k;
  }
  EXPECT_TRUE(form->measureV->text().startsWith(number(form->polling->tables.TotalVoltage[1]) + QStringLiteral("V")));

  // Three sampling runs. Units 1 and 2 have not answered since the last run, so its row holds
  // exactly what the tables hold now (unit 3 answered after it).
  ASSERT_TRUE(form->store.waitIdle());
  StationDb stored = db();
  for (int u = 1; u <= 3; ++u) EXPECT_EQ(stored.rows(QStringLiteral("measure%1").arg(u)), 3) << u;
  EXPECT_DOUBLE_EQ(stored.value(QStringLiteral("select max(measureTime) from measure1")).toDouble(), 0.1);
  for (int u = 1; u <= 2; ++u) {
    const QString last = QStringLiteral(" from measure%1 where measureTime=(select max(measureTime) from measure%1)").arg(u);
    for (int k : {1, 12, 24, 25})
      EXPECT_DOUBLE_EQ(stored.value(QStringLiteral("select V%1").arg(k) + last).toDouble(), form->polling->tables.CellVoltage[u][k]) << u << "/" << k;
    EXPECT_DOUBLE_EQ(stored.value(QStringLiteral("select V") + last).toDouble(), form->polling->tables.TotalVoltage[u]) << u;
  }

  form->SpeedButton1->click();
  EXPECT_FALSE(portOpen());
  EXPECT_TRUE(errors().isEmpty()) << errors().join('\n').toStdString();
}

TEST_F(ChainStation, theTimerPollsTheChainOnItsOwn) {
  open(QStringLiteral("0.5"), 3, {QStringLiteral("--units"), QStringLiteral("3"), QStringLiteral("--cells"), QStringLiteral("8")});
  form->SpeedButton1->click();
  ASSERT_TRUE(form->Timer1->ticking());
  // Two full cycles, by the timer alone.
  int wraps = 0, previous = 0;
  const bool done = waitUntil([&] {
    if (form->polling->CurrentUnit < previous) ++wraps;
    previous = form->polling->CurrentUnit;
    return wraps >= 2 && form->polling->tables.CellCount[1] == 8 && form->polling->tables.CellCount[2] == 8 && form->polling->tables.CellCount[3] == 8;
  }, 30000);
  EXPECT_TRUE(done) << "units polled: " << form->polling->CurrentUnit << ", wraps " << wraps;
  for (int u = 1; u <= 3; ++u) EXPECT_GT(form->polling->tables.TotalVoltage[u], 16) << u;
  EXPECT_TRUE(errors().isEmpty()) << errors().join('\n').toStdString();
  form->SpeedButton1->click();
  EXPECT_FALSE(form->Timer1->ticking());
}

TEST_F(ChainStation, closingTheWindowReleasesThePortForTheNextStart) {
  open(QStringLiteral("60"), 2, {QStringLiteral("--units"), QStringLiteral("2")});
  form->SpeedButton1->click();
  ASSERT_TRUE(tickAndAwaitReply());
  form->close();
  EXPECT_FALSE(portOpen());
  form.reset();

  // The station starts again in the same folder and polls the same chain.
  showWindow();
  form->SpeedButton1->click();
  ASSERT_TRUE(errors().isEmpty()) << errors().join('\n').toStdString();
  ASSERT_TRUE(tickAndAwaitReply());
  EXPECT_EQ(form->Label9->text(), QStringLiteral("No.1"));
  EXPECT_EQ(form->polling->tables.CellCount[1], 24);
}

}  // namespace
