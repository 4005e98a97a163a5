// The notification queue between threads, and status samples turned into reports.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "comm/Notification.h"
#include "comm/StatusTracker.h"
#include "comm/port/Deadline.h"

using namespace comm;

TEST(PostQueue, FirstInFirstOutRefusesWhenFullAndAfterRefuse) {
  PostQueue<std::unique_ptr<int>> q(4);
  ASSERT_EQ(q.capacity(), 4u);
  EXPECT_FALSE(q.wake().isSet());
  for (int i = 0; i < 4; ++i) {
    auto item = std::make_unique<int>(i);
    EXPECT_TRUE(q.post(item));
    EXPECT_EQ(item, nullptr);  // taken over
  }
  EXPECT_TRUE(q.wake().isSet());
  auto extra = std::make_unique<int>(99);
  EXPECT_FALSE(q.post(extra));
  ASSERT_NE(extra, nullptr);  // a refused item stays with the poster
  EXPECT_EQ(*extra, 99);

  std::unique_ptr<int> out;
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(q.take(out));
    EXPECT_EQ(*out, i);
  }
  EXPECT_FALSE(q.take(out));
  EXPECT_TRUE(q.empty());

  // The ring wraps around correctly.
  for (int round = 0; round < 10; ++round) {
    auto a = std::make_unique<int>(round);
    ASSERT_TRUE(q.post(a));
    ASSERT_TRUE(q.take(out));
    EXPECT_EQ(*out, round);
  }

  q.refuse();
  auto late = std::make_unique<int>(1);
  EXPECT_FALSE(q.post(late));
  EXPECT_NE(late, nullptr);
}

TEST(PostQueue, TwoPostersKeepTheirOwnOrderAndNothingIsLost) {
  NotifyQueue q(kNotifyCapacity);
  constexpr std::uint32_t kEach = 20000;
  auto poster = [&q](NotifyKind kind) {
    for (std::uint32_t i = 0; i < kEach;) {
      Notification n;
      n.kind = kind;
      n.value = i;
      n.length = 1;
      n.block.reset(new std::uint8_t[2]{static_cast<std::uint8_t>(i), 0});
      if (q.post(n)) ++i;  // a full queue refuses: try again once the taker has made room
      else std::this_thread::yield();
    }
  };
  std::thread a(poster, NotifyKind::CommData);
  std::thread b(poster, NotifyKind::SendEmpty);
  std::uint32_t nextA = 0, nextB = 0;
  while (nextA < kEach || nextB < kEach) {
    Notification n;
    if (!q.take(n)) {
      q.wake().wait(100);
      q.wake().reset();
      continue;
    }
    ASSERT_NE(n.block, nullptr);
    EXPECT_EQ(n.block[0], static_cast<std::uint8_t>(n.value));
    if (n.kind == NotifyKind::CommData) {
      ASSERT_EQ(n.value, nextA++);
    } else {
      ASSERT_EQ(n.value, nextB++);
    }
  }
  a.join();
  b.join();
  EXPECT_TRUE(q.empty());
}

namespace {

port::StatusSample counters(std::uint32_t dcd, std::uint32_t rng, std::uint32_t frame, std::uint32_t overrun,
                            std::uint32_t parity, std::uint32_t brk, std::uint32_t bufOverrun) {
  port::StatusSample s;
  s.haveCounters = true;
  s.counters = {dcd, rng, frame, overrun, parity, brk, bufOverrun};
  return s;
}

port::StatusSample lines(bool cd, bool ri) {
  port::StatusSample s;
  s.haveModemLines = true;
  s.carrierDetect = cd;
  s.ring = ri;
  return s;
}

}  // namespace

TEST(StatusTracker, CountersGiveErrorBitsAndModemCodes) {
  StatusTracker t;
  // The first look is the baseline, whatever the counters say.
  StatusReport r = t.update(counters(5, 5, 5, 5, 5, 5, 5));
  EXPECT_FALSE(r.lineError);
  EXPECT_EQ(r.modemCode, 0u);

  struct Step {
    port::StatusSample sample;
    std::uint32_t errors;
    std::uint32_t modem;
  };
  const Step steps[] = {
      {counters(5, 5, 5, 5, 5, 5, 5), 0, 0},
      {counters(5, 5, 6, 5, 5, 5, 5), CE_FRAME, 0},
      {counters(5, 5, 6, 5, 7, 5, 5), CE_RXPARITY, 0},
      {counters(5, 5, 6, 6, 7, 6, 6), CE_OVERRUN | CE_BREAK | CE_RXOVER, 0},
      {counters(6, 5, 6, 6, 7, 6, 6), 0, 8},
      {counters(6, 6, 6, 6, 7, 6, 6), 0, 4},
      {counters(8, 7, 7, 6, 7, 6, 6), CE_FRAME, 12},  // an error and both modem changes at once
  };
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    r = t.update(steps[i].sample);
    EXPECT_EQ(r.lineError, steps[i].errors != 0) << i;
    EXPECT_EQ(r.errorBits, steps[i].errors) << i;
    EXPECT_EQ(r.modemCode, steps[i].modem) << i;
  }
}

TEST(StatusTracker, ModemLinesWithoutCounters) {
  StatusTracker t;
  t.update(lines(false, false));
  EXPECT_EQ(t.update(lines(true, false)).modemCode, 8u);   // carrier came
  EXPECT_EQ(t.update(lines(true, true)).modemCode, 4u);    // ring rose
  EXPECT_EQ(t.update(lines(true, true)).modemCode, 0u);    // still ringing: not a new ring
  EXPECT_EQ(t.update(lines(false, false)).modemCode, 8u);  // carrier went; ring falling is no event
  EXPECT_EQ(t.update(lines(true, true)).modemCode, 12u);
  EXPECT_FALSE(t.update(lines(true, true)).lineError);
}

TEST(Deadline, HugeTimeLimitsMeanNoLimitRatherThanAnOverflow) {
  const auto now = port::Deadline::Clock::now();
  // The largest total read limit: multiplier 0xFFFFFFFF for 4096 bytes plus the constant.
  const auto huge = port::Deadline::after(now, std::uint64_t{0xFFFFFFFF} * 4096 + 0xFFFFFFFF);
  EXPECT_TRUE(huge.isNever());
  EXPECT_FALSE(huge.expired(now + std::chrono::hours(24 * 365)));
  const auto day = port::Deadline::after(now, 86'400'000);
  EXPECT_FALSE(day.expired(now));
  EXPECT_TRUE(day.expired(now + std::chrono::hours(25)));
  EXPECT_EQ(port::Deadline::earlier(huge, day).when(), day.when());
}

namespace {

// An item whose hand-over into the queue waits until released: the poster has claimed its
// slot but not yet filled it.
struct SlowItem {
  static inline std::atomic<bool> claimed{false};
  static inline std::atomic<bool> release{false};
  int value = 0;
  SlowItem() = default;
  explicit SlowItem(int v) : value(v) {}
  SlowItem& operator=(SlowItem&& other) noexcept {
    if (other.value == 7) {
      claimed = true;
      while (!release) std::this_thread::yield();
    }
    value = other.value;
    return *this;
  }
};

}  // namespace

TEST(PostQueue, DrainLeavesTheWakeClearWhileAPosterIsStillFillingItsSlot) {
  PostQueue<SlowItem> q(4);
  std::vector<int> seen;
  std::thread poster([&] {
    SlowItem item(7);
    ASSERT_TRUE(q.post(item));
  });
  while (!SlowItem::claimed) std::this_thread::yield();
  // Nothing can be taken yet; a wake left set here would have the event loop come straight
  // back, find nothing again, and spin until the poster is done.
  EXPECT_FALSE(q.empty());
  EXPECT_FALSE(q.ready());
  EXPECT_EQ(q.drain([&](SlowItem& i) { seen.push_back(i.value); }), 0u);
  EXPECT_FALSE(q.wake().isSet());

  SlowItem::release = true;
  poster.join();
  EXPECT_TRUE(q.wake().isSet());  // the poster's own wake, once its item is in place
  EXPECT_EQ(q.drain([&](SlowItem& i) { seen.push_back(i.value); }), 1u);
  EXPECT_EQ(seen, std::vector<int>{7});
  EXPECT_FALSE(q.wake().isSet());
}

TEST(PostQueue, DrainKeepsTheWakeSetForWhatAThrowingHandlerLeft) {
  PostQueue<int> q(4);
  for (int i = 0; i < 3; ++i) {
    int v = i;
    ASSERT_TRUE(q.post(v));
  }
  EXPECT_THROW(q.drain([](int& v) {
    if (v == 1) throw std::runtime_error("handler failed");
  }),
               std::runtime_error);
  EXPECT_TRUE(q.wake().isSet());
  std::vector<int> rest;
  EXPECT_EQ(q.drain([&](int& v) { rest.push_back(v); }), 1u);
  EXPECT_EQ(rest, std::vector<int>{2});
  EXPECT_FALSE(q.wake().isSet());
}
