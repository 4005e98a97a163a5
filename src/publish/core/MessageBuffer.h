#pragma once
// The messages waiting for the broker: bounded, oldest dropped first. Not thread-safe: its
// owner guards it.
#include <cstddef>
#include <deque>
#include <optional>
#include <string>

namespace publish {

struct Message {
  std::string topic;
  std::string payload;
  bool retained = false;
};

class MessageBuffer {
 public:
  /// Holds at most `capacity` (at least 1) messages.
  explicit MessageBuffer(std::size_t capacity) : capacity_(capacity ? capacity : 1) {}

  /// Appends `m`; when that overfills the buffer the oldest message goes. Returns how many
  /// were dropped (0 or 1).
  std::size_t push(Message m) {
    items_.push_back(std::move(m));
    return trim();
  }
  /// Puts back a message taken for sending that could not be sent, ahead of the others. When
  /// the buffer filled meanwhile, the oldest (this one) goes. Returns how many were dropped.
  std::size_t putBack(Message m) {
    items_.push_front(std::move(m));
    return trim();
  }
  /// The oldest message, taken out; nothing when empty.
  std::optional<Message> take() {
    if (items_.empty()) return std::nullopt;
    Message m = std::move(items_.front());
    items_.pop_front();
    return m;
  }

  std::size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  std::size_t capacity() const { return capacity_; }

 private:
  std::size_t trim() {
    std::size_t dropped = 0;
    while (items_.size() > capacity_) {
      items_.pop_front();
      ++dropped;
    }
    return dropped;
  }

  std::size_t capacity_;
  std::deque<Message> items_;
};

}  // namespace publish
