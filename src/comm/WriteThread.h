#pragma once
// TWriteThread: writes the blocks handed to SendData, one at a time, in the order queued,
// each completely, and reports when its queue has run empty.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "comm/Notification.h"
#include "comm/PostQueue.h"
#include "comm/WorkerThread.h"
#include "comm/port/SerialPort.h"

namespace comm {

/// One block to write: a copy owned by whoever holds the entry.
struct SendBlock {
  std::uint16_t length = 0;
  std::unique_ptr<std::uint8_t[]> data;
};

class TWriteThread final : public WorkerThread {
 public:
  /// Blocks that may wait in the send queue; a post beyond that is refused.
  static constexpr std::size_t kQueueCapacity = 1024;

  /// Created suspended; the port, stop event and notification queue must outlive it.
  static std::unique_ptr<TWriteThread> create(port::SerialPort& port, const port::Event& closeEvent,
                                              NotifyQueue& notify);
  ~TWriteThread() override { join(); }

  /// Queues a block without waiting; false (block left with the caller) when the queue is
  /// full or the thread has ended. Owner's thread.
  bool post(SendBlock& block) noexcept { return queue_.post(block); }

 protected:
  void Execute() override;

 private:
  TWriteThread(port::SerialPort& port, const port::Event& closeEvent, NotifyQueue& notify)
      : port_(port), closeEvent_(closeEvent), notify_(notify), queue_(kQueueCapacity) {}

  void run();
  bool WriteBlock(const std::uint8_t* data, std::size_t length);
  bool PostSendEmpty();
  void PostHangupRequest();

  port::SerialPort& port_;
  const port::Event& closeEvent_;
  NotifyQueue& notify_;
  PostQueue<SendBlock> queue_;
};

}  // namespace comm
