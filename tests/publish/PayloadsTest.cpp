// Topic names and message bodies.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "publish/core/MessageBuffer.h"
#include "publish/core/Payloads.h"

namespace {

using namespace std::chrono;

system_clock::time_point at(std::int64_t ms) { return system_clock::time_point(milliseconds(ms)); }

TEST(PublishPayloads, topicsLieUnderPrefixAndStation) {
  const publish::Topics t("plant/batteries", "room-a");
  EXPECT_EQ(t.status(), "plant/batteries/room-a/status");
  EXPECT_EQ(t.polling(), "plant/batteries/room-a/polling");
  EXPECT_EQ(t.unit(7), "plant/batteries/room-a/unit/7");
  EXPECT_EQ(t.unit(99), "plant/batteries/room-a/unit/99");
  EXPECT_EQ(t.event("alarm"), "plant/batteries/room-a/event/alarm");
}

TEST(PublishPayloads, timesAreUtcWithMilliseconds) {
  EXPECT_EQ(publish::isoTime(at(0)), "1970-01-01T00:00:00.000Z");
  EXPECT_EQ(publish::isoTime(at(1'500)), "1970-01-01T00:00:01.500Z");
  // 2026-12-09 10:22:12.345 UTC
  EXPECT_EQ(publish::isoTime(at(1'796'811'732'345)), "2026-12-09T10:22:12.345Z");
  // 2024-02-29 23:59:59.999 UTC: leap day, last millisecond
  EXPECT_EQ(publish::isoTime(at(1'709'251'199'999)), "2024-02-29T23:59:59.999Z");
  // Sub-millisecond parts are cut, never rounded into the next second.
  EXPECT_EQ(publish::isoTime(at(1'709'251'199'999) + microseconds(999)), "2024-02-29T23:59:59.999Z");
}

TEST(PublishPayloads, readingCarriesCellsTotalAndTime) {
  const std::vector<double> cells{2.254, 2.3, 16, 0, 0.05};
  EXPECT_EQ(publish::readingJson(7, cells, 20.604, at(1'500)),
            "{\"unit\":7,\"cells\":5,\"voltages\":[2.254,2.3,16,0,0.05],\"total\":20.604,"
            "\"time\":\"1970-01-01T00:00:01.500Z\"}");
  EXPECT_EQ(publish::readingJson(1, {}, 0, at(0)),
            "{\"unit\":1,\"cells\":0,\"voltages\":[],\"total\":0,\"time\":\"1970-01-01T00:00:00.000Z\"}");
  // JSON has no NaN: a value that is no number goes out as null, the message stays parseable.
  const std::vector<double> odd{std::numeric_limits<double>::quiet_NaN()};
  EXPECT_EQ(publish::readingJson(2, odd, std::numeric_limits<double>::infinity(), at(0)),
            "{\"unit\":2,\"cells\":1,\"voltages\":[null],\"total\":null,\"time\":\"1970-01-01T00:00:00.000Z\"}");
}

TEST(PublishPayloads, eventsCarryOnlyWhatTheyHave) {
  EXPECT_EQ(publish::eventJson("alarm_raised", 3, 12, 1.8, "单体电压过低", at(0)),
            "{\"event\":\"alarm_raised\",\"unit\":3,\"cell\":12,\"value\":1.8,\"text\":\"单体电压过低\","
            "\"time\":\"1970-01-01T00:00:00.000Z\"}");
  EXPECT_EQ(publish::eventJson("unit_offline", 7, 0, std::nullopt, "", at(0)),
            "{\"event\":\"unit_offline\",\"unit\":7,\"time\":\"1970-01-01T00:00:00.000Z\"}");
  EXPECT_EQ(publish::eventJson("line_down", 0, 0, std::nullopt, "port \"COM1\" gone", at(0)),
            "{\"event\":\"line_down\",\"text\":\"port \\\"COM1\\\" gone\",\"time\":\"1970-01-01T00:00:00.000Z\"}");
}

TEST(PublishPayloads, pollingStateAndStrings) {
  EXPECT_EQ(publish::pollingJson(true, at(0)), "{\"state\":\"started\",\"time\":\"1970-01-01T00:00:00.000Z\"}");
  EXPECT_EQ(publish::pollingJson(false, at(0)), "{\"state\":\"stopped\",\"time\":\"1970-01-01T00:00:00.000Z\"}");
  EXPECT_EQ(publish::jsonString("3号 \"a\\b\"\n\t\x01"), "\"3号 \\\"a\\\\b\\\"\\n\\t\\u0001\"");
}

TEST(PublishBuffer, keepsTheLatestAndDropsTheOldestFirst) {
  publish::MessageBuffer b(3);
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(b.push({"t", std::to_string(i), false}), 0u);
  EXPECT_EQ(b.push({"t", "4", false}), 1u);
  EXPECT_EQ(b.push({"t", "5", true}), 1u);
  EXPECT_EQ(b.size(), 3u);
  auto first = b.take();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->payload, "3");
  // Taken but not sent: back at the front, still the oldest.
  EXPECT_EQ(b.putBack(std::move(*first)), 0u);
  EXPECT_EQ(b.push({"t", "6", false}), 1u) << "the put-back message is the oldest and goes first";
  std::string order;
  while (auto m = b.take()) order += m->payload;
  EXPECT_EQ(order, "456");
  EXPECT_FALSE(b.take());
  // A capacity of 0 would drop everything at once; it holds one.
  publish::MessageBuffer tiny(0);
  EXPECT_EQ(tiny.push({"t", "a", false}), 0u);
  EXPECT_EQ(tiny.push({"t", "b", false}), 1u);
  EXPECT_EQ(tiny.take()->payload, "b");
}

}  // namespace

namespace {

TEST(PublishPayloads, numbersGoOutToTheMillivolt) {
  const std::vector<double> cells{2.31, 2.24, 0.1 + 0.2};
  // 2.31 - 2.24 is 0.07000000000000028 in doubles; the window and the body say 0.07.
  EXPECT_EQ(publish::eventJson("alarm_raised", 1, 0, 2.31 - 2.24, "", at(0)),
            "{\"event\":\"alarm_raised\",\"unit\":1,\"value\":0.07,\"time\":\"1970-01-01T00:00:00.000Z\"}");
  EXPECT_EQ(publish::readingJson(4, cells, 4.8500000000000005, at(0), true),
            "{\"unit\":4,\"cells\":3,\"voltages\":[2.31,2.24,0.3],\"total\":4.85,\"lowest\":0.3,\"highest\":2.31,"
            "\"spread\":2.01,\"time\":\"1970-01-01T00:00:00.000Z\"}");
  EXPECT_EQ(publish::readingJson(5, {}, 0, at(0), true),
            "{\"unit\":5,\"cells\":0,\"voltages\":[],\"total\":0,\"lowest\":null,\"highest\":null,\"spread\":null,"
            "\"time\":\"1970-01-01T00:00:00.000Z\"}");
  EXPECT_EQ(publish::roundToMillivolt(-0.0004), 0.0);
  EXPECT_EQ(publish::roundToMillivolt(16.0004), 16.0);
  EXPECT_EQ(publish::roundToMillivolt(1e15), 1e15);
}

}  // namespace
