#pragma once
// A periodic timer whose ticks arrive on the main thread. Unlike a bare QTimer, an interval of
// 0 or below never ticks (a 0 ms QTimer would fire on every pass of the event loop).
#include <QObject>
#include <QTimer>

namespace toolkit {

class PollTimer : public QObject {
  Q_OBJECT
 public:
  explicit PollTimer(int intervalMs, QObject* parent = nullptr);

  int interval() const { return interval_; }
  void setInterval(int ms);
  bool enabled() const { return enabled_; }
  void setEnabled(bool on);
  /// True when ticks are actually due: enabled with a positive interval.
  bool ticking() const { return timer_.isActive(); }

 signals:
  void tick();

 private:
  void apply();
  QTimer timer_;
  int interval_;
  bool enabled_ = false;
};

}  // namespace toolkit
