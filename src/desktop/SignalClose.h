#pragma once
// SIGTERM, SIGINT and SIGHUP end the station the way closing its window does, so a service
// stop or a Ctrl-C leaves the port released and db1.mdb closed and whole.
//
// The signal handler only writes the signal number into a pipe; a socket notifier on the main
// thread reads it and calls the close action there, between two events. After a signal, boxes
// that open are closed and the main event loop is asked to end, until the program ends. One
// instance at a time; while it lives it owns the three signals, and it puts back the previous
// dispositions when destroyed.
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <functional>
#include <memory>

namespace desktop {

class SignalClose : public QObject {
  Q_OBJECT
 public:
  /// `close` runs on the thread that created this object, once per signal received.
  explicit SignalClose(std::function<void()> close, QObject* parent = nullptr);
  ~SignalClose() override;
  SignalClose(const SignalClose&) = delete;
  SignalClose& operator=(const SignalClose&) = delete;

  /// The signal most recently acted on; 0 before any.
  int lastSignal() const { return lastSignal_; }

 private:
  void drain();
  void closeModalBoxes();

  std::function<void()> close_;
  int pipe_[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> notifier_;
  int lastSignal_ = 0;
  QTimer ending_;
};

}  // namespace desktop
