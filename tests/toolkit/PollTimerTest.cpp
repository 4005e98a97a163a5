#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>

#include "toolkit/PollTimer.h"

namespace {

// Spins the event loop until the predicate holds or the limit passes; returns the predicate.
template <typename P>
bool spinUntil(P done, int limitMs) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < limitMs) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  return done();
}

TEST(PollTimer, ZeroOrNegativeIntervalNeverTicks) {
  for (int interval : {0, -1, -5000}) {
    toolkit::PollTimer timer(interval);
    int ticks = 0;
    QObject::connect(&timer, &toolkit::PollTimer::tick, [&] { ++ticks; });
    timer.setEnabled(true);
    EXPECT_TRUE(timer.enabled()) << interval;
    EXPECT_FALSE(timer.ticking()) << interval;
    // A 0 ms QTimer would fire on every pass of the loop; this one must stay silent.
    spinUntil([&] { return ticks > 0; }, 50);
    EXPECT_EQ(ticks, 0) << interval;
  }
}

TEST(PollTimer, TicksOnlyWhileEnabledWithPositiveInterval) {
  toolkit::PollTimer timer(5000);
  int ticks = 0;
  QObject::connect(&timer, &toolkit::PollTimer::tick, [&] { ++ticks; });
  EXPECT_FALSE(timer.enabled());
  EXPECT_FALSE(timer.ticking());

  timer.setInterval(5);
  EXPECT_FALSE(timer.ticking()) << "a disabled timer does not start when its interval changes";
  timer.setEnabled(true);
  EXPECT_TRUE(timer.ticking());
  EXPECT_TRUE(spinUntil([&] { return ticks >= 2; }, 5000));

  timer.setEnabled(false);
  EXPECT_FALSE(timer.ticking());
  const int before = ticks;
  QCoreApplication::processEvents();
  EXPECT_EQ(ticks, before);

  // Enabled, then the interval set to 0: ticks stop; back to positive: they resume.
  timer.setEnabled(true);
  timer.setInterval(0);
  EXPECT_FALSE(timer.ticking());
  timer.setInterval(5);
  EXPECT_TRUE(timer.ticking());
  EXPECT_EQ(timer.interval(), 5);
}

}  // namespace
