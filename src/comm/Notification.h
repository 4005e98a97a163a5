#pragma once
// What the worker threads hand to the owner's thread. The numbers are the component's
// message numbers (user-message base 1024 plus 1 to 5).
#include <cstdint>
#include <memory>

#include "comm/PostQueue.h"

namespace comm {

enum class NotifyKind : std::uint32_t {
  None = 0,
  CommData = 1025,       ///< block, length: one completed read
  LineError = 1026,      ///< value: the CE_ line-error bits
  HangupRequest = 1027,  ///< a worker thread stopped after a failure
  ModemChange = 1028,    ///< value: 8 carrier detect changed, 4 ring, 12 both
  SendEmpty = 1029,      ///< the send queue ran empty
};

/// One notification; a block travels with it and is released with it.
struct Notification {
  NotifyKind kind = NotifyKind::None;
  std::uint32_t value = 0;
  std::uint16_t length = 0;
  std::unique_ptr<std::uint8_t[]> block;  ///< length bytes and a zero byte after them
};

/// Room for as many notifications as a Win32 thread may have posted and unread (10000).
inline constexpr std::size_t kNotifyCapacity = 16384;

/// A worker that stops after a failure posts HangupRequest; when the queue has no room it
/// raises the queue's mark instead, which stands for one HangupRequest after all queued items.
using NotifyQueue = PostQueue<Notification>;

}  // namespace comm
