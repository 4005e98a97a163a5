// A chain that misbehaves: silent units, bad checksums, split replies, a reply from a unit that
// was not asked. The station keeps polling, reports what the operator must know, and stores no
// voltage it did not receive intact.
#include "ChainStation.h"

namespace {

QStringList chain(int units, QStringList more) {
  return QStringList{QStringLiteral("--units"), QString::number(units), QStringLiteral("--cells"), QStringLiteral("24")} + more;
}

TEST_F(ChainStation, aSilentUnitIsNamedAndKeepsNoValues) {
  open(QStringLiteral("60"), 3, chain(3, {QStringLiteral("--silent"), QStringLiteral("2")}));
  form->SpeedButton1->click();
  ASSERT_TRUE(tickAndAwaitReply());  // unit 1
  tick();                            // unit 2: nothing comes
  ASSERT_TRUE(tickAndAwaitReply());  // unit 3; this tick judges unit 2
  EXPECT_EQ(form->Label8->text(), QStringLiteral("2号测试仪信号未返回"));
  for (int t = 0; t < 3; ++t) {
    if (form->polling->CurrentUnit == 1) tick();
    else ASSERT_TRUE(tickAndAwaitReply());
  }
  EXPECT_EQ(form->Label8->text(), QStringLiteral("2号测试仪信号未返回"));
  EXPECT_EQ(form->polling->tables.CellCount[2], 0);
  EXPECT_EQ(form->polling->tables.TotalVoltage[2], 0);
  EXPECT_EQ(form->polling->tables.CellCount[3], 24);
  EXPECT_TRUE(errors().isEmpty());
}

TEST_F(ChainStation, badChecksumsCountAsRepliesButChangeNoVoltage) {
  open(QStringLiteral("60"), 2, chain(2, {QStringLiteral("--bad-checksum"), QStringLiteral("100")}));
  form->SpeedButton1->click();
  for (int t = 1; t <= 3; ++t) ASSERT_TRUE(tickAndAwaitReply()) << t;
  EXPECT_TRUE(form->Label8->text().isEmpty()) << "a reply with a bad checksum is still a reply";
  for (int u = 1; u <= 2; ++u) {
    EXPECT_EQ(form->polling->tables.CellCount[u], 0) << "a damaged frame changes no count";
    EXPECT_EQ(form->polling->tables.TotalVoltage[u], 0);
    EXPECT_EQ(form->polling->tables.CellVoltage[u][1], 0);
  }
}

TEST_F(ChainStation, aReplyFromAnotherUnitGoesToThatUnit) {
  open(QStringLiteral("60"), 3, chain(3, {QStringLiteral("--answer-as"), QStringLiteral("2=3")}));
  form->SpeedButton1->click();
  ASSERT_TRUE(tickAndAwaitReply());  // 1
  ASSERT_TRUE(tickAndAwaitReply());  // 2, answered by unit 3's frame
  EXPECT_EQ(form->polling->tables.CellCount[2], 0);
  EXPECT_EQ(form->polling->tables.CellCount[3], 24);
  EXPECT_GT(form->polling->tables.TotalVoltage[3], 40);
  ASSERT_TRUE(tickAndAwaitReply());  // 3
  EXPECT_TRUE(form->Label8->text().isEmpty());
}

TEST_F(ChainStation, aReplySplitByAPauseArrivesAsTwoBlocksThatDecodeToNothing) {
  open(QStringLiteral("60"), 1, chain(1, {QStringLiteral("--split"), QStringLiteral("100")}));
  form->SpeedButton1->click();
  for (int t = 1; t <= 2; ++t) {
    ASSERT_TRUE(tickAndAwaitReply());  // the first half
    // The second half comes as a block of its own after the pause.
    form->polling->ReplyReceived = false;
    ASSERT_TRUE(waitUntil([this] { return form->polling->ReplyReceived; })) << "second half of reply " << t;
  }
  // Neither half is a whole frame of unit 1: no voltage anywhere was taken from them.
  for (int u = 1; u <= 99; ++u) EXPECT_EQ(form->polling->tables.TotalVoltage[u], 0) << u;
  EXPECT_TRUE(form->Label8->text().isEmpty());
  EXPECT_TRUE(errors().isEmpty());
}

}  // namespace
