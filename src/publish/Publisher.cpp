#include "publish/Publisher.h"

#include <QStringList>
#include <algorithm>
#include <chrono>
#include <span>
#include <stdexcept>

#include "publish/PublishLog.h"

#ifndef CELLSTATION_VERSION
#error "CELLSTATION_VERSION comes from the build"
#endif

namespace publish {

namespace {

// With discovery: Home Assistant's birth message, and the station's unit devices on the broker.
// The handlers run on the link thread and hand over to the publisher's.
BrokerLink::Incoming incomingFor(const std::optional<Discovery>& discovery, Publisher* publisher,
                                 void (*onBirth)(Publisher*), void (*onUnit)(Publisher*, int),
                                 void (*onConnected)(Publisher*)) {
  if (!discovery) return {};
  BrokerLink::Incoming in;
  in.topics = {discovery->birthTopic(), discovery->unitConfigFilter()};
  in.handler = [d = *discovery, publisher, onBirth, onUnit](const std::string& topic, const std::string& payload) {
    if (topic == d.birthTopic()) {
      if (payload == kOnline) QMetaObject::invokeMethod(publisher, [publisher, onBirth] { onBirth(publisher); }, Qt::QueuedConnection);
      return;
    }
    // An empty payload is a removal: nothing stands there.
    const int unit = d.unitOfConfig(topic);
    if (unit >= 1 && unit <= acquisition::kUnits && !payload.empty())
      QMetaObject::invokeMethod(publisher, [publisher, onUnit, unit] { onUnit(publisher, unit); }, Qt::QueuedConnection);
  };
  in.connected = [publisher, onConnected] {
    QMetaObject::invokeMethod(publisher, [publisher, onConnected] { onConnected(publisher); }, Qt::QueuedConnection);
  };
  return in;
}

}  // namespace

Publisher::Publisher(const PublishSettings& settings, QObject* parent)
    : QObject(parent),
      settings_(settings),
      topics_(settings.topicPrefix, settings.station),
      discovery_(settings.discovery ? std::optional<Discovery>(std::in_place, settings, CELLSTATION_VERSION) : std::nullopt),
      link_(std::make_unique<BrokerLink>(settings, topics_.status(),
                                         incomingFor(
                                             discovery_, this, [](Publisher* p) { p->homeAssistantStarted(); },
                                             [](Publisher* p, int unit) { p->unitSeenOnBroker(unit); },
                                             [](Publisher* p) { p->connected(); }))) {
  stateCheck_.setSingleShot(true);
  stateCheck_.setInterval(0);
  connect(&stateCheck_, &QTimer::timeout, this, [this] { publishStates(); });
  if (discovery_) {
    announce(discovery_->station());
    stationAnnounced_ = true;
  }
}

Publisher::~Publisher() { stop(); }

void Publisher::stop() { link_->stop(); }

QStringList Publisher::statusLines() const {
  QStringList lines;
  for (const std::string& line : publish::statusLines(link_->status())) lines << QString::fromStdString(line);
  return lines;
}

void Publisher::publishReply(const acquisition::ReplyOutcome& outcome, const acquisition::MeasurementTables& tables) {
  if (!outcome.stored() || outcome.unit < 1 || outcome.unit > acquisition::kUnits) return;
  const int u = outcome.unit;
  const int n = std::clamp(tables.CellCount[u], 0, acquisition::kCells);
  double cells[acquisition::kCells];
  for (int k = 1; k <= n; ++k) cells[k - 1] = tables.CellVoltage[u][k];
  // A unit whose cell count changed gets sensors for the cells it has now, before the reading.
  if (discovery_ && settings_.discoveryCells && u <= announcedUnits_ && n != announcedCells_[u]) {
    if (n > announcedCells_[u]) announce(discovery_->cells(u, announcedCells_[u] + 1, n));
    else announce(Discovery::removal(discovery_->cells(u, n + 1, announcedCells_[u])));
    announcedCells_[u] = n;
  }
  link_->publish(topics_.unit(u),
                 readingJson(u, std::span<const double>(cells, static_cast<std::size_t>(n)), tables.TotalVoltage[u],
                             std::chrono::system_clock::now(), discovery_.has_value()),
                 false);
  // A first reply brings the unit online.
  unitStatesMayHaveChanged();
}

void Publisher::publishPolling(bool started) {
  link_->publish(topics_.polling(), pollingJson(started, std::chrono::system_clock::now()), true);
}

void Publisher::publishEvent(const std::string& name, std::string json) {
  link_->publish(topics_.event(name), std::move(json), false);
}

void Publisher::setUnitCount(int units) {
  if (!discovery_) return;
  units = std::clamp(units, 0, acquisition::kUnits);
  for (int u = announcedUnits_ + 1; u <= units; ++u) announceUnit(u);
  for (int u = announcedUnits_; u > units; --u) withdrawUnit(u);
  announcedUnits_ = units;
  if (!unitCountKnown_) {
    unitCountKnown_ = true;
    for (int u = units + 1; u <= acquisition::kUnits; ++u)
      if (seenOnBroker_[u]) withdrawUnit(u, true);
  }
  unitStatesMayHaveChanged();
}

void Publisher::setUnitStateSource(std::function<UnitState(int)> source) {
  stateSource_ = std::move(source);
  unitStatesMayHaveChanged();
}

void Publisher::unitStatesMayHaveChanged() {
  if (discovery_ && stateSource_) stateCheck_.start();
}

void Publisher::publishStates() {
  if (!discovery_ || !stateSource_) return;
  for (int u = 1; u <= announcedUnits_; ++u) {
    const UnitState now = stateSource_(u);
    if (sentStates_[u] == now) continue;
    link_->publishState(topics_.unitState(u), std::string("{\"online\":\"") + (now.online ? "ON" : "OFF") +
                                                  "\",\"alarm\":\"" + (now.alarm ? "ON" : "OFF") + "\"}");
    sentStates_[u] = now;
  }
}

void Publisher::connected() {
  // The first connection takes what waits for it; a broker restarted without persistence has
  // lost the retained states: after every other one they go out again.
  if (++connections_ == 1) return;
  sentStates_.fill(std::nullopt);
  unitStatesMayHaveChanged();
}

void Publisher::unitSeenOnBroker(int unit) {
  if (!unitCountKnown_) {
    seenOnBroker_[unit] = true;
    return;
  }
  if (unit > announcedUnits_ && !withdrawn_[unit]) withdrawUnit(unit, true);
}

void Publisher::announce(const std::vector<DiscoveryConfig>& configs) {
  for (const DiscoveryConfig& c : configs) link_->publishState(c.topic, c.payload);
}

void Publisher::announceUnit(int unit) {
  withdrawn_[unit] = false;
  announce(discovery_->unit(unit));
  if (settings_.discoveryCells && announcedCells_[unit] > 0) announce(discovery_->cells(unit, 1, announcedCells_[unit]));
}

void Publisher::withdrawUnit(int unit, bool formerRun) {
  announce(Discovery::removal(discovery_->unit(unit)));
  // A former run may have had cells = true and any number of cells.
  const int cells = formerRun ? acquisition::kCells : announcedCells_[unit];
  if (cells > 0) announce(Discovery::removal(discovery_->cells(unit, 1, cells)));
  announcedCells_[unit] = 0;
  link_->publishState(topics_.unitState(unit), std::string());
  sentStates_[unit].reset();
  withdrawn_[unit] = true;
}

void Publisher::homeAssistantStarted() {
  // A Home Assistant that starts without the retained configs (a broker without persistence,
  // a new discovery prefix) learns them again, and the units' states with them.
  announce(discovery_->station());
  for (int u = 1; u <= announcedUnits_; ++u) announceUnit(u);
  sentStates_.fill(std::nullopt);
  unitStatesMayHaveChanged();
}

PublishStart startPublishing(const QString& path, QObject* parent) {
  PublishStart start;
  try {
    const std::optional<PublishSettings> settings = readSettingsFile(path.toStdString());
    if (!settings) return start;
    for (const std::string& w : settings->warnings) qCWarning(lcPublish).noquote() << QString::fromStdString(w);
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
