#include "comm/WriteThread.h"

namespace comm {

std::unique_ptr<TWriteThread> TWriteThread::create(port::SerialPort& port, const port::Event& closeEvent,
                                                   NotifyQueue& notify) {
  std::unique_ptr<TWriteThread> t(new TWriteThread(port, closeEvent, notify));
  t->WorkerThread::create();
  return t;
}

void TWriteThread::Execute() {
  run();
  // From here SendData is refused; blocks still queued are released with the queue, unsent.
  queue_.refuse();
  port_.purge(port::kPurgeTxAbort | port::kPurgeTxClear);
}

void TWriteThread::run() {
  bool notifyEmpty = true;
  for (;;) {
    SendBlock block;
    if (!queue_.take(block)) {
      if (notifyEmpty && !PostSendEmpty()) return;
      notifyEmpty = false;
      // Wait for the stop event or a new entry. The wake is cleared before looking again, so
      // an entry posted after the look sets it anew and is not missed.
      const int which = port::waitForEither(closeEvent_, queue_.wake());
      if (which < 0) {
        PostHangupRequest();
        return;
      }
      if (which == 0) return;
      queue_.wake().reset();
      continue;
    }
    if (closeEvent_.isSet()) return;  // this block and the rest are discarded unwritten
    if (!WriteBlock(block.data.get(), block.length)) return;
    notifyEmpty = true;
  }
}

bool TWriteThread::WriteBlock(const std::uint8_t* data, std::size_t length) {
  std::size_t offset = 0;
  while (offset < length) {
    const port::WriteResult r = port_.write(data + offset, length - offset, closeEvent_);
    switch (r.kind) {
      case port::WriteResult::Kind::Written: offset += r.count; break;
      case port::WriteResult::Kind::Closed:
      case port::WriteResult::Kind::InvalidHandle: return false;
      case port::WriteResult::Kind::Failed: PostHangupRequest(); return false;
    }
  }
  return true;
}

bool TWriteThread::PostSendEmpty() {
  Notification n;
  n.kind = NotifyKind::SendEmpty;
  if (notify_.post(n)) return true;
  PostHangupRequest();
  return false;
}

void TWriteThread::PostHangupRequest() {
  // Refuse blocks before the owner can hear of the failure, so SendData answers false then.
  queue_.refuse();
  Notification n;
  n.kind = NotifyKind::HangupRequest;
  // A queue full of earlier notifications still gets this one: as the sticky mark, which the
  // owner turns into the hang-up after what is queued (a refusing queue has no owner left).
  if (!notify_.post(n)) notify_.mark();
}

}  // namespace comm
