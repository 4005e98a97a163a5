// Starting and stopping: the window's two states, every failure of the start sequence, and the
// port's life with them.
#include <QDir>

#include "PollingStation.h"
#include "toolkit/Colors.h"

namespace {

const auto kFrame = protocol::requestFrame(1);

TEST_F(PollingStation, startLocksTheSettingsSavesThemAndOpensThePort) {
  open(QStringLiteral("60"), 3);
  form->Edit1->setText(QStringLiteral("7.5"));
  form->SpinEdit1->setValue(4);
  clickStartStop();
  ASSERT_TRUE(errors().isEmpty()) << errors().join('\n').toStdString();

  EXPECT_TRUE(showsPolling());
  EXPECT_EQ(form->Timer1->interval(), 7500);
  EXPECT_TRUE(form->Timer1->enabled());
  EXPECT_TRUE(form->Edit1->isReadOnly());
  EXPECT_EQ(form->Edit1->palette().color(QPalette::Base), toolkit::clMenuBar());
  EXPECT_FALSE(form->SpinEdit1->isEnabled());
  EXPECT_EQ(form->SpinEdit1->palette().color(QPalette::Base), toolkit::clMenuBar());
  EXPECT_FALSE(form->SpeedButton4->isEnabled());
  EXPECT_TRUE(form->SpinEdit2->isEnabled());
  EXPECT_EQ(form->SpinEdit2->maximum(), 4);
  EXPECT_EQ(panelColour(), toolkit::clLime());
  EXPECT_EQ(form->polling->UnitCount, 4);
  EXPECT_EQ(form->polling->CurrentUnit, 0);
  EXPECT_TRUE(form->polling->ReplyReceived);
  EXPECT_DOUBLE_EQ(db().value(QStringLiteral("select secend from setting")).toDouble(), 7.5);
  EXPECT_EQ(db().value(QStringLiteral("select measureTotal from setting")).toInt(), 4);
  // The port is open: a frame handed to it reaches the line.
  EXPECT_TRUE(form->Comm1->SendData(kFrame.data(), kFrame.size()));
  EXPECT_EQ(line->readRequest(), kFrame);

  clickStartStop();
  EXPECT_FALSE(showsPolling());
  EXPECT_FALSE(form->Timer1->enabled());
  EXPECT_FALSE(form->Edit1->isReadOnly());
  EXPECT_EQ(form->Edit1->palette().color(QPalette::Base), toolkit::clWindow());
  EXPECT_TRUE(form->SpinEdit1->isEnabled());
  EXPECT_EQ(form->SpinEdit1->palette().color(QPalette::Base), toolkit::clWindow());
  EXPECT_TRUE(form->SpeedButton4->isEnabled());
  EXPECT_EQ(form->SpinEdit2->maximum(), 4) << "stopping leaves the shown unit's range";
  EXPECT_EQ(panelColour(), toolkit::clRed());
  EXPECT_FALSE(form->Comm1->SendData(kFrame.data(), kFrame.size())) << "the port stays open after stop";
}

TEST_F(PollingStation, anIntervalThatIsNoNumberOrNoWholeMillisecondLeavesTheWindowStopped) {
  open(QStringLiteral("60"), 3);
  const QString sep(form->decimalSeparator());
  struct Case {
    QString text;
    QString error;
  };
  const Case cases[] = {
      {QStringLiteral("abc"), QStringLiteral("'abc' is not a valid floating point value")},
      {QStringLiteral("0") + sep + QStringLiteral("0015"), QStringLiteral("'1") + sep + QStringLiteral("5' is not a valid integer value")},
      {QStringLiteral("2147484"), QStringLiteral("'2147484000' is not a valid integer value")},
  };
  for (const Case& c : cases) {
    boxes.clear();
    form->polling->ElapsedSeconds = 99;
    form->SpinEdit1->setValue(5);
    form->Edit1->setText(c.text);
    clickStartStop();
    ASSERT_EQ(errors(), QStringList{c.error}) << c.text.toStdString();
    EXPECT_FALSE(showsPolling());
    EXPECT_FALSE(form->Timer1->enabled());
    EXPECT_FALSE(form->Edit1->isReadOnly());
    EXPECT_TRUE(form->SpinEdit1->isEnabled());
    EXPECT_EQ(panelColour(), toolkit::clRed());
    // Only the first two steps of the click have happened.
    EXPECT_DOUBLE_EQ(form->polling->ElapsedSeconds, 0);
    EXPECT_EQ(form->polling->UnitCount, 5);
    EXPECT_EQ(db().value(QStringLiteral("select measureTotal from setting")).toInt(), 3);
    EXPECT_FALSE(form->Comm1->SendData(kFrame.data(), kFrame.size()));
  }
}

TEST_F(PollingStation, zeroAndNegativeIntervalsShowPollingWithoutTicks) {
  open(QStringLiteral("60"), 3);
  for (const QString& text : {QStringLiteral("0"), QStringLiteral("-5")}) {
    form->Edit1->setText(text);
    clickStartStop();
    ASSERT_TRUE(errors().isEmpty()) << text.toStdString() << ": " << errors().join('\n').toStdString();
    EXPECT_TRUE(showsPolling());
    EXPECT_EQ(panelColour(), toolkit::clLime());
    EXPECT_TRUE(form->Timer1->enabled());
    EXPECT_FALSE(form->Timer1->ticking()) << text.toStdString();
    clickStartStop();
  }
}

TEST_F(PollingStation, aFailingSettingsUpdateLeavesTheStationStopped) {
  open(QStringLiteral("60"), 3);
  // Another program takes the settings table away after the window loaded it.
  db().exec(QStringLiteral("alter table setting rename to setting_gone"));
  form->polling->CurrentUnit = 2;
  form->polling->ReplyReceived = false;
  clickStartStop();
  ASSERT_EQ(errors().size(), 1);
  EXPECT_FALSE(errors().front().isEmpty());
  // Whole or not at all: no half-started station that shows polling with its port closed and
  // stores rows of 0 V three minutes later.
  EXPECT_FALSE(showsPolling());
  EXPECT_FALSE(form->Timer1->enabled());
  EXPECT_FALSE(form->Edit1->isReadOnly());
  EXPECT_TRUE(form->SpinEdit1->isEnabled());
  EXPECT_EQ(panelColour(), toolkit::clRed());
  EXPECT_FALSE(form->polling->polling());
  EXPECT_FALSE(form->Comm1->SendData(kFrame.data(), kFrame.size())) << "the port was opened";
  // Once the table is back, the next press starts as usual.
  db().exec(QStringLiteral("alter table setting_gone rename to setting"));
  clickStartStop();
  EXPECT_TRUE(showsPolling());
  EXPECT_EQ(errors().size(), 1);
}

TEST_F(PollingStation, aPortThatCannotOpenKeepsPollingAndWrapsAUnitAboveTheCount) {
  open(QStringLiteral("60"), 5);
  clickStartStop();
  for (int u = 1; u <= 5; ++u) ASSERT_EQ(tickAndRead(), u);
  clickStartStop();
  ASSERT_TRUE(errors().isEmpty()) << errors().join('\n').toStdString();
  EXPECT_EQ(form->polling->CurrentUnit, 5);

  // The port goes away (COM1 now names something that is no serial port) and the count is lowered.
  line.reset();
  ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("COM1")));
  form->SpinEdit1->setValue(3);
  clickStartStop();
  ASSERT_EQ(errors(), QStringList{QStringLiteral("打开串口出错\r\n此串口不存在或被占用")});
  EXPECT_TRUE(showsPolling());
  EXPECT_EQ(panelColour(), toolkit::clLime());
  EXPECT_TRUE(form->Timer1->enabled());
  EXPECT_EQ(form->polling->CurrentUnit, 5) << "the steps after the opening were skipped";
  EXPECT_FALSE(form->polling->ReplyReceived);

  // Unit 5 lies above the count of 3: the next tick wraps to unit 1 instead of counting on.
  tick();
  EXPECT_EQ(form->Label8->text(), QStringLiteral("5号测试仪信号未返回"));
  EXPECT_EQ(form->Label9->text(), QStringLiteral("No.1"));
  for (int u : {2, 3, 1}) {
    tick();
    EXPECT_EQ(form->Label9->text(), QStringLiteral("No.%1").arg(u));
    EXPECT_EQ(form->Label8->text(), QStringLiteral("%1号测试仪信号未返回").arg(u == 1 ? 3 : u - 1));
  }
  EXPECT_EQ(errors().size(), 1) << "the ticks themselves report nothing";
}

TEST_F(PollingStation, closingTheWindowWhilePollingClosesThePort) {
  open(QStringLiteral("60"), 3);
  clickStartStop();
  ASSERT_EQ(tickAndRead(), 1);
  form->close();
  EXPECT_FALSE(form->Comm1->SendData(kFrame.data(), kFrame.size()));
  EXPECT_TRUE(errors().isEmpty()) << errors().join('\n').toStdString();
}

}  // namespace
