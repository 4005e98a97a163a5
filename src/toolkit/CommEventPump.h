#pragma once
// Raises a serial component's events on the main thread: wakes the event loop when the
// component's worker threads post a notification, and has the component dispatch what is
// waiting, in posting order. Any error a handler lets out goes to the handler guard, so none
// crosses Qt's event dispatch.
#include <QObject>
#include <QSocketNotifier>

namespace comm {
class TComm;
}

namespace toolkit {

class HandlerGuard;

class CommEventPump : public QObject {
  Q_OBJECT
 public:
  /// The component and the guard must outlive the pump. Create it on the thread that owns
  /// the component (the main thread).
  CommEventPump(comm::TComm& comm, HandlerGuard& guard, QObject* parent = nullptr);

 private:
  void dispatch();

  comm::TComm& comm_;
  HandlerGuard& guard_;
  QSocketNotifier notifier_;
};

}  // namespace toolkit
