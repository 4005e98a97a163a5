#include "publish/Publisher.h"

#include <algorithm>
#include <chrono>
#include <span>
#include <stdexcept>

#include "publish/PublishLog.h"

namespace publish {

Publisher::Publisher(const PublishSettings& settings, QObject* parent)
    : QObject(parent),
      topics_(settings.topicPrefix, settings.station),
      link_(std::make_unique<BrokerLink>(settings, topics_.status())) {}

Publisher::~Publisher() { stop(); }

void Publisher::stop() { link_->stop(); }

void Publisher::publishReply(const acquisition::ReplyOutcome& outcome, const acquisition::MeasurementTables& tables) {
  if (!outcome.stored() || outcome.unit < 1 || outcome.unit > acquisition::kUnits) return;
  const int u = outcome.unit;
  const int n = std::clamp(tables.CellCount[u], 0, acquisition::kCells);
  double cells[acquisition::kCells];
  for (int k = 1; k <= n; ++k) cells[k - 1] = tables.CellVoltage[u][k];
  link_->publish(topics_.unit(u),
                 readingJson(u, std::span<const double>(cells, static_cast<std::size_t>(n)), tables.TotalVoltage[u],
                             std::chrono::system_clock::now()),
                 false);
}

void Publisher::publishPolling(bool started) {
  link_->publish(topics_.polling(), pollingJson(started, std::chrono::system_clock::now()), true);
}

void Publisher::publishEvent(const std::string& name, std::string json) {
  link_->publish(topics_.event(name), std::move(json), false);
}

PublishStart startPublishing(const QString& path, QObject* parent) {
  PublishStart start;
  try {
    const std::optional<PublishSettings> settings = readSettingsFile(path.toStdString());
    if (!settings) return start;
    start.publisher = std::make_unique<Publisher>(*settings, parent);
    qCInfo(lcPublish).noquote() << "publishing to" << QString::fromStdString(settings->host) << "port"
                                << settings->port << "under"
                                << QString::fromStdString(settings->topicPrefix + "/" + settings->station + "/");
  } catch (const std::exception& e) {
    start.problem = QString::fromStdString(e.what());
    qCWarning(lcPublish).noquote() << "publishing is off:" << start.problem;
  }
  return start;
}

}  // namespace publish
