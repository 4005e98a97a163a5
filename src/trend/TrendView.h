#pragma once
// The long-term record on the history chart: the chart's context menu with the time range
// (24 小时, 7 天, 30 天, 1 年, 全部), 更早 / 更晚, 跳到日期…, the option 自动纵轴, and the
// cell comparison and export dialogs of the unit on show.
//
// The 24 hours ending now are the history view's own stored day, drawn by the view as always;
// every other range is read from the archive (archive/ in the station folder) and drawn per
// pixel column of the plot: the band from lowest to highest and the mean, read on a thread of
// its own (the chart shows its axes at once and the curve when it has been read; a range
// changed meanwhile drops the older reading). Opening the view from
// the tables starts at the stored day again; while it is shown, the range holds for another
// cell or unit. 自动纵轴 (off at first) fits the value axis to what is drawn.
#include <QDate>
#include <QObject>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <thread>

#include "report/PageWriter.h"
#include "trend/core/TrendRange.h"

class QDialog;
class QMenu;
class QProgressDialog;

namespace history {
class HistoryView;
struct Selector;
}  // namespace history
namespace toolkit {
class HandlerGuard;
}

namespace trend {

class TrendView : public QObject {
  Q_OBJECT
 public:
  /// Attaches to the view, which must outlive this object (own it beside the window, destroyed
  /// first); `archiveFolder` is the station
  /// folder's archive/, `station` the name printed on the comparison.
  TrendView(history::HistoryView& view, toolkit::HandlerGuard& guard, QString archiveFolder, QString station);
  ~TrendView() override;

  // The modal parts, replaceable in tests.
  std::function<void(QMenu&, const QPoint&)> runMenu;
  std::function<void(QDialog&)> runDialog;
  /// The day a range should end with; none when the operator cancelled.
  std::function<std::optional<QDate>(const QDate& initial)> askDate;
  /// A file to write, or empty when the operator gave none.
  std::function<QString(const QString& title, const QString& suggested)> askSavePath;
  /// Called whenever a progress window (the comparison's pass, an export) updates; tests cancel
  /// through it.
  std::function<void(QProgressDialog&)> progressShown;
  /// Runs a report body through the report component (output options, preview, printer, PDF).
  std::function<void(const std::function<void(report::PageWriter&)>& body)> runReport;
  /// The clock, UTC ms.
  std::function<qint64()> now;

  const TrendRange& range() const { return range_; }
  bool autoAxis() const { return autoAxis_; }
  /// The range the comparison and the export take: the one on show (the stored day's 24 hours
  /// from the archive).
  Range shownRange();

  /// The chart's menu as a right click shows it.
  void fillMenu(QMenu& menu);
  // What its entries do; each draws the curve on show again.
  void choose(Span span);
  void earlier();
  void later();
  void jumpToDate();
  void setAutoAxis(bool on);
  void openComparison();
  void openExport();

 signals:
  /// A range's curve read from the archive has been drawn (the 24 hours are drawn at once).
  void curveLoaded();

 private:
  struct Loaded;
  struct Reading {
    std::thread thread;
    std::atomic<bool> ended{false};
  };
  void takeLoaded(const Loaded& loaded);
  void collectReadings();

  bool draw(int unit, const history::Selector& selector);
  void fitAxis();
  void redraw();

  history::HistoryView& view_;
  toolkit::HandlerGuard& guard_;
  QString folder_;
  QString station_;
  TrendRange range_;
  bool autoAxis_ = false;
  /// Counts the curves asked for: a reading that comes back for an older one is dropped.
  int asked_ = 0;
  std::list<std::unique_ptr<Reading>> readings_;
};

}  // namespace trend
