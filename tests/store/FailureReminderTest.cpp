// When a failing sampling run raises a box: at once, then at most once an hour while failing.
#include <gtest/gtest.h>

#include "store/core/FailureReminder.h"

TEST(FailureReminder, ShowsTheFirstFailureThenHourlyUntilARunSucceeds) {
  using namespace std::chrono;
  store::FailureReminder r;
  store::FailureReminder::Clock::time_point now{};
  r.setClock([&] { return now; });
  EXPECT_TRUE(r.failed());
  now += minutes(3);
  EXPECT_FALSE(r.failed());
  now += minutes(56);
  EXPECT_FALSE(r.failed());
  now += minutes(1);  // an hour after the box
  EXPECT_TRUE(r.failed());
  now += minutes(3);
  EXPECT_FALSE(r.failed());
  r.clear();  // a good run in between
  now += minutes(3);
  EXPECT_TRUE(r.failed());
}
