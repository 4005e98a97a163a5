// Counting what the line did per unit, and a unit going offline and back.
#include <gtest/gtest.h>

#include "health/core/LineCounts.h"

namespace {

using acquisition::ReplyOutcome;
using health::LineCounts;
using health::OfflineChange;
using Kind = acquisition::ReplyOutcome::Kind;

ReplyOutcome outcome(Kind kind, int unit) {
  ReplyOutcome o;
  o.kind = kind;
  o.unit = unit;
  o.cells = 24;
  return o;
}

class LineHealthCounts : public ::testing::Test {
 protected:
  std::vector<OfflineChange> ask(int unit, bool queued = true) {
    std::vector<OfflineChange> out;
    counts.requestSent(unit, queued, out);
    return out;
  }
  std::vector<OfflineChange> reply(Kind kind, int unit, int polled, std::int64_t at = 1000) {
    std::vector<OfflineChange> out;
    counts.replyHandled(outcome(kind, unit), polled, at, out);
    return out;
  }
  LineCounts counts;
};

TEST_F(LineHealthCounts, everyBlockIsChargedToTheUnitAsked) {
  ask(2);
  reply(Kind::Stored, 2, 2, 5000);
  ask(3);
  reply(Kind::BadChecksum, 7, 3);
  reply(Kind::Malformed, -1, 3);
  reply(Kind::Stored, 4, 3, 6000);  // unit 4 answered for 3
  ask(5, false);
  counts.unitSilent(5);

  EXPECT_EQ(counts.counts(2).requests, 1u);
  EXPECT_EQ(counts.counts(2).replies, 1u);
  EXPECT_EQ(counts.counts(2).lastGoodMs, 5000);
  EXPECT_EQ(counts.counts(3).requests, 1u);
  EXPECT_EQ(counts.counts(3).replies, 0u);
  EXPECT_EQ(counts.counts(3).badChecksum, 1u);
  EXPECT_EQ(counts.counts(3).malformed, 1u);
  EXPECT_EQ(counts.counts(3).foreign, 1u);
  EXPECT_EQ(counts.counts(7).badChecksum, 0u) << "a damaged frame's address is not trusted";
  EXPECT_EQ(counts.counts(4).lastGoodMs, 6000) << "its values are fresh";
  EXPECT_EQ(counts.counts(4).replies, 0u);
  EXPECT_EQ(counts.counts(5).requests, 0u) << "a request the port did not take was not sent";
  EXPECT_EQ(counts.counts(5).noReply, 1u);

  reply(Kind::Malformed, -1, 0);
  EXPECT_EQ(counts.unasked().malformed, 1u);

  counts.resetCounts();
  EXPECT_EQ(counts.counts(3).badChecksum, 0u);
  EXPECT_EQ(counts.counts(2).requests, 0u);
  EXPECT_EQ(counts.counts(2).lastGoodMs, 5000) << "the last good reply is a time, not a count";
  EXPECT_EQ(counts.unasked().malformed, 0u);
}

TEST_F(LineHealthCounts, aUnitSilentForThreeCyclesGoesOfflineAndComesBackWithItsNextGoodFrame) {
  // Units 1 and 2 polled in turn; 2 never answers well.
  std::vector<OfflineChange> changes;
  for (int cycle = 1; cycle <= 3; ++cycle) {
    auto c = ask(1);
    changes.insert(changes.end(), c.begin(), c.end());
    reply(Kind::Stored, 1, 1);
    c = ask(2);
    changes.insert(changes.end(), c.begin(), c.end());
    if (cycle == 2) reply(Kind::BadChecksum, 2, 2);  // a damaged frame is no answer
    EXPECT_FALSE(counts.offline(2)) << "judged at the next request, cycle " << cycle;
  }
  EXPECT_TRUE(changes.empty());
  const auto judged = ask(1);
  ASSERT_EQ(judged.size(), 1u);
  EXPECT_EQ(judged[0].unit, 2);
  EXPECT_TRUE(judged[0].offline);
  EXPECT_TRUE(counts.offline(2));
  EXPECT_FALSE(counts.offline(1));
  // Further silence reports nothing new.
  reply(Kind::Stored, 1, 1);
  ask(2);
  EXPECT_TRUE(ask(1).empty());

  // Back: its first good frame.
  reply(Kind::Stored, 1, 1);
  ask(2);
  const auto back = reply(Kind::Stored, 2, 2);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_FALSE(back[0].offline);
  EXPECT_FALSE(counts.offline(2));
}

TEST_F(LineHealthCounts, aStopForgetsThePollInFlight) {
  for (int i = 0; i < 2; ++i) ask(1);
  counts.pollingStopped();
  // The third request after the stop judges nothing from before it.
  EXPECT_TRUE(ask(1).empty());
  EXPECT_TRUE(ask(1).empty());
  EXPECT_FALSE(counts.offline(1));
  EXPECT_EQ(ask(1).size(), 1u) << "two polls after the stop, one before it: three in a row";
}

}  // namespace
