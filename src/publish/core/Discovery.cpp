#include "publish/core/Discovery.h"

#include <cstdio>

namespace publish {

namespace {

std::string slug(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || b == '-') {
      out += c;
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "_%02x", static_cast<unsigned>(b));
      out += hex;
    }
  }
  return out;
}

std::string field(const char* key, const std::string& value) { return std::string(",\"") + key + "\":" + jsonString(value); }

}  // namespace

Discovery::Discovery(const PublishSettings& settings, std::string version)
    : prefix_(settings.discoveryPrefix),
      station_(settings.station),
      version_(std::move(version)),
      topics_(settings.topicPrefix, settings.station),
      // Stations under another topic prefix may share a name; their ids must not.
      node_("cellstation_" + slug(settings.topicPrefix == "cellstation" ? settings.station
                                                                        : settings.topicPrefix + "/" + settings.station)) {}

std::string Discovery::config(const std::string& component, const std::string& object) const {
  return prefix_ + "/" + component + "/" + node_ + "/" + object + "/config";
}

std::string Discovery::availability() const {
  return field("availability_topic", topics_.status()) + field("payload_available", kOnline) +
         field("payload_not_available", kOffline);
}

std::string Discovery::unitDevice(int n) const {
  const std::string id = node_ + "_u" + std::to_string(n);
  return ",\"device\":{\"identifiers\":[" + jsonString(id) + "]" + field("name", station_ + " 第" + std::to_string(n) + "台") +
         field("model", "电池电压检测单元") + field("manufacturer", "cellstation") + field("sw_version", version_) +
         field("via_device", node_) + "}";
}

std::vector<DiscoveryConfig> Discovery::station() const {
  const std::string body = "{" + std::string("\"name\":") + jsonString("状态") + field("unique_id", node_ + "_status") +
                           field("state_topic", topics_.status()) + field("payload_on", kOnline) +
                           field("payload_off", kOffline) + field("device_class", "connectivity") +
                           ",\"device\":{\"identifiers\":[" + jsonString(node_) + "]" + field("name", station_) +
                           field("model", "电池电压巡检站") + field("manufacturer", "cellstation") +
                           field("sw_version", version_) + "}}";
  return {{config("binary_sensor", "status"), body}};
}

std::vector<DiscoveryConfig> Discovery::unit(int n) const {
  const std::string u = "u" + std::to_string(n);
  const auto voltage = [&](const std::string& object, const std::string& name, const std::string& path) {
    const std::string body = "{\"name\":" + jsonString(name) + field("unique_id", node_ + "_" + u + "_" + object) +
                             field("state_topic", topics_.unit(n)) + field("value_template", "{{ value_json." + path + " }}") +
                             field("device_class", "voltage") + field("state_class", "measurement") +
                             field("unit_of_measurement", "V") + ",\"suggested_display_precision\":3" + availability() +
                             unitDevice(n) + "}";
    return DiscoveryConfig{config("sensor", u + "_" + object), body};
  };
  const auto flag = [&](const std::string& object, const std::string& name, const std::string& deviceClass) {
    const std::string body = "{\"name\":" + jsonString(name) + field("unique_id", node_ + "_" + u + "_" + object) +
                             field("state_topic", topics_.unitState(n)) +
                             field("value_template", "{{ value_json." + object + " }}") + field("payload_on", "ON") +
                             field("payload_off", "OFF") + field("device_class", deviceClass) + availability() +
                             unitDevice(n) + "}";
    return DiscoveryConfig{config("binary_sensor", u + "_" + object), body};
  };
  return {voltage("total", "总电压", "total"),      voltage("lowest", "最低单体电压", "lowest"),
          voltage("highest", "最高单体电压", "highest"), voltage("spread", "单体压差", "spread"),
          flag("online", "在线", "connectivity"),   flag("alarm", "告警", "problem")};
}

std::vector<DiscoveryConfig> Discovery::cells(int n, int from, int to) const {
  std::vector<DiscoveryConfig> out;
  const std::string u = "u" + std::to_string(n);
  for (int k = from; k <= to; ++k) {
    const std::string object = u + "_cell" + std::to_string(k);
    const std::string body = "{\"name\":" + jsonString("第" + std::to_string(k) + "节") +
                             field("unique_id", node_ + "_" + object) + field("state_topic", topics_.unit(n)) +
                             field("value_template", "{{ value_json.voltages[" + std::to_string(k - 1) + "] }}") +
                             field("device_class", "voltage") + field("state_class", "measurement") +
                             field("unit_of_measurement", "V") + ",\"suggested_display_precision\":3" + availability() +
                             unitDevice(n) + "}";
    out.push_back({config("sensor", object), body});
  }
  return out;
}

std::string Discovery::unitConfigFilter() const { return config("binary_sensor", "+"); }

int Discovery::unitOfConfig(const std::string& topic) const {
  const std::string head = config("binary_sensor", "u");
  const std::string before = head.substr(0, head.size() - std::string_view("/config").size());
  const std::string_view tail = "_online/config";
  if (!topic.starts_with(before) || !topic.ends_with(tail) || topic.size() <= before.size() + tail.size()) return 0;
  const std::string digits = topic.substr(before.size(), topic.size() - before.size() - tail.size());
  if (digits.size() > 2 || digits.front() == '0') return 0;
  int unit = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return 0;
    unit = unit * 10 + (c - '0');
  }
  return unit;
}

std::vector<DiscoveryConfig> Discovery::removal(std::vector<DiscoveryConfig> configs) {
  for (auto& c : configs) c.payload.clear();
  return configs;
}

}  // namespace publish
