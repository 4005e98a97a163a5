// Home Assistant discovery configs: topics, keys and templates against the station's bodies.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <set>
#include <vector>

#include "Templates.h"
#include "publish/core/Discovery.h"
#include "publish/core/Payloads.h"

namespace {

publish::PublishSettings settings(const std::string& station) {
  publish::PublishSettings s;
  s.host = "h";
  s.station = station;
  s.discovery = true;
  return s;
}

QJsonObject json(const std::string& text) { return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object(); }

TEST(Discovery, everyEntityReadsAValueTheStationPublishes) {
  const publish::Discovery d(settings("机房-A"), "0.1");
  const std::vector<double> cells{2.254, 2.31, 2.24, 2.3};
  const std::string reading = publish::readingJson(7, cells, 9.104, std::chrono::system_clock::now(), true);
  const std::string state = "{\"online\":\"ON\",\"alarm\":\"OFF\"}";
  auto configs = d.unit(7);
  const auto cellConfigs = d.cells(7, 1, 4);
  configs.insert(configs.end(), cellConfigs.begin(), cellConfigs.end());
  ASSERT_EQ(configs.size(), 10u);

  // Topic ids hold only what Home Assistant accepts, whatever the station is called.
  const QRegularExpression topic(QStringLiteral("^homeassistant/(sensor|binary_sensor)/[A-Za-z0-9_-]+/[A-Za-z0-9_-]+/config$"));
  std::set<QString> uniqueIds;
  std::map<QString, double> values;
  for (const auto& c : configs) {
    EXPECT_TRUE(topic.match(QString::fromStdString(c.topic)).hasMatch()) << c.topic;
    const bool binary = c.topic.find("/binary_sensor/") != std::string::npos;
    const QJsonObject o = json(c.payload);
    ASSERT_FALSE(o.isEmpty()) << c.payload;
    for (const QString& key : o.keys()) EXPECT_TRUE(documentedKey(key, binary)) << key.toStdString();
    for (const QString& key : o.value(QStringLiteral("device")).toObject().keys())
      EXPECT_TRUE(documentedDeviceKey(key)) << key.toStdString();
    EXPECT_TRUE(uniqueIds.insert(o.value(QStringLiteral("unique_id")).toString()).second) << c.payload;
    EXPECT_EQ(o.value(QStringLiteral("availability_topic")).toString(), QStringLiteral("cellstation/机房-A/status"));
    const auto device = o.value(QStringLiteral("device")).toObject();
    EXPECT_EQ(device.value(QStringLiteral("name")).toString(), QStringLiteral("机房-A 第7台"));
    EXPECT_EQ(device.value(QStringLiteral("via_device")).toString(), QString::fromStdString(d.node()));
    const std::string body = o.value(QStringLiteral("state_topic")).toString() == QStringLiteral("cellstation/机房-A/unit/7")
                                 ? reading
                                 : state;
    ASSERT_TRUE(binary || body == reading) << c.payload;
    const auto v = evaluateTemplate(o.value(QStringLiteral("value_template")).toString().toStdString(), body);
    ASSERT_TRUE(v) << c.payload;
    if (binary) {
      const QString s = v->toString();
      EXPECT_TRUE(s == o.value(QStringLiteral("payload_on")).toString() || s == o.value(QStringLiteral("payload_off")).toString())
          << c.payload;
    } else {
      EXPECT_EQ(o.value(QStringLiteral("device_class")).toString(), QStringLiteral("voltage"));
      EXPECT_EQ(o.value(QStringLiteral("state_class")).toString(), QStringLiteral("measurement"));
      EXPECT_EQ(o.value(QStringLiteral("unit_of_measurement")).toString(), QStringLiteral("V"));
      ASSERT_TRUE(v->isDouble()) << c.payload;
      values[o.value(QStringLiteral("name")).toString()] = v->toDouble();
    }
  }
  EXPECT_DOUBLE_EQ(values[QStringLiteral("总电压")], 9.104);
  EXPECT_DOUBLE_EQ(values[QStringLiteral("最低单体电压")], 2.24);
  EXPECT_DOUBLE_EQ(values[QStringLiteral("最高单体电压")], 2.31);
  EXPECT_DOUBLE_EQ(values[QStringLiteral("单体压差")], 0.07);
  EXPECT_DOUBLE_EQ(values[QStringLiteral("第2节")], 2.31);
  EXPECT_DOUBLE_EQ(values[QStringLiteral("第4节")], 2.3);
}

TEST(Discovery, stationsWithSimilarNamesGetDistinctIds) {
  std::set<std::string> nodes;
  for (const std::string name : {"room_a", "room-a", "room a", "机房-A", "机房-B", "room_5fa"})
    EXPECT_TRUE(nodes.insert(publish::Discovery(settings(name), "0.1").node()).second) << name;
  auto other = settings("room-a");
  other.topicPrefix = "plant/batteries";
  EXPECT_TRUE(nodes.insert(publish::Discovery(other, "0.1").node()).second);
  // Removal keeps the topics and empties the payloads.
  const auto gone = publish::Discovery::removal(publish::Discovery(settings("s"), "0.1").unit(3));
  ASSERT_EQ(gone.size(), 6u);
  for (const auto& c : gone) EXPECT_TRUE(c.payload.empty() && c.topic.find("/u3_") != std::string::npos) << c.topic;
}

}  // namespace
