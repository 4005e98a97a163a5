#pragma once
// What the station tells its broker: every stored reply, polling started and stopped, and
// (through publishEvent) happenings of other features such as alarms; with Home Assistant
// discovery on, the configs that make Home Assistant show the station and its units. Lives on
// the main thread; the slots only build the message and hand it to the BrokerLink, which never
// waits for the network.
#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/core/MeasurementTables.h"
#include "acquisition/core/ReplyDecoder.h"
#include "publish/BrokerLink.h"
#include "publish/core/Discovery.h"
#include "publish/core/LinkStatus.h"
#include "publish/core/Payloads.h"
#include "publish/core/PublishSettings.h"

namespace publish {

class Publisher : public QObject {
  Q_OBJECT
 public:
  /// Starts the link (it connects on its own thread). Throws std::runtime_error when the
  /// client cannot be set up.
  explicit Publisher(const PublishSettings& settings, QObject* parent = nullptr);
  ~Publisher() override;

  const Topics& topics() const { return topics_; }
  BrokerLink& link() { return *link_; }

  /// A stored reply of `outcome.unit`: its cells 1..n and total as the tables hold them now.
  /// Other outcomes (bad checksum, malformed) publish nothing.
  void publishReply(const acquisition::ReplyOutcome& outcome, const acquisition::MeasurementTables& tables);
  void publishPolling(bool started);
  /// `json` under <prefix>/<station>/event/<name>, not retained: the hook for alarms and the
  /// like. The app connects a feature's signal to it, building the body with eventJson(), e.g.
  ///   connect(monitor, &Monitor::eventRecorded, publisher, [publisher](const Event& e) {
  ///     publisher->publishEvent("alarm_raised", publish::eventJson("alarm_raised", e.unit, e.cell,
  ///                                                                e.value, text, now)); });
  void publishEvent(const std::string& name, std::string json);

  /// The station's unit count (1..99), once the settings are read and whenever polling starts
  /// with another. With discovery on, units up to it get their Home Assistant device; units
  /// above it that have one have it removed, those announced in this run and those a former
  /// run left on the broker alike. Without discovery: nothing.
  void setUnitCount(int units);

  /// A unit's state for Home Assistant's binary sensors 在线 and 告警.
  struct UnitState {
    bool online = false;
    bool alarm = false;
    bool operator==(const UnitState&) const = default;
  };
  /// Where the units' states come from (the health monitor). With discovery on, the state of
  /// every announced unit goes out (unit/<N>/state, retained) as soon as the unit is
  /// announced, again after every connection to the broker and every Home Assistant start, and
  /// whenever it changes. Without discovery: nothing.
  void setUnitStateSource(std::function<UnitState(int unit)> source);
  /// Something that may change a unit's state happened (a reply, an alarm, a unit offline):
  /// the states are compared once the event loop turns, and those that changed go out.
  void unitStatesMayHaveChanged();

  /// The link's state for the statistics dialog; any thread.
  LinkStatus status() const { return link_->status(); }
  /// The same as lines of text (UTF-8 Chinese), ready for the dialog.
  QStringList statusLines() const;

  /// The link's orderly end: what is waiting (a last "polling stopped" included) is delivered
  /// before "offline". Also done on destruction.
  void stop();

 private:
  void announce(const std::vector<DiscoveryConfig>& configs);
  void announceUnit(int unit);
  /// `formerRun`: the device was left by a former run, whose cells are not known here.
  void withdrawUnit(int unit, bool formerRun = false);
  void homeAssistantStarted();
  /// The link connected (again): what is retained may be gone with a restarted broker.
  void connected();
  /// The broker holds a device config of `unit` (from this run or a former one).
  void unitSeenOnBroker(int unit);
  void publishStates();

  PublishSettings settings_;
  Topics topics_;
  std::optional<Discovery> discovery_;
  int announcedUnits_ = 0;
  /// setUnitCount has been called: devices above the count seen on the broker go at once.
  bool unitCountKnown_ = false;
  bool stationAnnounced_ = false;
  /// Per unit: the cells whose sensors Home Assistant has (discovery with cells = true).
  std::array<int, acquisition::kUnits + 1> announcedCells_{};
  /// Per unit: a device seen on the broker before the unit count was known; removed in this
  /// run (so the broker's echo of the removed config is not removed again).
  std::array<bool, acquisition::kUnits + 1> seenOnBroker_{};
  std::array<bool, acquisition::kUnits + 1> withdrawn_{};
  std::function<UnitState(int)> stateSource_;
  /// Per unit: the state last handed to the link.
  std::array<std::optional<UnitState>, acquisition::kUnits + 1> sentStates_{};
  QTimer stateCheck_;
  /// Connections to the broker so far.
  int connections_ = 0;
  std::unique_ptr<BrokerLink> link_;
};

/// The outcome of looking for publish.ini in the station folder.
struct PublishStart {
  /// Set when publishing runs.
  std::unique_ptr<Publisher> publisher;
  /// Set when the file exists but cannot be used: the text for the operator and the log.
  QString problem;
};

/// Reads `path` (publish.ini in the station folder) and starts publishing when it holds
/// usable settings. No file: nothing at all. A faulty file or a client that cannot be set up:
/// problem holds the reason (already logged) and nothing is published. Warnings about the
/// file (a password others may read, or sent without TLS) are logged.
PublishStart startPublishing(const QString& path, QObject* parent = nullptr);

}  // namespace publish
