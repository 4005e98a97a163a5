#pragma once
// What line health shows in the window: the cells in alarm on a red ground in the six tables,
// an offline unit's values in grey, the total marked likewise, and the notice below the tables
// naming the units in alarm or offline, after the station's own notices (limits that could not
// be read, ...). With no alarm, every unit answering and no notice it changes nothing the
// window shows.
#include <QLabel>
#include <array>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "health/StationView.h"

class QPalette;

namespace health {

class AlarmTracker;
class LineCounts;

class AlarmMarks {
 public:
  /// Everything is borrowed and must outlive the marks.
  AlarmMarks(const StationView& view, const AlarmTracker& alarms, const LineCounts& counts);
  ~AlarmMarks();

  /// Marks the unit on show after its readings, the alarms or the line changed.
  void paintShownUnit();
  /// Rewrites the notice below the tables.
  void updateNotice();
  QLabel* notice() const { return notice_; }

  /// Puts a notice of the station in the strip under `key`, replacing the text that key had;
  /// an empty text takes it away. Notices stand in the order their keys were first set,
  /// before the units in alarm or offline; the strip is hidden when nothing is left.
  void setNotice(const QString& key, const QString& text);
  void clearNotice(const QString& key) { setNotice(key, QString()); }
  bool hasNotice(const QString& key) const;

 private:
  void paintTotal(int unit);

  const StationView& view_;
  const AlarmTracker& alarms_;
  const LineCounts& counts_;
  QLabel* notice_ = nullptr;
  /// The station's notices by key, in the order first set.
  std::vector<std::pair<QString, QString>> notices_;
  /// Per table, per row: the marks now on the row (bit 0 alarm, bit 1 offline).
  std::array<std::vector<std::uint8_t>, 6> marked_;
  int totalMarks_ = 0;
  std::unique_ptr<QPalette> totalPalette_;
  bool totalAutoFill_ = false;
};

}  // namespace health
