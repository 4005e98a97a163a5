#pragma once
// A bounded first-in, first-out queue between threads that never makes a poster wait: a post
// either takes a free slot at once or is refused. A waiter sleeps on wake(), which every
// accepted post sets. Lock-free (Vyukov's bounded queue), any number of posters and takers.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "comm/port/Event.h"

namespace comm {

template <typename T>
class PostQueue {
 public:
  /// capacity is rounded up to a power of two. Throws std::system_error when the wake event
  /// cannot be created.
  explicit PostQueue(std::size_t capacity) {
    std::size_t size = 2;
    while (size < capacity) size *= 2;
    cells_ = std::make_unique<Cell[]>(size);
    mask_ = size - 1;
    for (std::size_t i = 0; i < size; ++i) cells_[i].sequence.store(i, std::memory_order_relaxed);
  }

  /// Takes item when there is room and posts are accepted; on refusal item is left untouched.
  bool post(T& item) noexcept {
    if (refusing_.load(std::memory_order_acquire)) return false;
    std::size_t pos = tail_.load(std::memory_order_relaxed);
    Cell* cell = nullptr;
    for (;;) {
      cell = &cells_[pos & mask_];
      const std::size_t seq = cell->sequence.load(std::memory_order_acquire);
      const auto diff = static_cast<std::intptr_t>(seq) - static_cast<std::intptr_t>(pos);
      if (diff == 0) {
        if (tail_.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) break;
      } else if (diff < 0) {
        return false;  // full
      } else {
        pos = tail_.load(std::memory_order_relaxed);
      }
    }
    cell->value = std::move(item);
    cell->sequence.store(pos + 1, std::memory_order_release);
    wake_.set();
    return true;
  }

  /// Takes the oldest item without waiting; false when there is none (yet).
  bool take(T& out) noexcept {
    std::size_t pos = head_.load(std::memory_order_relaxed);
    Cell* cell = nullptr;
    for (;;) {
      cell = &cells_[pos & mask_];
      const std::size_t seq = cell->sequence.load(std::memory_order_acquire);
      const auto diff = static_cast<std::intptr_t>(seq) - static_cast<std::intptr_t>(pos + 1);
      if (diff == 0) {
        if (head_.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) break;
      } else if (diff < 0) {
        return false;
      } else {
        pos = head_.load(std::memory_order_relaxed);
      }
    }
    out = std::move(cell->value);
    cell->sequence.store(pos + mask_ + 1, std::memory_order_release);
    return true;
  }

  /// Raises a sticky mark: a notice that needs no slot, so a full queue cannot refuse it.
  void mark() noexcept {
    marks_.fetch_add(1, std::memory_order_acq_rel);
    wake_.set();
  }
  /// True once for every raised mark.
  bool takeMark() noexcept {
    unsigned n = marks_.load(std::memory_order_acquire);
    while (n > 0 && !marks_.compare_exchange_weak(n, n - 1, std::memory_order_acq_rel)) {
    }
    return n > 0;
  }

  /// From now on every post is refused (the taker has gone). Items already queued stay
  /// until taken or until the queue is destroyed.
  void refuse() noexcept { refusing_.store(true, std::memory_order_release); }

  /// True when the oldest slot holds an item a take() would get now. A slot a poster has
  /// claimed but not yet filled does not count: that poster sets wake() once it has.
  bool ready() const noexcept {
    const std::size_t pos = head_.load(std::memory_order_relaxed);
    return cells_[pos & mask_].sequence.load(std::memory_order_acquire) == pos + 1;
  }

  /// Takes up to capacity() items and hands each to handle(T&) in order; returns how many it
  /// took. wake() is reset first, and on the way out (a handler's exception included) set
  /// again only when an item is ready, so a waiter returns when there is something to take and
  /// does not spin on a slot that is still being filled; a raised mark keeps it set too. Only
  /// one thread may drain.
  template <typename Handle>
  std::size_t drain(Handle&& handle) {
    wake_.reset();
    struct Rearm {
      PostQueue& q;
      ~Rearm() {
        if (q.ready() || q.marks_.load(std::memory_order_acquire) > 0) q.wake_.set();
      }
    } rearm{*this};
    std::size_t handled = 0;
    T item{};
    while (handled < capacity() && take(item)) {
      ++handled;
      handle(item);
    }
    return handled;
  }

  /// True when no item was queued at the moment of asking.
  bool empty() const noexcept {
    return head_.load(std::memory_order_acquire) == tail_.load(std::memory_order_acquire);
  }

  std::size_t capacity() const noexcept { return mask_ + 1; }
  port::Event& wake() noexcept { return wake_; }

 private:
  struct Cell {
    std::atomic<std::size_t> sequence{0};
    T value{};
  };

  std::unique_ptr<Cell[]> cells_;
  std::size_t mask_ = 0;
  alignas(64) std::atomic<std::size_t> tail_{0};
  alignas(64) std::atomic<std::size_t> head_{0};
  std::atomic<bool> refusing_{false};
  std::atomic<unsigned> marks_{0};
  port::Event wake_;
};

}  // namespace comm
