#pragma once
// A component set up like the window's Comm1, open on one end of a fresh pseudo-terminal, with
// every event it raises logged.
#include "EventLog.h"
#include "PtyPair.h"
#include "comm/TComm.h"

namespace commtest {

struct OpenComm {
  PtyPair pty;
  comm::TComm comm;
  EventLog log{comm};
  OpenComm() {
    configureLikeComm1(comm, pty.path());
    comm.OpenPort();
  }
};

}  // namespace commtest
