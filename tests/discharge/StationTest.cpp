// The station on a simulated chain whose unit 1 goes through a short discharge with cell 7
// weak, discharge tests attached as the program attaches them: what is left on disk afterwards
// (the archive's record and samples, the event record in db1.mdb, the station log) and the
// report the operator prints from the record.
#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <vector>

#include "app/DischargeWiring.h"
#include "app/HealthWiring.h"
#include "discharge/Actions.h"
#include "discharge/core/Archive.h"
#include "discharge/core/Judgement.h"
#include "discharge/core/Monitor.h"
#include "e2e/ChainStation.h"
#include "health/HealthMonitor.h"
#include "log/StationLog.h"
#include "report/ReportDialogs.h"
#include "report/RvSystem.h"
#include "support/PdfReader.h"

namespace {

using namespace discharge;

class DischargeStation : public ChainStation {
 protected:
  void TearDown() override {
    if (form) form->close();
    discharges.reset();
    health.reset();
    ChainStation::TearDown();
    stationlog::uninstall();
  }

  std::unique_ptr<health::HealthMonitor> health;
  std::unique_ptr<Monitor> discharges;
};

/// A good reply of unit 1 as the tables held it, in whole mV.
struct Seen {
  int totalMv = 0;
  std::vector<int> cellMv;
};

TEST_F(DischargeStation, aSimulatedDischargeLeavesOneRecordItsEventsAndAReportNamingTheWeakCell) {
  // 24 cells; from 2 s after the simulator's start, 9 s of discharge with cell 7 falling faster.
  open(QStringLiteral("60"), 1,
       {QStringLiteral("--units"), QStringLiteral("1"), QStringLiteral("--cells"), QStringLiteral("24"),
        QStringLiteral("--byte-time"), QStringLiteral("0"), QStringLiteral("--discharge"), QStringLiteral("1:2:0.15:7")});
  stationlog::install(folder.path());
  health = attachHealth(*form);
  discharges = attachDischarge(*form, *health);
  QSignalSpy started(discharges.get(), &Monitor::started);
  QSignalSpy ended(discharges.get(), &Monitor::ended);
  std::vector<Seen> replies;
  QObject::connect(form->polling, &acquisition::PollingController::replyHandled, form.get(),
                   [this, &replies](const acquisition::ReplyOutcome& outcome, int) {
                     if (!outcome.stored() || outcome.unit != 1) return;
                     const acquisition::MeasurementTables& t = form->polling->tables;
                     Seen s{toMillivolts(t.TotalVoltage[1]), {}};
                     for (int k = 1; k <= t.CellCount[1]; ++k) s.cellMv.push_back(toMillivolts(t.CellVoltage[1][k]));
                     replies.push_back(std::move(s));
                   });

  form->SpeedButton1->click();
  QDeadlineTimer deadline(60000);
  while (ended.isEmpty() && !deadline.hasExpired()) {
    ASSERT_TRUE(tickAndAwaitReply());
    QTest::qWait(20);
  }
  ASSERT_EQ(started.count(), 1);
  ASSERT_EQ(ended.count(), 1);
  form->SpeedButton1->click();

  // The record: begun automatically at its first sample, ended when the total came back.
  discharges->recorder().flush();
  Archive archive(archiveFile(folder.path()));
  const auto list = archive.list();
  ASSERT_EQ(list.size(), 1u);
  const Recording r = archive.load(list[0].id);
  EXPECT_EQ(r.record.unit, 1);
  EXPECT_EQ(r.record.startedBy, StartReason::Automatic);
  ASSERT_TRUE(r.record.endedBy && r.record.endMs);
  EXPECT_EQ(*r.record.endedBy, EndReason::Recovered);
  ASSERT_GT(r.size(), 10u);
  EXPECT_EQ(r.record.startMs, r.times.front());
  EXPECT_GE(*r.record.endMs, r.times.back());

  // Every good reply from the first one below the line on is in the recording, in order, and
  // the replies after it are all back above the line.
  const int line = Settings{}.thresholdMv * 24;
  std::size_t first = 0;
  while (first < replies.size() && replies[first].totalMv >= line) ++first;
  ASSERT_LT(first + r.size(), replies.size() + 1);
  for (std::size_t i = 0; i < r.size(); ++i) {
    const Seen& s = replies[first + i];
    ASSERT_EQ(r.totals[i], s.totalMv) << "sample " << i;
    for (int k = 1; k <= 24; ++k) ASSERT_EQ(r.cell(i, k), s.cellMv[static_cast<std::size_t>(k - 1)]) << "sample " << i << " cell " << k;
  }
  for (std::size_t i = first + r.size(); i < replies.size(); ++i) EXPECT_GT(replies[i].totalMv, line) << "reply " << i;
  // The recording ends with the readings that showed the recovery; the values at its end are
  // those under load.
  EXPECT_GT(r.totals.back(), line);
  EXPECT_LT(judge(r, r.record.endMv).endTotalMv, line);

  // The events, in the event record and in the station log.
  ASSERT_TRUE(health->flushEvents());
  QStringList kinds;
  for (const auto& e : health->db().events(1)) kinds << e.kind;
  EXPECT_EQ(kinds, (QStringList{QStringLiteral("放电结束"), QStringLiteral("放电开始")}));
  stationlog::uninstall();
  QFile log(folder.file(QString::fromLatin1(stationlog::kFileName)));
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  const QString logged = QString::fromUtf8(log.readAll());
  EXPECT_TRUE(logged.contains(QStringLiteral("放电开始")) && logged.contains(QStringLiteral("放电结束"))) << logged.toStdString();

  // The report of the record, to a PDF as the operator's 报告… writes it, names cell 7 first
  // (poppler reads a few of the font's glyphs back as radicals: 首 as ⾸, so those are left out).
  report::ScriptedReportDialogs dialogs;
  dialogs.answer = report::ScriptedReportDialogs::Answer::File;
  dialogs.fileName = folder.file(QStringLiteral("discharge.pdf"));
  report::TRvSystem rv;
  rv.setDialogs(dialogs);
  rv.OnPrint = reportBody(discharges->archivePath(), list[0].id, QStringLiteral("Room-A"));
  rv.Execute(form.get());
  const QString text = QString::fromUtf8(pdf::run(QStringLiteral("pdftotext"), {dialogs.fileName, QStringLiteral("-")}));
  EXPECT_TRUE(text.contains(QStringLiteral("的单体：第7节"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("最弱的单体（由弱到强）：7、"))) << text.toStdString();
  EXPECT_TRUE(errors().isEmpty()) << errors().join('\n').toStdString();
}

TEST_F(DischargeStation, aRecordLeftOpenByACrashIsAnEventOfTheNextStart) {
  open(QStringLiteral("60"), 3, {QStringLiteral("--units"), QStringLiteral("3"), QStringLiteral("--cells"), QStringLiteral("24")});
  const qint64 start = QDateTime(QDate(2026, 12, 9), QTime(10, 0)).toMSecsSinceEpoch();
  {
    // The station died 60 s into a discharge of unit 3: the record open, its samples stored.
    Recorder crashed(archiveFile(folder.path()));
    DischargeRecord r;
    r.unit = 3;
    r.cells = 24;
    r.startMs = start;
    const qint64 token = crashed.begin(r);
    Sample s;
    s.cells = 24;
    for (qint64 t = start; t <= start + 60000; t += 20000) {
      s.timeMs = t;
      crashed.add(token, s);
    }
  }
  health = attachHealth(*form);
  discharges = attachDischarge(*form, *health);
  // Said at the start, before any polling, with the record's start and its last sample.
  ASSERT_TRUE(health->flushEvents());
  const auto events = health->db().events(3);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, QStringLiteral("放电记录中断"));
  EXPECT_TRUE(events[0].detail.contains(reportTime(start)) && events[0].detail.contains(reportTime(start + 60000)))
      << events[0].detail.toStdString();
  EXPECT_EQ(Archive(archiveFile(folder.path())).list().front().endedBy, EndReason::Interrupted);
}

}  // namespace
