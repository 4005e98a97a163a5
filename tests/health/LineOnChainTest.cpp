// The line as the operator reads it: counts that match what the chain sent, and a line that
// comes back by itself after the device went away and returned.
#include <QFile>
#include <QLabel>
#include <QTableWidget>

#include "HealthStation.h"
#include "health/StatisticsDialog.h"

namespace {

QStringList chain(int units, QStringList more) {
  return QStringList{QStringLiteral("--units"), QString::number(units), QStringLiteral("--cells"), QStringLiteral("24")} + more;
}

TEST_F(HealthStation, badChecksumsAreCountedPerUnitAndAreNoReplies) {
  // Each reply in one write: paced bytes may reach a loaded machine in two blocks, which are
  // malformed frames, not bad checksums.
  openStation(QStringLiteral("60"), 2,
              chain(2, {QStringLiteral("--bad-checksum"), QStringLiteral("100"), QStringLiteral("--byte-time"), QStringLiteral("0")}));
  form->SpeedButton1->click();
  for (int t = 1; t <= 6; ++t) ASSERT_TRUE(tickAndAwaitReply()) << t;
  for (int u = 1; u <= 2; ++u) {
    const auto& c = monitor->counts().counts(u);
    EXPECT_EQ(c.requests, 3u) << u;
    EXPECT_EQ(c.badChecksum, 3u) << u;
    EXPECT_EQ(c.replies, 0u) << u;
    EXPECT_EQ(c.noReply, 0u) << u << ": a damaged reply is still a reply for the polling cycle";
    EXPECT_EQ(c.lastGoodMs, 0) << u;
  }
  // Three polls each without a good frame: both units' values are stale.
  tick();
  EXPECT_TRUE(monitor->counts().offline(1));
}

TEST_F(HealthStation, splitRepliesAreCountedAsTwoBlocksThatAreNoFrames) {
  openStation(QStringLiteral("60"), 1, chain(1, {QStringLiteral("--split"), QStringLiteral("100")}));
  form->SpeedButton1->click();
  for (int t = 1; t <= 2; ++t) {
    ASSERT_TRUE(tickAndAwaitReply());
    form->polling->ReplyReceived = false;
    ASSERT_TRUE(waitUntil([this] { return form->polling->ReplyReceived; })) << "second half of reply " << t;
  }
  const auto& c = monitor->counts().counts(1);
  EXPECT_EQ(c.requests, 2u);
  EXPECT_EQ(c.malformed, 4u) << "each half is too short for the length it announces";
  EXPECT_EQ(c.replies + c.badChecksum + c.foreign, 0u);
}

TEST_F(HealthStation, aReplyFromAnotherUnitIsForeignForTheUnitAskedAndFreshForItsOwn) {
  openStation(QStringLiteral("60"), 3, chain(3, {QStringLiteral("--answer-as"), QStringLiteral("2=3"), QStringLiteral("--silent"), QStringLiteral("1")}));
  form->SpeedButton1->click();
  tick();                            // 1: silent
  ASSERT_TRUE(tickAndAwaitReply());  // 2: answered by unit 3's frame
  ASSERT_TRUE(tickAndAwaitReply());  // 3
  tick();                            // 1 again; judges 3
  const auto& c1 = monitor->counts().counts(1);
  const auto& c2 = monitor->counts().counts(2);
  const auto& c3 = monitor->counts().counts(3);
  EXPECT_EQ(c1.requests, 2u);
  EXPECT_EQ(c1.noReply, 1u);
  EXPECT_EQ(c2.foreign, 1u);
  EXPECT_EQ(c2.replies, 0u);
  EXPECT_EQ(c2.lastGoodMs, 0);
  EXPECT_EQ(c3.replies, 1u);
  EXPECT_GT(c3.lastGoodMs, 0);

  // The statistics dialog shows the same, and its reset zeroes the counts.
  onDialog = [&](QDialog& d) {
    auto* stats = qobject_cast<health::StatisticsDialog*>(&d);
    ASSERT_NE(stats, nullptr);
    ASSERT_EQ(stats->table->rowCount(), 4) << "three units and the sum";
    EXPECT_EQ(stats->table->item(1, 6)->text(), QStringLiteral("1")) << "unit 2, foreign";
    EXPECT_EQ(stats->table->item(0, 3)->text(), QStringLiteral("1")) << "unit 1, no reply";
    EXPECT_EQ(stats->table->item(3, 1)->text(), QStringLiteral("4")) << "requests in all";
    EXPECT_EQ(stats->lineState->text(), QStringLiteral("串口：正常"));
    stats->resetCounts();
    EXPECT_EQ(stats->table->item(3, 1)->text(), QStringLiteral("0"));
  };
  choose(QStringLiteral("通信统计…"));
  EXPECT_EQ(dialogsRun, 1);
  EXPECT_EQ(monitor->counts().counts(2).foreign, 0u);
}

TEST_F(HealthStation, aLineThatGoesAwayComesBackByItselfWhilePolling) {
  openStation(QStringLiteral("60"), 2, chain(2, {}));
  form->SpeedButton1->click();
  ASSERT_TRUE(tickAndAwaitReply());
  ASSERT_TRUE(tickAndAwaitReply());

  // The device goes away: the station closes the port and says so in the statistics.
  ASSERT_EQ(sim->stop(), 0);
  ASSERT_TRUE(waitUntil([this] { return monitor->line().state() == health::LineRecovery::State::Down; }, 10000));
  EXPECT_FALSE(portOpen());
  EXPECT_EQ(form->SpeedButton1->text(), QStringLiteral("停止")) << "still polling";
  tick();  // a request the port cannot take
  EXPECT_EQ(form->Label9->text(), QStringLiteral("No.1"));

  // It comes back on the same link: the port reopens by itself and the next poll is answered.
  sim = std::make_unique<Cellsim>(folder.file(QStringLiteral("COM1")), chain(2, {}));
  ASSERT_TRUE(waitUntil([this] { return portOpen(); }, 20000));
  EXPECT_EQ(monitor->line().state(), health::LineRecovery::State::Up);
  form->polling->tables.CellCount[2] = 0;
  ASSERT_TRUE(tickAndAwaitReply());
  EXPECT_EQ(form->polling->tables.CellCount[2], 24) << "unit 2 decoded again within one cycle";
  EXPECT_TRUE(errors().isEmpty()) << errors().join('\n').toStdString();

  ASSERT_TRUE(monitor->flushEvents());
  QStringList kinds;
  for (const auto& e : monitor->db().events(0)) kinds << e.kind;
  EXPECT_EQ(kinds.count(QStringLiteral("串口断开")), 1) << kinds.join(' ').toStdString();
  EXPECT_EQ(kinds.count(QStringLiteral("串口恢复")), 1) << kinds.join(' ').toStdString();

  // Stop and start work as before.
  form->SpeedButton1->click();
  EXPECT_FALSE(portOpen());
  EXPECT_EQ(monitor->line().state(), health::LineRecovery::State::Idle);
  form->SpeedButton1->click();
  ASSERT_TRUE(errors().isEmpty()) << errors().join('\n').toStdString();
  ASSERT_TRUE(tickAndAwaitReply());
  EXPECT_EQ(form->Label9->text(), QStringLiteral("No.1"));
}

TEST_F(HealthStation, aPortThatCouldNotBeOpenedAtTheStartIsOpenedOnceTheDeviceIsThere) {
  folder.makeDatabase(QStringLiteral("60"), 1);
  // The adapter is not plugged in: COM1 names a device that is not there.
  ASSERT_TRUE(QFile::link(folder.file(QStringLiteral("ttyUSB-absent")), folder.file(QStringLiteral("COM1"))));
  showWindow();
  attach();
  form->SpeedButton1->click();
  ASSERT_EQ(errors().size(), 1) << "the opening failure is reported as ever";
  EXPECT_FALSE(portOpen());
  tick();  // the request finds no port
  EXPECT_EQ(monitor->line().state(), health::LineRecovery::State::Down);

  sim = std::make_unique<Cellsim>(folder.file(QStringLiteral("COM1")), chain(1, {}));
  ASSERT_TRUE(waitUntil([this] { return portOpen(); }, 20000));
  ASSERT_TRUE(tickAndAwaitReply());
  EXPECT_EQ(form->polling->tables.CellCount[1], 24);
  EXPECT_EQ(errors().size(), 1) << "reopening attempts raise no boxes";
}

TEST(LineRecoveryBackoff, firstTryWithinTwoSecondsThenAtMostEveryThirty) {
  EXPECT_LE(health::LineRecovery::backoffMs(1), 2000);
  int previous = 0;
  for (int attempt = 1; attempt <= 20; ++attempt) {
    const int wait = health::LineRecovery::backoffMs(attempt);
    EXPECT_GE(wait, previous) << attempt;
    EXPECT_LE(wait, 30000) << attempt;
    previous = wait;
  }
  EXPECT_EQ(health::LineRecovery::backoffMs(20), 30000);
}

}  // namespace
