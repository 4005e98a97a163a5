// The real dialogs offscreen: 放电设置 refusing and storing, 放电记录 listing, taking the rated
// runtime, exporting and asking for a report.
#include <gtest/gtest.h>

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include "discharge/Actions.h"
#include "discharge/RecordsDialog.h"
#include "discharge/SettingsDialog.h"
#include "discharge/core/Archive.h"
#include "discharge/core/Csv.h"
#include "discharge/core/Monitor.h"
#include "discharge/core/SettingsDb.h"
#include "support/StationFolder.h"
#include "toolkit/MessageBoxes.h"

using namespace discharge;
using toolkit::MessageBoxes;

TEST(Dialogs, settingsAreRefusedWithAMessageThenStoredAndUsed) {
  StationFolder folder;
  folder.makeDatabase(QStringLiteral("1"), 5);
  Monitor monitor(folder.path(), QStringLiteral("db1.mdb"));
  toolkit::RecordingMessageBoxes boxes;
  SettingsDialog dialog(monitor.settings(), ',', nullptr);
  takeSettingsFrom(dialog, monitor, ',', boxes);
  EXPECT_EQ(dialog.edits[0]->text(), QStringLiteral("2,13"));
  dialog.show();
  dialog.edits[2]->setText(QStringLiteral("2,2"));
  dialog.accept();
  EXPECT_TRUE(dialog.isVisible()) << "a refused value keeps the dialog open";
  ASSERT_EQ(boxes.texts(MessageBoxes::Kind::Error).size(), 1);
  EXPECT_TRUE(boxes.texts(MessageBoxes::Kind::Error)[0].contains(QStringLiteral("终止电压")));
  EXPECT_EQ(loadSettings(QStringLiteral("db1.mdb")), Settings{});

  dialog.edits[0]->setText(QStringLiteral("2,23"));
  dialog.edits[3]->setText(QStringLiteral("90"));
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  const Settings want{2230, 20, 2200, 90};
  EXPECT_EQ(loadSettings(QStringLiteral("db1.mdb")), want);
  EXPECT_EQ(monitor.settings(), want);
}

TEST(Dialogs, theRecordsListTakesTheRatedRuntimeExportsAndAsksForTheReport) {
  StationFolder folder;
  const QString file = archiveFile(folder.path());
  {
    Recorder rec(file);
    for (int unit : {2, 5}) {
      DischargeRecord r;
      r.unit = unit;
      r.cells = 2;
      r.startMs = unit * 3'600'000LL;
      const qint64 token = rec.begin(r);
      Sample s;
      s.cells = 2;
      s.cellMv = {2010, 1990};
      s.totalMv = 4000;
      for (int i = 0; i < 3; ++i) {
        s.timeMs = r.startMs + i * 400;
        rec.add(token, s);
      }
      rec.end(token, r.startMs + 800, EndReason::Recovered);
    }
  }
  Archive archive(file);
  toolkit::RecordingMessageBoxes boxes;
  RecordsDialog dialog(archive, boxes);
  std::vector<qint64> asked;
  dialog.openReport = [&](qint64 id) { asked.push_back(id); };
  dialog.reload();
  ASSERT_EQ(dialog.table->rowCount(), 2);
  EXPECT_EQ(dialog.table->item(0, 1)->text(), QStringLiteral("5")) << "newest first";
  const qint64 newest = dialog.selectedId();
  ASSERT_NE(newest, 0);

  dialog.table->item(0, 8)->setText(QStringLiteral("三小时"));
  EXPECT_EQ(boxes.texts(MessageBoxes::Kind::Error).size(), 1);
  EXPECT_EQ(archive.record(newest)->ratedMinutes, std::nullopt);
  dialog.table->item(0, 8)->setText(QStringLiteral("180"));
  EXPECT_EQ(archive.record(newest)->ratedMinutes, 180);
  EXPECT_EQ(dialog.selectedId(), newest) << "the edited record stays selected";

  const QString csv = folder.file(QStringLiteral("out.csv"));
  dialog.chooseCsvFile = [&](const QString& suggested) {
    EXPECT_TRUE(suggested.endsWith(QStringLiteral(".csv")));
    return csv;
  };
  dialog.csvButton->click();
  QFile f(csv);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), recordingCsv(archive.load(newest)));
  EXPECT_EQ(boxes.texts(MessageBoxes::Kind::Error).size(), 1);

  dialog.table->selectRow(1);
  dialog.reportButton->click();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_NE(asked[0], newest);
  // The report body loads that record and writes both pages.
  EXPECT_NO_THROW(reportBody(file, asked[0], QStringLiteral("站")));
  EXPECT_THROW(reportBody(file, 999, QStringLiteral("站")), ArchiveError);
}
