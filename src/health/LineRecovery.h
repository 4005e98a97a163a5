#pragma once
// Brings the serial line back by itself while polling runs. When the port hangs up (a worker
// thread stopped after a failure: a USB adapter pulled out, say) or a request cannot be handed
// to the port, the port is closed and the same port name reopened with back-off: the first
// try 1 s later, then after 2, 4, 8, 16 s and from then on every 30 s, until it opens or
// polling stops. The polling cycle itself goes on as before; its next request after the
// reopening goes out on the new port.
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <string>

namespace comm {
class TComm;
}
namespace toolkit {
class HandlerGuard;
}

namespace health {

class LineRecovery : public QObject {
  Q_OBJECT
 public:
  enum class State { Idle, Up, Down };

  /// Takes over the component's hang-up event for its lifetime. Reopening runs under the guard.
  LineRecovery(comm::TComm& comm, toolkit::HandlerGuard& guard, QObject* parent = nullptr);
  ~LineRecovery() override;

  /// The wait before reopening attempt n (1-based), in ms.
  static int backoffMs(int attempt);

  State state() const { return state_; }
  /// Reopening attempts since the line went down.
  int attempts() const { return attempts_; }
  /// Times the line went down since the program started.
  int outages() const { return outages_; }
  QDateTime downSince() const { return downSince_; }
  QDateTime nextAttempt() const { return nextAttempt_; }
  QString lastError() const { return lastError_; }

  // What the window reports.
  void pollingStarted();
  void pollingStopped();
  void requestSent(int unit, bool queued);

 signals:
  void lineDown(const QString& why);
  void lineUp(int attempts);

 private:
  void onHangup();
  void goDown(const QString& why);
  void retry();
  void schedule();

  comm::TComm& comm_;
  QTimer timer_;
  State state_ = State::Idle;
  int attempts_ = 0;
  int outages_ = 0;
  QDateTime downSince_, nextAttempt_;
  QString lastError_;
  /// The device polling was started on, as a path: reopening goes back to it even when the
  /// name it was found by ("COM1", a link) has gone meanwhile.
  std::string device_;
};

}  // namespace health
