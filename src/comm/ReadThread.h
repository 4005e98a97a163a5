#pragma once
// TReadThread: keeps one read pending on the port while it is open, and looks at the status
// side at a modest period where the device has one. Each completed read becomes a block copy
// posted to the owner; line errors and modem changes become reports.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "comm/Notification.h"
#include "comm/StatusTracker.h"
#include "comm/WorkerThread.h"
#include "comm/port/SerialPort.h"

namespace comm {

class TReadThread final : public WorkerThread {
 public:
  /// The receive buffer, and the longest block one OnReceiveData delivers.
  static constexpr std::size_t kBufferSize = 4096;
  /// How often the modem lines and error counters are read, on devices that have them.
  static constexpr int kStatusPeriodMs = 100;

  /// Created suspended; the port, stop event and queue must outlive the thread.
  static std::unique_ptr<TReadThread> create(port::SerialPort& port, const port::Event& closeEvent,
                                             NotifyQueue& notify);
  ~TReadThread() override { join(); }

 protected:
  void Execute() override;

 private:
  TReadThread(port::SerialPort& port, const port::Event& closeEvent, NotifyQueue& notify)
      : port_(port), closeEvent_(closeEvent), notify_(notify) {}

  bool DeliverBlock(const std::uint8_t* bytes, std::size_t count);
  bool ProcessStatusEvent();
  bool PostDataBlock(std::unique_ptr<std::uint8_t[]>& copy, std::size_t count);
  bool PostLineError(std::uint32_t bits);
  bool PostModemChange(std::uint32_t code);
  void PostHangupRequest();
  bool post(Notification& n);

  port::SerialPort& port_;
  const port::Event& closeEvent_;
  NotifyQueue& notify_;
  StatusTracker status_;
  bool statusSupported_ = true;
};

}  // namespace comm
