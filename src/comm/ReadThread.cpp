#include "comm/ReadThread.h"

#include <cstring>
#include <new>

namespace comm {

std::unique_ptr<TReadThread> TReadThread::create(port::SerialPort& port, const port::Event& closeEvent,
                                                 NotifyQueue& notify) {
  std::unique_ptr<TReadThread> t(new TReadThread(port, closeEvent, notify));
  t->WorkerThread::create();
  return t;
}

void TReadThread::Execute() {
  std::uint8_t buffer[kBufferSize];
  port::ReadRequest read;
  read.buffer = buffer;
  read.capacity = kBufferSize;

  // The first look sets the baseline; a device without a status side is not asked again.
  if (!ProcessStatusEvent()) return;
  auto statusDue = statusSupported_ ? port::Deadline::after(port::Deadline::Clock::now(), kStatusPeriodMs)
                                    : port::Deadline::never();

  read.begin();
  for (;;) {
    int error = 0;
    switch (port_.read(read, closeEvent_, statusDue, error)) {
      case port::ReadOutcome::Complete:
        if (!DeliverBlock(buffer, read.count)) return;
        read.begin();
        break;
      case port::ReadOutcome::TimedOutEmpty:
        // A read that ran out of time with no byte is simply started again: nothing to
        // deliver, and the line must go on being read.
        read.begin();
        break;
      case port::ReadOutcome::StatusDue:
        if (!ProcessStatusEvent()) return;
        statusDue = statusSupported_ ? port::Deadline::after(port::Deadline::Clock::now(), kStatusPeriodMs)
                                     : port::Deadline::never();
        break;
      case port::ReadOutcome::Closed:
      case port::ReadOutcome::InvalidHandle:
        return;
      case port::ReadOutcome::EndOfFile:  // the device went away: nothing more will come
      case port::ReadOutcome::Failed:
        PostHangupRequest();
        return;
    }
    if (closeEvent_.isSet()) return;  // a stop request wins over further reads
  }
}

bool TReadThread::DeliverBlock(const std::uint8_t* bytes, std::size_t count) {
  if (count == 0) return true;
  std::unique_ptr<std::uint8_t[]> copy(new (std::nothrow) std::uint8_t[count + 1]());
  if (!copy) {
    PostHangupRequest();
    return false;
  }
  std::memcpy(copy.get(), bytes, count);
  return PostDataBlock(copy, count);
}

bool TReadThread::ProcessStatusEvent() {
  port::StatusSample sample;
  int error = 0;
  switch (port_.sampleStatus(sample, error)) {
    case port::StatusResult::Sampled: break;
    case port::StatusResult::Unsupported:
      statusSupported_ = false;
      return true;
    case port::StatusResult::InvalidHandle: return false;
    case port::StatusResult::Failed:
      PostHangupRequest();
      return false;
  }
  const StatusReport report = status_.update(sample);
  if (report.lineError && !PostLineError(report.errorBits)) return false;
  if (report.modemCode != 0 && !PostModemChange(report.modemCode)) return false;
  return true;
}

bool TReadThread::post(Notification& n) {
  if (notify_.post(n)) return true;
  PostHangupRequest();
  return false;
}

bool TReadThread::PostDataBlock(std::unique_ptr<std::uint8_t[]>& copy, std::size_t count) {
  Notification n;
  n.kind = NotifyKind::CommData;
  n.length = static_cast<std::uint16_t>(count);
  n.block = std::move(copy);
  return post(n);  // a refused block is released with n
}

bool TReadThread::PostLineError(std::uint32_t bits) {
  Notification n;
  n.kind = NotifyKind::LineError;
  n.value = bits;
  return post(n);
}

bool TReadThread::PostModemChange(std::uint32_t code) {
  Notification n;
  n.kind = NotifyKind::ModemChange;
  n.value = code;
  return post(n);
}

void TReadThread::PostHangupRequest() {
  Notification n;
  n.kind = NotifyKind::HangupRequest;
  // A queue full of earlier notifications still gets this one: as the sticky mark, which the
  // owner turns into the hang-up after what is queued (a refusing queue has no owner left).
  if (!notify_.post(n)) notify_.mark();
}

}  // namespace comm
