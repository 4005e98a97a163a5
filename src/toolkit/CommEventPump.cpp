#include "toolkit/CommEventPump.h"

#include "comm/TComm.h"
#include "toolkit/HandlerGuard.h"

namespace toolkit {

CommEventPump::CommEventPump(comm::TComm& comm, HandlerGuard& guard, QObject* parent)
    : QObject(parent), comm_(comm), guard_(guard), notifier_(comm.notifyHandle(), QSocketNotifier::Read) {
  connect(&notifier_, &QSocketNotifier::activated, this, &CommEventPump::dispatch);
}

void CommEventPump::dispatch() {
  // A handler that throws ends this round; what follows stays queued and keeps the handle
  // readable, so the loop comes back for it. A handler's nested event loop may enter here
  // again, which the component allows.
  guard_.run([this] { comm_.dispatchPending(); });
}

}  // namespace toolkit
