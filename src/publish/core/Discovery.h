#pragma once
// Home Assistant MQTT discovery: the retained config messages under the discovery prefix that
// make Home Assistant show the station as a device and each unit as a device of its own,
// linked to the station. Every entity reads a topic the station publishes anyway (unit/<N>,
// unit/<N>/state, status) and is available while the station's status says "online".
#include <string>
#include <vector>

#include "publish/core/Payloads.h"
#include "publish/core/PublishSettings.h"

namespace publish {

struct DiscoveryConfig {
  std::string topic;
  /// JSON; empty removes the entity.
  std::string payload;
};

class Discovery {
 public:
  /// `version`: the station's version, shown as the devices' software version.
  Discovery(const PublishSettings& settings, std::string version);

  /// <prefix>/status, where Home Assistant says "online" when it (re)starts.
  std::string birthTopic() const { return prefix_ + "/status"; }
  /// The station's own device: a connectivity sensor on the status topic.
  std::vector<DiscoveryConfig> station() const;
  /// Unit n's device: total, lowest cell, highest cell, spread; online and alarm.
  std::vector<DiscoveryConfig> unit(int n) const;
  /// Sensors for cells from..to (1-based, inclusive) of unit n.
  std::vector<DiscoveryConfig> cells(int n, int from, int to) const;
  /// The same topics with empty payloads, which remove the entities.
  static std::vector<DiscoveryConfig> removal(std::vector<DiscoveryConfig> configs);

  /// A subscription to one config of every unit device of this station on the broker (its
  /// 在线 sensor), so that devices a former run left there can be found.
  std::string unitConfigFilter() const;
  /// The unit whose device `topic` (a topic of unitConfigFilter) configures; 0 for none.
  int unitOfConfig(const std::string& topic) const;

  /// The station's id in topics and unique ids: letters, digits and '-' kept, every other
  /// byte as _hh, so any station name (Chinese included) gives a valid, distinct id.
  const std::string& node() const { return node_; }

 private:
  std::string config(const std::string& component, const std::string& object) const;
  std::string unitDevice(int n) const;
  std::string availability() const;

  std::string prefix_;
  std::string station_;
  std::string version_;
  Topics topics_;
  std::string node_;
};

}  // namespace publish
