// The long-term record on the real history chart, offscreen, over archive files written by the
// station's archive writer in a temporary station folder: the 7-day range with a missing day,
// the envelope against the written extremes, moving the range, the fitted axis, the stored day
// unchanged, the weak-cell comparison and its print, the export and its cancel.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDateEdit>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QGraphicsView>
#include <QMenu>
#include <QPainter>
#include <QPdfWriter>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableWidget>
#include <algorithm>
#include <cmath>

#include "archive/core/ArchiveWriter.h"
#include "history/HistoryView.h"
#include "store/StationStore.h"
#include "store/core/Statements.h"
#include "support/PdfReader.h"
#include "support/StationFolder.h"
#include "toolkit/HandlerGuard.h"
#include "toolkit/MessageBoxes.h"
#include "toolkit/QueryChart.h"
#include "trend/CompareDialog.h"
#include "trend/ExportDialog.h"
#include "trend/TrendView.h"

namespace {

constexpr qint64 kDay = 86400000;
constexpr qint64 kRun = 180000;
constexpr int kUnit = 2;
constexpr int kCells = 24;

// Unit 2's reading at run i of day d: cells near 2.25 V in 10 mV steps, cell 7 sinking 20 mV a
// day, and cell 5 at its lowest (2.05 V) once on day 1 and its highest (2.41 V) once on day 5.
archive::UnitReading reading(int day, int i) {
  archive::UnitReading r;
  r.unit = kUnit;
  r.cellCount = kCells;
  double total = 0;
  for (int k = 1; k <= kCells; ++k) {
    double v = 2.25 + 0.01 * ((i + k) % 3 - 1);
    if (k == 7) v = 2.30 - 0.02 * day;
    if (k == 5 && day == 1 && i == 100) v = 2.05;
    if (k == 5 && day == 5 && i == 200) v = 2.41;
    r.cells[std::size_t(k - 1)] = v;
    total += v;
  }
  r.total = std::round(total * 10) / 10;
  return r;
}

// The history view on a window of its own over a real db1.mdb of five units, unit 2 on show,
// with two stored samples of cell 5 at 2.2 V; the archive holds days 0..6 from 2026-03-01
// (UTC) of unit 2, a run every 180 s, but not day 3.
class Trend : public ::testing::Test {
 protected:
  Trend() {
    folder.makeDatabase(QStringLiteral("5"), 5);
    db.connect();
    db.ADOConnection1.setStatementObserver([this](const QString& s) {
      if (s.startsWith(QStringLiteral("select V"))) curveQueries << s;
    });
    db.ADOConnection1.Execute(store::createTable(kUnit));
    for (const double t : {1.0, 2.0}) {
      acquisition::CellRow cells;
      cells[5] = 2.2;
      db.ADOConnection1.Execute(store::insertSample(kUnit, cells, 48.0, t));
    }
    window.resize(753, 560);
    view = new history::HistoryView(&window, db, [this] { return unit; });
    window.show();
    trend = std::make_unique<trend::TrendView>(*view, guard, folder.file(QStringLiteral("archive")), QStringLiteral("test"));
    trend->now = [this] { return t0 + 7 * kDay; };
    trend->runMenu = [this](QMenu& menu, const QPoint&) {
      menuTexts.clear();
      disabled.clear();
      for (QAction* a : menu.actions()) {
        if (!a->isSeparator()) menuTexts << a->text();
        if (!a->isEnabled()) disabled << a->text();
      }
      if (pick.isEmpty()) return;
      for (QAction* a : menu.actions())
        if (a->text() == pick) a->trigger();
    };
    archive::WriterOptions options;
    options.folder = folder.file(QStringLiteral("archive"));
    archive::ArchiveWriter writer(options);
    for (int day = 0; day < 7; ++day) {
      if (day == 3) continue;
      for (int i = 0; i < 480; ++i) {
        archive::Run run;
        run.timeMs = t0 + day * kDay + i * kRun;
        run.units.push_back(reading(day, i));
        writer.append(run);
        written.push_back(run.timeMs);
      }
    }
  }

  /// Waits until the range's curve, read off the window's thread, is drawn.
  void waitForCurve() {
    QSignalSpy loaded(trend.get(), &trend::TrendView::curveLoaded);
    ASSERT_TRUE(loaded.wait(60000));
  }

  /// A right click on the chart, taking the entry `entry` (none: only looks).
  void rightClick(const QString& entry = {}) {
    pick = entry;
    QWidget* viewport = view->DBChart1->findChild<QGraphicsView*>()->viewport();
    QContextMenuEvent e(QContextMenuEvent::Mouse, QPoint(200, 200), viewport->mapToGlobal(QPoint(200, 200)));
    QApplication::sendEvent(viewport, &e);
  }

  StationFolder folder;
  store::StationStore db;
  QWidget window;
  history::HistoryView* view = nullptr;
  int unit = kUnit;
  toolkit::RecordingMessageBoxes boxes;
  toolkit::HandlerGuard guard{boxes, &window};
  std::unique_ptr<trend::TrendView> trend;
  const qint64 t0 = QDateTime(QDate(2026, 3, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
  std::vector<qint64> written;
  QStringList curveQueries;
  QStringList menuTexts;
  QStringList disabled;
  QString pick;
};

double lowest(const QList<QPointF>& points) {
  double v = 1e9;
  for (const QPointF& p : points) v = std::min(v, p.y());
  return v;
}
double highest(const QList<QPointF>& points) {
  double v = -1e9;
  for (const QPointF& p : points) v = std::max(v, p.y());
  return v;
}

}  // namespace

TEST_F(Trend, SevenDaysShowTheWrittenDaysAsAnEnvelopeWithAGapForTheMissingDay) {
  view->show(QStringLiteral("5"));
  rightClick();
  EXPECT_EQ(menuTexts, (QStringList{QStringLiteral("24 小时"), QStringLiteral("7 天"), QStringLiteral("30 天"),
                                    QStringLiteral("1 年"), QStringLiteral("全部"), QStringLiteral("更早"),
                                    QStringLiteral("更晚"), QStringLiteral("跳到日期…"), QStringLiteral("自动纵轴"),
                                    QStringLiteral("单体对比…"), QStringLiteral("导出长期记录…")}));
  rightClick(QStringLiteral("7 天"));
  const toolkit::QueryChart& chart = *view->DBChart1;
  // The axes at once; the curve once read, the window's loop turning meanwhile.
  EXPECT_EQ(chart.bottomAxis().max, double(t0 + 7 * kDay));
  EXPECT_TRUE(chart.bandLow().isEmpty());
  waitForCurve();
  ASSERT_TRUE(boxes.boxes.empty()) << boxes.boxes.front().text.toStdString();
  EXPECT_EQ(chart.bottomAxis().min, double(t0));
  EXPECT_EQ(chart.bottomAxis().max, double(t0 + 7 * kDay));
  EXPECT_TRUE(chart.title().contains(QStringLiteral("7 天"))) << chart.title().toStdString();
  EXPECT_FALSE(chart.title().contains(QStringLiteral("无长期记录")));
  EXPECT_EQ(chart.leftAxis().max, 16);

  const QList<QPointF> low = chart.bandLow(), high = chart.bandHigh(), mean = chart.seriesPoints();
  ASSERT_FALSE(low.isEmpty());
  EXPECT_LE(low.size(), chart.plotWidth());
  EXPECT_EQ(mean.size(), low.size());
  EXPECT_DOUBLE_EQ(lowest(low), 2.05);
  EXPECT_DOUBLE_EQ(highest(high), 2.41);
  // Every written day has columns; the missing day has none (a column's middle may reach a
  // quarter of an hour into it from either side).
  for (int day = 0; day < 7; ++day) {
    const double from = double(t0 + day * kDay + 3600000), to = double(t0 + (day + 1) * kDay - 3600000);
    const auto inDay = std::count_if(low.begin(), low.end(), [&](const QPointF& p) { return p.x() >= from && p.x() < to; });
    if (day == 3) EXPECT_EQ(inDay, 0);
    else EXPECT_GT(inDay, 50) << day;
  }
}

TEST_F(Trend, EarlierAndLaterMoveByTheRangeAndTheStoredDayComesBackUnchanged) {
  view->show(QStringLiteral("5"));
  view->DBChart1->setTitleLine(QStringLiteral("t"));
  // Both pictures are taken with the window's loop turned (the ranges' readings turn it).
  QCoreApplication::processEvents();
  const QImage storedDay = view->DBChart1->grab().toImage();

  trend->choose(trend::Span::Week);
  trend->earlier();
  waitForCurve();
  const toolkit::QueryChart& chart = *view->DBChart1;
  EXPECT_EQ(chart.bottomAxis().min, double(t0 - 7 * kDay));
  EXPECT_EQ(chart.bottomAxis().max, double(t0));
  // Nothing stored before the first day: said in the title, no box, no curve.
  EXPECT_TRUE(chart.title().endsWith(QStringLiteral("此时段无长期记录"))) << chart.title().toStdString();
  EXPECT_TRUE(boxes.boxes.empty());
  EXPECT_TRUE(chart.seriesPoints().isEmpty());
  rightClick(QStringLiteral("更晚"));
  waitForCurve();
  EXPECT_EQ(chart.bottomAxis().min, double(t0));
  EXPECT_EQ(chart.bottomAxis().max, double(t0 + 7 * kDay));
  rightClick();
  EXPECT_EQ(disabled, QStringList{QStringLiteral("更晚")});  // the range ends now

  trend->askDate = [](const QDate&) { return QDate(2026, 3, 3); };
  rightClick(QStringLiteral("跳到日期…"));
  waitForCurve();
  EXPECT_EQ(chart.bottomAxis().max, double(QDate(2026, 3, 4).startOfDay().toMSecsSinceEpoch()));

  // Another unit keeps the range while the view is shown.
  unit = 1;
  view->unitChanged();
  waitForCurve();
  EXPECT_EQ(chart.bottomAxis().max, double(QDate(2026, 3, 4).startOfDay().toMSecsSinceEpoch()));
  EXPECT_TRUE(chart.title().startsWith(QStringLiteral("第1台"))) << chart.title().toStdString();
  unit = kUnit;

  // 24 小时 is the stored day again, drawn as before from db1.mdb.
  curveQueries.clear();
  rightClick(QStringLiteral("24 小时"));
  EXPECT_EQ(curveQueries, QStringList{QStringLiteral("select V5,measureTime from measure2")});
  EXPECT_EQ(chart.bottomAxis().title, QStringLiteral("小时"));
  EXPECT_EQ(chart.bottomAxis().max, 24);
  view->DBChart1->setTitleLine(QStringLiteral("t"));
  QCoreApplication::processEvents();
  EXPECT_EQ(view->DBChart1->grab().toImage(), storedDay);
}

TEST_F(Trend, AutoAxisFitsATwoPointTwoVoltCellOnTheStoredDayAndTheWeek) {
  view->show(QStringLiteral("5"));
  rightClick(QStringLiteral("自动纵轴"));
  ASSERT_TRUE(trend->autoAxis());
  auto left = view->DBChart1->leftAxis();
  EXPECT_LT(left.min, 2.2);
  EXPECT_GT(left.max, 2.2);
  EXPECT_GT(left.min, 2.0);
  EXPECT_LT(left.max, 2.4);
  // A cell chosen in the selector keeps the option.
  view->ComboBox1->setEditText(QStringLiteral("7"));
  view->selectorEdited();
  EXPECT_LT(view->DBChart1->leftAxis().max, 1.0);  // cell 7 of the stored day reads 0 V

  view->show(QStringLiteral("5"));
  trend->choose(trend::Span::Week);
  waitForCurve();
  left = view->DBChart1->leftAxis();
  EXPECT_LT(left.min, 2.05);
  EXPECT_GT(left.max, 2.41);
  EXPECT_LT(left.max - left.min, 1.0);

  trend->setAutoAxis(false);
  EXPECT_EQ(view->DBChart1->leftAxis().min, 0);
  EXPECT_EQ(view->DBChart1->leftAxis().max, 16);
}

TEST_F(Trend, ComparisonNamesTheSinkingCellFirstOnScreenAndOnPaper) {
  view->show(QStringLiteral("5"));
  trend->choose(trend::Span::Week);
  // Another program holds the month file from the moment the progress window shows: the
  // window's event loop goes on turning (the window updates) while the pass waits, and once
  // the file is let go the pass reads it whole.
  const QString month = folder.file(QStringLiteral("archive/2026-03.sqlite"));
  int updates = 0;
  trend->progressShown = [&](QProgressDialog&) {
    if (++updates == 1) {
      QSqlDatabase hold = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("hold"));
      hold.setDatabaseName(month);
      ASSERT_TRUE(hold.open());
      QSqlQuery q(hold);
      ASSERT_TRUE(q.exec(QStringLiteral("PRAGMA locking_mode=EXCLUSIVE")));
      ASSERT_TRUE(q.exec(QStringLiteral("BEGIN EXCLUSIVE")));
      ASSERT_TRUE(q.exec(QStringLiteral("SELECT count(*) FROM block")));
      q.finish();
    } else if (updates == 3) {
      {
        QSqlDatabase hold = QSqlDatabase::database(QStringLiteral("hold"), false);
        QSqlQuery(hold).exec(QStringLiteral("COMMIT"));
        hold.close();
      }
      QSqlDatabase::removeDatabase(QStringLiteral("hold"));
    }
  };
  std::function<void(report::PageWriter&)> printed;
  trend->runReport = [&](const std::function<void(report::PageWriter&)>& body) { printed = body; };
  bool shown = false;
  trend->runDialog = [&](QDialog& d) {
    auto* dialog = dynamic_cast<trend::CompareDialog*>(&d);
    ASSERT_NE(dialog, nullptr);
    shown = true;
    EXPECT_EQ(dialog->cells->rowCount(), kCells);
    ASSERT_EQ(dialog->drifting->rowCount(), 10);
    EXPECT_EQ(dialog->drifting->item(0, 1)->text(), QStringLiteral("7"));
    // 20 mV a day against the others: about -600 mV a month less the others' share.
    EXPECT_NEAR(dialog->report().drifting.front().trendMvPerMonth, -575, 15);
    EXPECT_TRUE(dialog->drifting->item(0, 3)->text().startsWith(QLatin1Char('-')));
    dialog->printButton->click();
  };
  rightClick(QStringLiteral("单体对比…"));
  ASSERT_TRUE(shown);
  EXPECT_GE(updates, 3);
  ASSERT_TRUE(printed);

  const QString path = folder.file(QStringLiteral("compare.pdf"));
  {
    QPdfWriter pdf(path);
    pdf.setPageSize(QPageSize(QPageSize::Letter));
    pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
    pdf.setResolution(300);
    QPainter painter(&pdf);
    report::PageWriter w(painter, QSizeF(8.5, 11));
    w.onNewPage = [&] { pdf.newPage(); };
    printed(w);
  }
  EXPECT_EQ(pdf::pageCount(path), 2);
  const std::vector<PdfWord> words = pdf::words(path);
  const auto head = std::find_if(words.begin(), words.end(), [](const PdfWord& w) { return w.text == QStringLiteral("名次"); });
  ASSERT_NE(head, words.end());
  // The first row under the header: rank 1, cell 7, on the same line.
  const auto below = std::find_if(head, words.end(), [&](const PdfWord& w) { return w.yMin > head->yMax; });
  ASSERT_TRUE(below + 1 < words.end());
  EXPECT_EQ(below->text, QStringLiteral("1"));
  EXPECT_EQ((below + 1)->text, QStringLiteral("7"));
}

TEST_F(Trend, ExportWritesTheRangesRunsInOrderAndACancelLeavesNoFile) {
  view->show(QStringLiteral("5"));
  trend->choose(trend::Span::Week);
  QDir out(folder.file(QStringLiteral("out")));
  ASSERT_TRUE(out.mkpath(QStringLiteral(".")));
  const QString path = out.filePath(QStringLiteral("unit2.csv"));
  trend->askSavePath = [&](const QString&, const QString& suggested) {
    EXPECT_TRUE(suggested.startsWith(QStringLiteral("第2台")));
    return path;
  };
  // Three local days from the second day's, with the missing fourth among them.
  const QDate from = QDateTime::fromMSecsSinceEpoch(t0 + kDay + kDay / 2).date();
  const QDate to = QDateTime::fromMSecsSinceEpoch(t0 + 4 * kDay + kDay / 2).date();
  QByteArray bytes;
  bool shown = false;
  trend->runDialog = [&](QDialog& d) {
    auto* dialog = dynamic_cast<trend::ExportDialog*>(&d);
    ASSERT_NE(dialog, nullptr);
    shown = true;
    EXPECT_EQ(dialog->unitBox->value(), kUnit);
    dialog->fromDate->setDate(from);
    dialog->toDate->setDate(to);
    EXPECT_EQ(dialog->exportNow(), path);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    bytes = f.readAll();
    f.close();

    // Cancelled through the progress window as it shows.
    ASSERT_TRUE(QFile::remove(path));
    dialog->progressShown = [](QProgressDialog& p) { p.cancel(); };
    EXPECT_TRUE(dialog->exportNow().isEmpty());
  };
  rightClick(QStringLiteral("导出长期记录…"));
  ASSERT_TRUE(shown);
  EXPECT_TRUE(boxes.boxes.empty());
  EXPECT_EQ(out.entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());

  ASSERT_TRUE(bytes.startsWith("\xEF\xBB\xBF" "time,V1,V2,"));
  const QList<QByteArray> lines = bytes.mid(3).trimmed().split('\n');
  std::vector<qint64> want;
  const qint64 a = from.startOfDay().toMSecsSinceEpoch(), b = to.addDays(1).startOfDay().toMSecsSinceEpoch();
  for (const qint64 t : written)
    if (t >= a && t < b) want.push_back(t);
  ASSERT_GT(want.size(), 1000u);
  std::vector<qint64> got;
  for (qsizetype i = 1; i < lines.size(); ++i)
    got.push_back(
        QDateTime::fromString(QString::fromUtf8(lines[i].left(lines[i].indexOf(','))), Qt::ISODate).toMSecsSinceEpoch());
  EXPECT_EQ(got, want);
}
