// The polling cycle tick by tick: which unit is asked, what the silent-unit report shows, when
// samples are due.
#include "PollingStation.h"

namespace {

const QString kSilent = QStringLiteral("号测试仪信号未返回");

TEST_F(PollingStation, threeAnsweringUnitsArePolledInTurn) {
  open(QStringLiteral("60"), 3);
  clickStartStop();
  ASSERT_TRUE(errors().isEmpty()) << errors().join('\n').toStdString();
  for (int expected : {1, 2, 3, 1, 2, 3, 1}) {
    ASSERT_EQ(tickAndRead(), expected);
    EXPECT_EQ(form->Label9->text(), QStringLiteral("No.%1").arg(expected));
    EXPECT_EQ(form->polling->CurrentUnit, expected);
    answer(expected, 4, 2.0 + expected / 10.0);
    EXPECT_TRUE(form->Label8->text().isEmpty());
  }
  // Each reply went to the unit it names.
  EXPECT_DOUBLE_EQ(form->polling->tables.CellVoltage[2][1], 2.2);
  EXPECT_DOUBLE_EQ(form->polling->tables.CellVoltage[3][4], 2.3);
  EXPECT_TRUE(errors().isEmpty());
}

TEST_F(PollingStation, silentUnitIsNamedUntilACycleInWhichAllAnswer) {
  open(QStringLiteral("60"), 3);
  clickStartStop();
  auto step = [&](int expected, bool answers) {
    ASSERT_EQ(tickAndRead(), expected);
    if (answers) answer(expected);
  };
  step(1, true);
  step(2, false);
  EXPECT_TRUE(form->Label8->text().isEmpty());
  step(3, true);  // this tick judges unit 2
  EXPECT_EQ(form->Label8->text(), QStringLiteral("2") + kSilent);
  EXPECT_TRUE(form->Label8->isVisibleTo(form.get()));
  EXPECT_FALSE(form->polling->AllReplied);
  // The cycle that held the failure ends; the report stays through the next cycle...
  for (int u : {1, 2, 3}) {
    step(u, true);
    EXPECT_EQ(form->Label8->text(), QStringLiteral("2") + kSilent) << "at unit " << u;
  }
  // ...and is emptied when that all-answering cycle ends; the label stays visible.
  step(1, true);
  EXPECT_TRUE(form->Label8->text().isEmpty());
  EXPECT_TRUE(form->Label8->isVisibleTo(form.get()));
  EXPECT_TRUE(form->polling->AllReplied);
}

TEST_F(PollingStation, singleUnitIsPolledAtEveryTickAndEachTickEndsACycle) {
  open(QStringLiteral("60"), 1);
  clickStartStop();
  ASSERT_EQ(tickAndRead(), 1);  // no answer
  ASSERT_EQ(tickAndRead(), 1);
  EXPECT_EQ(form->Label8->text(), QStringLiteral("1") + kSilent);
  answer(1);
  ASSERT_EQ(tickAndRead(), 1);
  EXPECT_TRUE(form->Label8->text().isEmpty());
  EXPECT_EQ(form->Label9->text(), QStringLiteral("No.1"));
}

TEST_F(PollingStation, aReplyFromAnotherUnitCountsAsTheReply) {
  open(QStringLiteral("60"), 3);
  clickStartStop();
  ASSERT_EQ(tickAndRead(), 1);
  answer(1);
  ASSERT_EQ(tickAndRead(), 2);
  answer(3, 2, 3.3);  // unit 3 answers unit 2's request
  ASSERT_EQ(tickAndRead(), 3);
  EXPECT_TRUE(form->Label8->text().isEmpty());
  EXPECT_EQ(form->polling->tables.CellCount[2], 0);
  EXPECT_DOUBLE_EQ(form->polling->tables.CellVoltage[3][2], 3.3);
}

TEST_F(PollingStation, samplesAreStoredEveryThirdTickAtSixtySeconds) {
  open(QStringLiteral("60"), 3);
  clickStartStop();
  for (int t = 1; t <= 2; ++t) ASSERT_GT(tickAndRead(), 0);
  EXPECT_EQ(db().rows(QStringLiteral("measure1")), 0);
  EXPECT_DOUBLE_EQ(form->polling->ElapsedSeconds, 120);
  ASSERT_GT(tickAndRead(), 0);
  for (const char* table : {"measure1", "measure2", "measure3"})
    EXPECT_EQ(db().rows(QString::fromLatin1(table)), 1) << table;
  EXPECT_DOUBLE_EQ(form->polling->ElapsedSeconds, 0);
  EXPECT_TRUE(form->Timer1->enabled());
  for (int t = 4; t <= 6; ++t) ASSERT_GT(tickAndRead(), 0);
  EXPECT_EQ(db().rows(QStringLiteral("measure3")), 2);
  EXPECT_TRUE(errors().isEmpty()) << errors().join('\n').toStdString();
}

TEST_F(PollingStation, atSevenSecondsTheTwentySixthTickSamplesAndTheExcessIsDropped) {
  open(QStringLiteral("7"), 1);
  clickStartStop();
  for (int t = 1; t <= 25; ++t) ASSERT_EQ(tickAndRead(), 1);
  EXPECT_DOUBLE_EQ(form->polling->ElapsedSeconds, 175);
  EXPECT_EQ(db().rows(QStringLiteral("measure1")), 0);
  ASSERT_EQ(tickAndRead(), 1);  // 182 s
  EXPECT_EQ(db().rows(QStringLiteral("measure1")), 1);
  EXPECT_DOUBLE_EQ(form->polling->ElapsedSeconds, 0);
  // Counting starts again from 0, not from the 2 s above 180: the next run is 26 ticks later.
  for (int t = 1; t <= 25; ++t) ASSERT_EQ(tickAndRead(), 1);
  EXPECT_EQ(db().rows(QStringLiteral("measure1")), 1);
  ASSERT_EQ(tickAndRead(), 1);
  EXPECT_EQ(db().rows(QStringLiteral("measure1")), 2);
}

TEST_F(PollingStation, stopThenStartResumesAtUnitOneWithTheCountReset) {
  open(QStringLiteral("60"), 3);
  clickStartStop();
  ASSERT_EQ(tickAndRead(), 1);
  answer(1);
  ASSERT_EQ(tickAndRead(), 2);
  EXPECT_DOUBLE_EQ(form->polling->ElapsedSeconds, 120);
  clickStartStop();  // stop
  EXPECT_DOUBLE_EQ(form->polling->ElapsedSeconds, 0);
  EXPECT_EQ(form->polling->CurrentUnit, 2) << "stopping leaves the unit as it is";
  EXPECT_EQ(form->Label9->text(), QStringLiteral("No.2"));
  clickStartStop();  // start
  ASSERT_EQ(tickAndRead(), 1);
  EXPECT_EQ(form->Label9->text(), QStringLiteral("No.1"));
  EXPECT_TRUE(form->Label8->text().isEmpty()) << "the unanswered request before the stop is not judged";
  ASSERT_EQ(tickAndRead(), 2);
  EXPECT_EQ(db().rows(QStringLiteral("measure1")), 0);
  ASSERT_EQ(tickAndRead(), 3);  // 180 s since the restart
  EXPECT_EQ(db().rows(QStringLiteral("measure1")), 1);
}

// Features that watch the station hear of every step through the window's signals, in the order
// the steps happen.
TEST_F(PollingStation, theCycleAnnouncesStartRequestsRepliesSilenceAndStop) {
  open(QStringLiteral("60"), 3);
  QStringList seen;
  QObject::connect(form->polling, &acquisition::PollingController::pollingStarted, [&] { seen << QStringLiteral("start"); });
  QObject::connect(form->polling, &acquisition::PollingController::pollingStopped, [&] { seen << QStringLiteral("stop"); });
  QObject::connect(form->polling, &acquisition::PollingController::requestSent,
                   [&](int unit, bool queued) { seen << QStringLiteral("ask %1 %2").arg(unit).arg(queued); });
  QObject::connect(form->polling, &acquisition::PollingController::unitSilent, [&](int unit) { seen << QStringLiteral("silent %1").arg(unit); });
  QObject::connect(form->polling, &acquisition::PollingController::replyHandled, [&](const acquisition::ReplyOutcome& o, int polled) {
    seen << QStringLiteral("reply %1 stored %2 polled %3").arg(o.unit).arg(o.stored()).arg(polled);
  });
  clickStartStop();
  ASSERT_EQ(tickAndRead(), 1);
  answer(1);
  ASSERT_EQ(tickAndRead(), 2);  // unit 2 stays silent
  ASSERT_EQ(tickAndRead(), 3);
  answer(1);  // a foreign reply: unit 1 answers unit 3's request
  clickStartStop();
  EXPECT_EQ(seen, (QStringList{QStringLiteral("start"), QStringLiteral("ask 1 1"),
                               QStringLiteral("reply 1 stored 1 polled 1"), QStringLiteral("ask 2 1"),
                               QStringLiteral("silent 2"), QStringLiteral("ask 3 1"),
                               QStringLiteral("reply 1 stored 1 polled 3"), QStringLiteral("stop")}));
}

}  // namespace
