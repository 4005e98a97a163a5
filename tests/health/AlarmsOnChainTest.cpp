// Alarms on a real chain: a cell sagging below its limit is raised once after two readings,
// shown on a red ground and named below the tables, recorded once, and cleared once it is back
// past the margin.
#include <QLabel>

#include "HealthStation.h"

namespace {

using health::Limit;

QStringList chain(int units, QStringList more) {
  return QStringList{QStringLiteral("--units"), QString::number(units), QStringLiteral("--cells"), QStringLiteral("24")} + more;
}

bool redGround(QTableWidgetItem* item) {
  const QVariant v = item->data(Qt::BackgroundRole);
  return v.isValid() && v.value<QBrush>().color() == QColor(255, 0, 0);
}

TEST_F(HealthStation, aSaggingCellRaisesOneAlarmShowsRedAndClearsPastTheMargin) {
  // Cell 7 of unit 1 reads 1.7 V in its 3rd to 6th replies, then drifts on near 2.25 V.
  openStation(QStringLiteral("60"), 1, chain(1, {QStringLiteral("--sag"), QStringLiteral("1:7:1.7:2:4")}));
  health::Limits limits;
  limits[Limit::CellLow] = 1.9;
  monitor->applyLimits(limits);
  form->SpeedButton1->click();
  // Cell 7 is in table 1, row 2.
  QTableWidgetItem* value = form->ValueListEditor1->item(1, 1);
  QTableWidgetItem* key = form->ValueListEditor1->item(1, 0);

  for (int reply = 1; reply <= 3; ++reply) ASSERT_TRUE(tickAndAwaitReply()) << reply;
  EXPECT_DOUBLE_EQ(form->polling->tables.CellVoltage[1][7], 1.7);
  EXPECT_FALSE(monitor->alarms().cellInAlarm(1, 7)) << "one reading beyond is not an alarm yet";
  EXPECT_FALSE(redGround(value));
  EXPECT_TRUE(monitor->notice()->isHidden());

  ASSERT_TRUE(tickAndAwaitReply());  // the second sagging reading
  EXPECT_TRUE(monitor->alarms().cellInAlarm(1, 7));
  EXPECT_TRUE(redGround(value));
  EXPECT_TRUE(redGround(key));
  EXPECT_FALSE(redGround(form->ValueListEditor1->item(0, 1))) << "cell 1 is well";
  EXPECT_EQ(form->ValueListEditor1->valueAt(2), QStringLiteral("1.7")) << "the value itself is shown as ever";
  EXPECT_TRUE(monitor->notice()->isVisible());
  EXPECT_TRUE(monitor->notice()->text().startsWith(QStringLiteral("报警：1号"))) << monitor->notice()->text().toStdString();

  for (int reply = 5; reply <= 7; ++reply) ASSERT_TRUE(tickAndAwaitReply()) << reply;
  EXPECT_TRUE(monitor->alarms().cellInAlarm(1, 7)) << "one reading back inside does not clear it";
  ASSERT_TRUE(tickAndAwaitReply());  // reply 8: the second one back
  EXPECT_FALSE(monitor->alarms().cellInAlarm(1, 7));
  EXPECT_FALSE(value->data(Qt::BackgroundRole).isValid()) << "the row is as it was made";
  EXPECT_FALSE(key->data(Qt::BackgroundRole).isValid());
  EXPECT_TRUE(monitor->notice()->isHidden());

  ASSERT_TRUE(monitor->flushEvents());
  const auto events = monitor->db().events(1);
  QStringList kinds;
  for (const auto& e : events) kinds << QStringLiteral("%1 cell %2 %3").arg(e.kind).arg(e.cell).arg(e.value.value_or(-1));
  ASSERT_EQ(events.size(), 2u) << kinds.join('\n').toStdString();
  EXPECT_EQ(events[1].kind, QStringLiteral("单体电压过低"));
  EXPECT_EQ(events[1].cell, 7);
  EXPECT_DOUBLE_EQ(*events[1].value, 1.7);
  EXPECT_EQ(events[0].kind, QStringLiteral("单体电压过低解除"));
  EXPECT_GE(*events[0].value, 1.92);
  EXPECT_EQ(monitor->db().events(0).back().kind, QStringLiteral("开始巡检"));
  EXPECT_TRUE(errors().isEmpty()) << errors().join('\n').toStdString();
}

TEST_F(HealthStation, anAlarmOnTheTotalMarksTheTotalAndFollowsTheShownUnit) {
  openStation(QStringLiteral("60"), 2, chain(2, {}));
  health::Limits limits;
  limits[Limit::TotalHigh] = 10;  // every 24-cell string is far above
  monitor->applyLimits(limits);
  form->SpeedButton1->click();
  for (int t = 1; t <= 4; ++t) ASSERT_TRUE(tickAndAwaitReply()) << t;
  EXPECT_TRUE(monitor->alarms().totalInAlarm(1));
  EXPECT_TRUE(monitor->alarms().totalInAlarm(2));
  EXPECT_EQ(form->measureV->palette().color(QPalette::Window), QColor(255, 0, 0));
  EXPECT_TRUE(form->measureV->autoFillBackground());
  EXPECT_TRUE(monitor->notice()->text().startsWith(QStringLiteral("报警：1号、2号")));

  // Taking the limit off clears both alarms, records it, and gives the label back its colours.
  monitor->applyLimits(health::Limits{});
  EXPECT_FALSE(monitor->alarms().totalInAlarm(1));
  EXPECT_FALSE(form->measureV->autoFillBackground());
  EXPECT_TRUE(monitor->notice()->isHidden());
  ASSERT_TRUE(monitor->flushEvents());
  int cleared = 0;
  for (const auto& e : monitor->db().events()) cleared += e.kind == QStringLiteral("总电压过高解除");
  EXPECT_EQ(cleared, 2);
}

TEST_F(HealthStation, aUnitSilentForThreeCyclesIsGreyedAndReturns) {
  openStation(QStringLiteral("60"), 2, chain(2, {QStringLiteral("--silent"), QStringLiteral("2")}));
  form->SpinEdit2->setValue(2);
  form->SpeedButton1->click();
  // Cycles of unit 1 (answers) and unit 2 (silent); the third silent poll is judged at the
  // next request.
  for (int cycle = 1; cycle <= 3; ++cycle) {
    ASSERT_TRUE(tickAndAwaitReply()) << cycle;
    tick();
    EXPECT_FALSE(monitor->counts().offline(2)) << cycle;
  }
  ASSERT_TRUE(tickAndAwaitReply());
  EXPECT_TRUE(monitor->counts().offline(2));
  EXPECT_FALSE(monitor->counts().offline(1));
  const QVariant grey = form->ValueListEditor3->item(0, 1)->data(Qt::ForegroundRole);
  ASSERT_TRUE(grey.isValid());
  EXPECT_EQ(grey.value<QBrush>().color(), QColor(128, 128, 128));
  EXPECT_EQ(form->ValueListEditor3->valueAt(1), QStringLiteral("-----------")) << "values stay as the station keeps them";
  EXPECT_EQ(form->measureV->palette().color(QPalette::WindowText), QColor(128, 128, 128));
  EXPECT_EQ(monitor->notice()->text().left(5), QStringLiteral("离线：2号"));
  // Unit 1 on show: not greyed.
  form->SpinEdit2->setValue(1);
  EXPECT_FALSE(form->ValueListEditor3->item(0, 1)->data(Qt::ForegroundRole).isValid());
  form->SpinEdit2->setValue(2);

  // The chain comes back with unit 2 answering.
  form->SpeedButton1->click();
  sim->stop();
  sim = std::make_unique<Cellsim>(folder.file(QStringLiteral("COM1")), chain(2, {}));
  form->SpeedButton1->click();
  ASSERT_TRUE(tickAndAwaitReply());
  ASSERT_TRUE(tickAndAwaitReply());
  EXPECT_FALSE(monitor->counts().offline(2));
  EXPECT_FALSE(form->ValueListEditor3->item(0, 1)->data(Qt::ForegroundRole).isValid());
  EXPECT_NE(form->measureV->palette().color(QPalette::WindowText), QColor(128, 128, 128));
  EXPECT_TRUE(monitor->notice()->isHidden());

  ASSERT_TRUE(monitor->flushEvents());
  QStringList kinds;
  for (const auto& e : monitor->db().events(2)) kinds << e.kind;
  EXPECT_EQ(kinds, (QStringList{QStringLiteral("恢复通信"), QStringLiteral("离线")}));
}

}  // namespace
