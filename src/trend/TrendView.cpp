#include "trend/TrendView.h"

#include <QActionGroup>
#include <QCalendarWidget>
#include <QComboBox>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLoggingCategory>
#include <QMenu>
#include <QVBoxLayout>
#include <stdexcept>

#include "archive/core/ArchiveReader.h"
#include "history/HistoryView.h"
#include "history/core/Selector.h"
#include "report/RvSystem.h"
#include "toolkit/HandlerGuard.h"
#include "toolkit/QueryChart.h"
#include "trend/BackgroundScan.h"
#include "trend/CompareDialog.h"
#include "trend/ExportDialog.h"
#include "trend/core/AxisFit.h"
#include "trend/core/TrendCurve.h"
#include "trend/core/TrendTexts.h"

Q_LOGGING_CATEGORY(lcTrend, "cellstation.trend")

namespace trend {

namespace {

// Columns kept free of the plot's width: the fitted axis' labels may take a little more room
// than the fixed axis', and a curve must never hold more columns than the plot has pixels.
constexpr int kSpareColumns = 24;

std::optional<QDate> calendarDate(QWidget* parent, const QDate& initial) {
  QDialog dialog(parent);
  dialog.setWindowTitle(QStringLiteral("跳到日期"));
  auto* calendar = new QCalendarWidget(&dialog);
  calendar->setSelectedDate(initial);
  calendar->setMaximumDate(QDate::currentDate());
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(calendar);
  layout->addWidget(buttons);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return calendar->selectedDate();
}

}  // namespace

TrendView::TrendView(history::HistoryView& view, toolkit::HandlerGuard& guard, QString archiveFolder, QString station)
    : view_(view), guard_(guard), folder_(std::move(archiveFolder)), station_(std::move(station)) {
  QWidget* window = view.DBChart1->window();
  runMenu = [](QMenu& menu, const QPoint& at) { menu.exec(at); };
  runDialog = [](QDialog& dialog) { dialog.exec(); };
  askDate = [window](const QDate& initial) { return calendarDate(window, initial); };
  askSavePath = [window](const QString& title, const QString& suggested) {
    return QFileDialog::getSaveFileName(window, title, suggested, QStringLiteral("CSV (*.csv)"));
  };
  runReport = [window](const std::function<void(report::PageWriter&)>& body) {
    report::TRvSystem rv;
    rv.OnPrint = body;
    rv.Execute(window);
  };
  now = [] { return QDateTime::currentMSecsSinceEpoch(); };

  view.drawOther = [this](int unit, const history::Selector& selector) { return draw(unit, selector); };
  connect(&view, &history::HistoryView::curveShown, this, [this] { fitAxis(); });
  connect(view.DBChart1, &toolkit::QueryChart::contextMenuRequested, this, [this](const QPoint& at) {
    guard_.run([this, at] {
      if (!view_.isShown()) return;
      QMenu menu(view_.DBChart1);
      menu.setObjectName(QStringLiteral("trendMenu"));
      fillMenu(menu);
      runMenu(menu, at);
    });
  });
}

TrendView::~TrendView() {
  view_.drawOther = nullptr;
  // A reading under way posts to this object: it has to end first.
  for (const auto& reading : readings_) reading->thread.join();
}

void TrendView::fillMenu(QMenu& menu) {
  auto* spans = new QActionGroup(&menu);
  for (const Span s : {Span::Day, Span::Week, Span::Month, Span::Year, Span::All}) {
    QAction* a = menu.addAction(TrendRange::name(s));
    a->setCheckable(true);
    a->setChecked(range_.span() == s);
    spans->addAction(a);
    connect(a, &QAction::triggered, this, guard_.wrap([this, s] { choose(s); }));
  }
  menu.addSeparator();
  QAction* back = menu.addAction(QStringLiteral("更早"));
  back->setEnabled(range_.movable());
  connect(back, &QAction::triggered, this, guard_.wrap([this] { earlier(); }));
  QAction* on = menu.addAction(QStringLiteral("更晚"));
  on->setEnabled(range_.movable() && !range_.endsNow());
  connect(on, &QAction::triggered, this, guard_.wrap([this] { later(); }));
  QAction* jump = menu.addAction(QStringLiteral("跳到日期…"));
  jump->setEnabled(range_.movable());
  connect(jump, &QAction::triggered, this, guard_.wrap([this] { jumpToDate(); }));
  menu.addSeparator();
  QAction* fit = menu.addAction(QStringLiteral("自动纵轴"));
  fit->setCheckable(true);
  fit->setChecked(autoAxis_);
  connect(fit, &QAction::toggled, this, [this](bool checked) { guard_.run([this, checked] { setAutoAxis(checked); }); });
  menu.addSeparator();
  connect(menu.addAction(QStringLiteral("单体对比…")), &QAction::triggered, this, guard_.wrap([this] { openComparison(); }));
  connect(menu.addAction(QStringLiteral("导出长期记录…")), &QAction::triggered, this,
          guard_.wrap([this] { openExport(); }));
}

void TrendView::redraw() {
  if (view_.isShown() && !view_.selectorText().isEmpty()) view_.show(view_.selectorText());
}

void TrendView::choose(Span span) {
  range_.choose(span);
  redraw();
}

void TrendView::earlier() {
  range_.earlier(now());
  redraw();
}

void TrendView::later() {
  range_.later(now());
  redraw();
}

void TrendView::jumpToDate() {
  const qint64 t = now();
  const Range shown = range_.at(t);
  const std::optional<QDate> date = askDate(QDateTime::fromMSecsSinceEpoch(shown.toMs - 1).date());
  if (!date) return;
  range_.endWith(*date, t);
  redraw();
}

void TrendView::setAutoAxis(bool on) {
  autoAxis_ = on;
  redraw();
}

Range TrendView::shownRange() {
  const qint64 t = now();
  if (range_.span() != Span::All) return range_.at(t);
  archive::ArchiveReader reader(folder_);
  return range_.at(t, reader.span(view_.unit()));
}

struct TrendView::Loaded {
  int asked = 0;
  int unit = 0;
  QString selectorText;
  Span span = Span::Day;
  Range range;
  TrendCurve curve;
  QStringList problems;
  QString failure;
};

bool TrendView::draw(int unit, const history::Selector& selector) {
  toolkit::QueryChart& chart = *view_.DBChart1;
  const int asked = ++asked_;
  // An opening from the tables (the view hidden) starts at the stored day.
  if (!view_.isShown()) range_.choose(Span::Day);
  if (range_.isStoredDay()) {
    chart.showHourAxis();
    return false;
  }
  const qint64 t = now();
  const Span span = range_.span();
  chart.clearSeries();
  if (span != Span::All) {
    const Range r = range_.at(t);
    chart.showTimeAxis(r.fromMs, std::max(r.toMs, r.fromMs + 1), axisFormat(span), axisTicks(span));
    chart.setTitleLine(rangeTitle(unit, view_.ComboBox1->currentText(), span, r, false));
  }
  chart.setValueMaximum(selector.axisMaximum());
  // The archive is read on a thread of its own: a long range takes a while from the disk.
  collectReadings();
  auto reading = std::make_unique<Reading>();
  Reading& r = *reading;
  reading->thread = std::thread([this, &r, asked, unit, cell = selector.cell, text = view_.ComboBox1->currentText(),
                                 range = range_, span, t, folder = folder_,
                                 columns = std::max(1, chart.plotWidth() - kSpareColumns)] {
    auto loaded = std::make_shared<Loaded>();
    loaded->asked = asked;
    loaded->unit = unit;
    loaded->selectorText = text;
    loaded->span = span;
    try {
      archive::ArchiveReader reader(folder);
      loaded->range = span == Span::All ? range.at(t, reader.span(unit)) : range.at(t);
      if (loaded->range.toMs > loaded->range.fromMs)
        loaded->curve = trendCurve(reader.series(unit, cell, loaded->range.fromMs, loaded->range.toMs, columns));
      loaded->problems = reader.takeProblems();
    } catch (const std::exception& e) {
      loaded->failure = QString::fromUtf8(e.what());
    }
    QMetaObject::invokeMethod(this, [this, loaded] { guard_.run([&] { takeLoaded(*loaded); }); }, Qt::QueuedConnection);
    r.ended.store(true);
  });
  readings_.push_back(std::move(reading));
  return true;
}

void TrendView::collectReadings() {
  for (auto it = readings_.begin(); it != readings_.end();) {
    if ((*it)->ended.load()) {
      (*it)->thread.join();
      it = readings_.erase(it);
    } else {
      ++it;
    }
  }
}

void TrendView::takeLoaded(const Loaded& loaded) {
  collectReadings();
  for (const QString& problem : loaded.problems) qCWarning(lcTrend).noquote() << problem;
  // A curve asked for since, or the view closed: this reading is no longer what is on show.
  if (loaded.asked != asked_ || !view_.isShown()) return;
  if (!loaded.failure.isEmpty()) throw std::runtime_error(loaded.failure.toStdString());
  toolkit::QueryChart& chart = *view_.DBChart1;
  const Range& r = loaded.range;
  if (loaded.span == Span::All)
    chart.showTimeAxis(r.fromMs, std::max(r.toMs, r.fromMs + 1), axisFormat(loaded.span), axisTicks(loaded.span));
  chart.setTitleLine(rangeTitle(loaded.unit, loaded.selectorText, loaded.span, r, loaded.curve.samples == 0));
  const TrendCurve& curve = loaded.curve;
  if (curve.condensed) {
    std::vector<std::vector<toolkit::QueryChart::BandPoint>> runs;
    for (const auto& run : curve.runs) {
      runs.emplace_back();
      for (const Column& c : run) runs.back().push_back({c.x, c.low, c.mean, c.high});
    }
    chart.showBand(runs);
  } else {
    std::vector<toolkit::QueryChart::CurvePoint> points;
    for (const auto& run : curve.runs) {
      if (!points.empty()) points.push_back({run.front().x, std::nullopt});
      for (const Column& c : run) points.push_back({c.x, c.mean});
    }
    chart.showCurve(std::move(points));
  }
  fitAxis();
  emit curveLoaded();
}

void TrendView::fitAxis() {
  if (!autoAxis_) return;
  const std::optional<history::Selector> selector = history::parseSelector(view_.selectorText());
  const auto extent = view_.DBChart1->valueExtent();
  if (!selector || !extent) return;
  const auto [lo, hi] = trend::fitAxis(extent->first, extent->second, selector->isTotal() ? 0.1 : 0.01);
  view_.DBChart1->setValueRange(lo, hi);
}

void TrendView::openComparison() {
  const int unit = view_.unit();
  const qint64 t = now();
  Range r;
  archive::DeviationReport report;
  QWidget* window = view_.DBChart1->window();
  const bool complete = runInBackground(
      window, QStringLiteral("单体对比"), QStringLiteral("正在读取第%1台的长期记录…").arg(unit),
      [&, folder = folder_, range = range_](ScanControl& control) {
        archive::ArchiveReader reader(folder);
        r = range.span() == Span::All ? range.at(t, reader.span(unit)) : range.at(t);
        if (r.toMs <= r.fromMs) return;
        control.progress(0, reader.estimateRuns(unit, r.fromMs, r.toMs));
        report = comparisonOf(folder, unit, r, [&](qint64 read) {
          control.progress(read, control.total());
          return !control.cancelled();
        });
      },
      progressShown);
  if (!complete || !report.complete) return;
  if (r.toMs <= r.fromMs) throw std::runtime_error(QStringLiteral("第%1台尚无长期记录").arg(unit).toStdString());
  CompareDialog dialog(std::move(report), unit, r, window);
  dialog.print = [this, &dialog] { runReport(dialog.reportBody(station_)); };
  runDialog(dialog);
}

void TrendView::openExport() {
  const Range r = shownRange();
  ExportDialog dialog(folder_, view_.unit(), r, guard_.boxes(), view_.DBChart1->window());
  dialog.askSavePath = askSavePath;
  dialog.progressShown = progressShown;
  runDialog(dialog);
}

}  // namespace trend
