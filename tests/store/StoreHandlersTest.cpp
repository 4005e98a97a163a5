// The store's handlers on the real window, with a real db1.mdb in a temporary station folder.
#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QLineEdit>

#include "app/Unit1.h"
#include "common/ConvertError.h"
#include "store/core/Statements.h"
#include "support/StationFolder.h"
#include "toolkit/ArrowSpinBox.h"
#include "toolkit/KeyValueGrid.h"
#include "toolkit/PollTimer.h"

namespace {

using Kind = toolkit::MessageBoxes::Kind;
using Answer = toolkit::MessageBoxes::Answer;

const QString kNoDatabase = QStringLiteral("连接失败，请确认数据库在当前目录！");

double scalar(TForm1& form, const QString& sql) {
  engine::TADOQuery q(form.ADOConnection1);
  q.setSQL(sql);
  q.Open();
  return q.Fields(0).value().toDouble();
}

int rows(TForm1& form, int unit) { return int(scalar(form, store::rowCount(unit))); }

}  // namespace

TEST(StoreHandlers, WithoutADatabaseTheWindowStillComesUp) {
  StationFolder folder;
  toolkit::RecordingMessageBoxes boxes;
  TForm1 form(boxes);
  form.show();
  EXPECT_EQ(boxes.texts(Kind::Plain), QStringList{kNoDatabase});
  const QStringList errors = boxes.texts(Kind::Error);
  ASSERT_EQ(errors.size(), 1);
  EXPECT_TRUE(errors.front().startsWith(QStringLiteral("Could not find file"))) << errors.front().toStdString();
  EXPECT_EQ(boxes.boxes.front().kind, Kind::Plain);  // the message first, then the error
  EXPECT_EQ(form.Edit1->text(), QString());
  EXPECT_EQ(form.SpinEdit1->value(), 99);
  EXPECT_EQ(form.SpinEdit2->maximum(), 99);
  EXPECT_EQ(form.ValueListEditor1->key(1), QString());
  EXPECT_FALSE(QFileInfo::exists(folder.file(QStringLiteral("db1.mdb"))));

  // A database put in place later is found by the next operation.
  folder.makeDatabase(QStringLiteral("5"), 3);
  EXPECT_TRUE(form.store.tableExists(QStringLiteral("SETTING")));
}

TEST(StoreHandlers, LoadedUnitCountIsKeptWithinTheTables) {
  StationFolder folder;
  folder.makeDatabase(QStringLiteral("2.5"), 12);
  toolkit::RecordingMessageBoxes boxes;
  {
    TForm1 form(boxes);
    form.ADOConnection1.setConnectionString(QStringLiteral("Data Source=db1.mdb"));
    form.ADOConnection1.Execute(QStringLiteral("update setting set measureTotal=150"));
    form.show();
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(form.SpinEdit1->value(), 99);
    EXPECT_EQ(form.SpinEdit2->maximum(), 99);
    if (form.decimalSeparator() == '.') {
      EXPECT_EQ(form.Edit1->text(), QStringLiteral("2.5"));
    }
    form.ADOConnection1.Execute(QStringLiteral("update setting set measureTotal=NULL"));
  }
  TForm1 form(boxes);
  form.show();
  EXPECT_EQ(boxes.texts(Kind::Error), QStringList{QStringLiteral("'' is not a valid integer value")});
  EXPECT_FALSE(form.Edit1->text().isEmpty());  // filled before the failing value
  EXPECT_EQ(form.ValueListEditor1->key(1), QString());
}

TEST(StoreHandlers, SaveSettingsWritesIntervalThenUnitCount) {
  StationFolder folder;
  folder.makeDatabase(QStringLiteral("5"), 12);
  toolkit::RecordingMessageBoxes boxes;
  TForm1 form(boxes);
  form.show();
  QStringList sent;
  form.ADOConnection1.setStatementObserver([&](const QString& s) { sent << s; });
  const QString interval = form.decimalSeparator() == '.' ? QStringLiteral("2.5") : QStringLiteral("2,5");
  form.SaveSettings(interval, 12);
  EXPECT_EQ(sent, (QStringList{QStringLiteral("update setting set secend=2.5"),
                               QStringLiteral("update setting set measureTotal=12")}));
  EXPECT_EQ(scalar(form, QStringLiteral("select secend from setting")), 2.5);

  // Text that is no number never reaches the database, and nothing after it runs.
  sent.clear();
  EXPECT_THROW(form.SaveSettings(QStringLiteral("1;delete from setting"), 7), common::EConvertError);
  EXPECT_TRUE(sent.isEmpty());
  // A file that has gone: the engine's error, and the unit count is not attempted.
  form.ADOConnection1.Close();
  ASSERT_TRUE(QFile::remove(folder.file(QStringLiteral("db1.mdb"))));
  EXPECT_THROW(form.SaveSettings(interval, 7), engine::EDatabaseError);
  EXPECT_TRUE(sent.isEmpty());
}

TEST(StoreHandlers, StoreSamplesRunsAtOneHundredEightySeconds) {
  StationFolder folder;
  folder.makeDatabase(QStringLiteral("5"), 3);
  toolkit::RecordingMessageBoxes boxes;
  TForm1 form(boxes);
  form.show();
  form.polling->UnitCount = static_cast<std::uint8_t>(form.SpinEdit1->value());  // as the start takes it
  form.Timer1->setEnabled(true);
  form.polling->ElapsedSeconds = 175;
  form.StoreSamples();
  EXPECT_EQ(form.polling->ElapsedSeconds, 175);
  ASSERT_TRUE(form.store.waitIdle());
  EXPECT_FALSE(form.store.tableExists(QStringLiteral("measure1")));

  form.polling->tables.CellVoltage[2][1] = 3.795;
  form.polling->ElapsedSeconds = 182;
  form.StoreSamples();
  EXPECT_EQ(form.polling->ElapsedSeconds, 0);
  // The row holds the tables as the run took them, not as they are when it is written.
  form.polling->tables.CellVoltage[2][1] = 4;
  ASSERT_TRUE(form.store.waitIdle());
  EXPECT_TRUE(form.Timer1->enabled());
  for (int u = 1; u <= 3; ++u) EXPECT_EQ(rows(form, u), 1) << u;
  EXPECT_FALSE(form.store.tableExists(QStringLiteral("measure4")));
  EXPECT_EQ(scalar(form, QStringLiteral("select V1 from measure2")), 3.795);
  EXPECT_FALSE(form.ADOQuery1.Active());

  form.polling->ElapsedSeconds = 180;
  form.StoreSamples();
  ASSERT_TRUE(form.store.waitIdle());
  EXPECT_EQ(scalar(form, QStringLiteral("select max(measureTime) from measure3")), 0.05);
}

TEST(StoreHandlers, AFileGoneDuringPollingGivesTheEngineErrorOnly) {
  StationFolder folder;
  folder.makeDatabase(QStringLiteral("5"), 2);
  toolkit::RecordingMessageBoxes boxes;
  TForm1 form(boxes);
  form.show();
  form.polling->UnitCount = static_cast<std::uint8_t>(form.SpinEdit1->value());  // as the start takes it
  QStringList announced;
  QObject::connect(form.polling, &acquisition::PollingController::samplingFailed, &form,
                   [&](const QString& text) { announced << text; });
  form.polling->ElapsedSeconds = 180;
  form.guard().run([&] { form.StoreSamples(); });
  ASSERT_TRUE(form.store.waitIdle());
  ASSERT_TRUE(boxes.boxes.empty());
  for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
    QFile::remove(folder.file(QStringLiteral("db1.mdb") + suffix));
  form.polling->ElapsedSeconds = 180;
  form.guard().run([&] { form.StoreSamples(); });
  ASSERT_TRUE(form.store.waitIdle());
  const QStringList errors = boxes.texts(Kind::Error);
  ASSERT_EQ(errors.size(), 1);
  EXPECT_TRUE(errors.front().startsWith(QStringLiteral("Could not find file"))) << errors.front().toStdString();
  EXPECT_EQ(announced, errors);  // the run failed, and polling knows it
  EXPECT_FALSE(QFileInfo::exists(folder.file(QStringLiteral("db1.mdb"))));
  EXPECT_FALSE(form.ADOQuery1.Active());
}

TEST(StoreHandlers, ClearingAsksFirstAndEmptiesTheCountedTables) {
  StationFolder folder;
  folder.makeDatabase(QStringLiteral("5"), 4);
  toolkit::RecordingMessageBoxes boxes;
  TForm1 form(boxes);
  form.show();
  form.polling->UnitCount = static_cast<std::uint8_t>(form.SpinEdit1->value());  // as the start takes it
  for (int run = 0; run < 2; ++run) {
    form.polling->ElapsedSeconds = 180;
    form.StoreSamples();
  }
  ASSERT_TRUE(form.store.waitIdle());
  form.SpinEdit1->setValue(3);

  boxes.confirmAnswer = Answer::No;
  form.SpeedButton4Click();
  EXPECT_EQ(boxes.texts(Kind::Confirmation), QStringList{QStringLiteral("确认要删除保存的所有数据吗？")});
  for (int u = 1; u <= 4; ++u) EXPECT_EQ(rows(form, u), 2) << u;

  boxes.confirmAnswer = Answer::Yes;
  // A run taken just before the clearing is cleared with the rest, never written after it.
  form.polling->ElapsedSeconds = 180;
  form.StoreSamples();
  form.SpeedButton4Click();
  ASSERT_TRUE(form.store.waitIdle());
  for (int u = 1; u <= 3; ++u) EXPECT_EQ(rows(form, u), 0) << u;
  EXPECT_EQ(rows(form, 4), 3);
  EXPECT_FALSE(form.ADOQuery1.Active());
}
