// The broker link's retry schedule, flap recognition and the operator's status lines.
#include <gtest/gtest.h>

#include <vector>

#include "publish/core/LinkPolicy.h"
#include "publish/core/LinkStatus.h"

namespace {

using namespace std::chrono;
using publish::Failure;

TEST(LinkPolicy, theDelayDoublesFromTheFirstUpToTheLongest) {
  std::vector<long long> got;
  for (int n = 1; n <= 8; ++n) got.push_back(publish::retryDelay(n, seconds(1), seconds(60)).count());
  EXPECT_EQ(got, (std::vector<long long>{1000, 2000, 4000, 8000, 16000, 32000, 60000, 60000}));
  EXPECT_EQ(publish::retryDelay(1, seconds(3), seconds(10)), seconds(3));
  EXPECT_EQ(publish::retryDelay(2, seconds(3), seconds(10)), seconds(6));
  EXPECT_EQ(publish::retryDelay(3, seconds(3), seconds(10)), seconds(10));
  // An outage of days: no overflow, still the cap; a refused login's slower cap.
  EXPECT_EQ(publish::retryDelay(1'000'000, seconds(1), seconds(60)), seconds(60));
  EXPECT_EQ(publish::retryDelay(20, seconds(1), publish::kLoginRetryLongest), minutes(15));
  // Before any failure, and with a cap below the start: the start.
  EXPECT_EQ(publish::retryDelay(0, seconds(5), seconds(60)), seconds(5));
  EXPECT_EQ(publish::retryDelay(4, seconds(5), seconds(2)), seconds(5));
}

TEST(LinkPolicy, onlyVerificationAndAnonymousRefusalAreFinal) {
  for (const Failure f : {Failure::Refused, Failure::Reset, Failure::Timeout, Failure::Lookup, Failure::Unreachable,
                          Failure::Handshake, Failure::LoginRefused, Failure::Unavailable, Failure::Other})
    EXPECT_FALSE(publish::isFinal(f)) << publish::failureText(f);
  EXPECT_TRUE(publish::isFinal(Failure::Verification));
  EXPECT_TRUE(publish::isFinal(Failure::NotAuthorised));
  EXPECT_TRUE(publish::isSlow(Failure::LoginRefused));
  EXPECT_FALSE(publish::isSlow(Failure::Refused));
  EXPECT_EQ(publish::failureText(Failure::Handshake, "unexpected eof while reading"),
            "the TLS handshake was cut short (unexpected eof while reading)");
}

TEST(LinkPolicy, aBrokerThatDropsEveryConnectionAtOnceIsRecognisedOncePerEpisode) {
  using Clock = publish::FlapDetector::Clock;
  publish::FlapDetector d(seconds(10), 3, seconds(30));
  Clock::time_point t{};
  const auto upFor = [&](seconds s) {
    d.connected(t);
    t += s;
    return d.lost(t);
  };
  EXPECT_FALSE(upFor(seconds(2)));
  // A connection that lasted is no flap: the count starts again.
  EXPECT_FALSE(upFor(seconds(20)));
  EXPECT_FALSE(upFor(seconds(1)));
  EXPECT_FALSE(upFor(seconds(1)));
  EXPECT_TRUE(upFor(seconds(1)));
  EXPECT_FALSE(upFor(seconds(1))) << "said once";
  // Up long enough ends the episode, once; the next episode is reported again.
  d.connected(t);
  EXPECT_FALSE(d.settle(t + seconds(29)));
  EXPECT_TRUE(d.settle(t + seconds(30)));
  EXPECT_FALSE(d.settle(t + seconds(31)));
  t += seconds(40);
  EXPECT_FALSE(d.lost(t));
  EXPECT_FALSE(upFor(seconds(1)));
  EXPECT_FALSE(upFor(seconds(1)));
  EXPECT_TRUE(upFor(seconds(1)));
  // Losing a connection that was never made says nothing.
  EXPECT_FALSE(d.lost(t));
}

TEST(LinkPolicy, statusLinesSayWhatTheLinkDoes) {
  publish::LinkStatus s;
  s.where = "mqtt.site:1883";
  s.phase = publish::LinkStatus::Phase::Retrying;
  s.retryInSeconds = 12;
  s.failure = Failure::Refused;
  s.buffered = 3;
  s.sent = 120;
  s.dropped = 7;
  auto lines = publish::statusLines(s);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "MQTT 服务器 mqtt.site:1883：12 秒后重试（连接被拒绝）");
  EXPECT_EQ(lines[1], "MQTT 消息：待发送 3 条，已发送 120 条，已丢弃 7 条");
  s.phase = publish::LinkStatus::Phase::GivenUp;
  s.failure = Failure::Verification;
  EXPECT_NE(publish::statusLines(s)[0].find("已停止（服务器证书验证失败"), std::string::npos) << publish::statusLines(s)[0];
  s.phase = publish::LinkStatus::Phase::Connected;
  EXPECT_EQ(publish::statusLines(s)[0], "MQTT 服务器 mqtt.site:1883：已连接");
}

}  // namespace
