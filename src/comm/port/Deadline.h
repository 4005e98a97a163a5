#pragma once
// One monotonic deadline for every timed wait: the time left is recomputed after each wake-up.
#include <chrono>
#include <cstdint>
#include <ctime>

namespace comm::port {

class Deadline {
 public:
  using Clock = std::chrono::steady_clock;

  static Deadline never() { return Deadline(); }
  static Deadline at(Clock::time_point when) { return Deadline(when); }
  /// A limit beyond about 30 years counts as none (the clock's range ends near 292 years).
  static Deadline after(Clock::time_point from, std::uint64_t ms) {
    constexpr std::uint64_t kLongest = 1'000'000'000'000ull;
    if (ms > kLongest) return never();
    return Deadline(from + std::chrono::milliseconds(static_cast<std::int64_t>(ms)));
  }

  bool isNever() const { return never_; }
  bool expired(Clock::time_point now = Clock::now()) const { return !never_ && now >= when_; }
  Clock::time_point when() const { return when_; }

  /// The earlier of two deadlines.
  static Deadline earlier(const Deadline& a, const Deadline& b) {
    if (a.never_) return b;
    if (b.never_) return a;
    return a.when_ <= b.when_ ? a : b;
  }

  /// Time left as a timespec for ppoll; false (and no timespec) when there is no limit.
  bool remaining(timespec& out, Clock::time_point now = Clock::now()) const {
    if (never_) return false;
    const auto left = when_ > now ? when_ - now : Clock::duration::zero();
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    out.tv_sec = static_cast<time_t>(ns / 1000000000);
    out.tv_nsec = static_cast<long>(ns % 1000000000);
    return true;
  }

 private:
  Deadline() = default;
  explicit Deadline(Clock::time_point when) : never_(false), when_(when) {}

  bool never_ = true;
  Clock::time_point when_{};
};

}  // namespace comm::port
