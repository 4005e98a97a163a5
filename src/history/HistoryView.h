#pragma once
// The history view: the bar with its caption, the curve selector and the back button, over the
// chart of one unit's stored 24 hours. It lays its controls on the window it is given (the bar
// over the cell tables, the chart below it), hidden until a curve is opened; the window keeps
// them under their form names and routes their events here.
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

#include "history/core/Selector.h"

class QComboBox;
class QFrame;
class QPushButton;
class QWidget;

namespace store {
class StationStore;
}
namespace toolkit {
class AutoSizeLabel;
class QueryChart;
}  // namespace toolkit

namespace history {

class HistoryView : public QObject {
  Q_OBJECT
 public:
  /// `store` serves the curves; `shownUnit` tells the unit chosen in the window. Both outlive
  /// the view.
  HistoryView(QWidget* window, store::StationStore& store, std::function<int()> shownUnit);

  QFrame* const Panel3;
  toolkit::AutoSizeLabel* const Label7;
  QComboBox* const ComboBox1;
  QPushButton* const SpeedButton3;
  toolkit::QueryChart* const DBChart1;

  bool isShown() const;
  /// The stamp of the latest opening, as the title shows it.
  const QString& stamp() const { return stamp_; }

  /// Opens the curve that `text` names for the unit on show. Any text that names no curve (a
  /// half-typed selector, an empty row key) leaves the view as it is. Throws the store's error
  /// when the curve cannot be read; the steps before the reading stay done then.
  void show(const QString& text);
  /// The selector's text was edited: marks it while it names no curve, opens it when it does.
  void selectorEdited();
  /// Another unit was chosen: the curve on show follows it, with the last curve opened.
  void unitChanged();
  /// Back to the cell tables.
  void hide();

  /// The unit on show and the selector of the curve last opened (empty before the first).
  int unit() const { return shownUnit_(); }
  const QString& selectorText() const { return lastOpened_; }

  /// A curve other than the stored 24 hours (a feature's longer ranges): called at every
  /// opening once the bar is set, before the 24 hours are read, with the unit and the selector.
  /// It returns true when it drew the chart (title, axes, curve), which the view then enables
  /// and shows; false leaves the opening to the 24 hours. Unset: always the 24 hours.
  std::function<bool(int unit, const Selector& selector)> drawOther;

 signals:
  /// A curve was opened and the view shows it.
  void curveShown();

 private:
  void markSelector(bool namesCurve);

  store::StationStore& store_;
  std::function<int()> shownUnit_;
  QString stamp_;
  /// The selector of the curve last opened: a unit change redraws it whatever the box holds.
  QString lastOpened_;
};

}  // namespace history
