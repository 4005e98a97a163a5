#include "controlroom/ControlRoom.h"

#include "metrics/MetricsServer.h"
#include "modbus/ModbusServer.h"

Q_LOGGING_CATEGORY(lcModbus, "cellstation.modbus")
Q_LOGGING_CATEGORY(lcMetrics, "cellstation.metrics")

namespace controlroom {

ControlRoom::~ControlRoom() {
  // Stopped before the board and the histogram go.
  modbus_.reset();
  metrics_.reset();
}

ControlRoomStart ControlRoom::start(const QString& iniPath, const std::string& version) {
  std::optional<ControlSettings> settings;
  try {
    settings = readSettingsFile(iniPath.toStdString());
  } catch (const SettingsError& e) {
    const QString text = QString::fromStdString(e.what());
    qCWarning(lcModbus).noquote() << "control-room servers off:" << text;
    return {nullptr, text};
  }
  if (!settings) return {};
  return start(*settings, version);
}

ControlRoomStart ControlRoom::start(const ControlSettings& settings, const std::string& version) {
  if (!settings.modbus.enabled && !settings.metrics.enabled) return {};
  std::unique_ptr<ControlRoom> room(new ControlRoom);
  QStringList problems;
  if (settings.modbus.enabled) {
    try {
      room->modbus_ = modbus::startModbusServer(settings.modbus, room->board_, [](const std::string& line) {
        qCInfo(lcModbus).noquote() << QString::fromStdString(line);
      });
      qCInfo(lcModbus).noquote() << "Modbus TCP server listening on"
                                 << QStringLiteral("%1:%2").arg(QString::fromStdString(settings.modbus.listen)).arg(room->modbus_->port());
    } catch (const ListenError& e) {
      const QString text = QStringLiteral("Modbus TCP: ") + QString::fromStdString(e.what());
      qCWarning(lcModbus).noquote() << text;
      problems << text;
    }
  }
  if (settings.metrics.enabled) {
    try {
      room->metrics_ = metrics::startMetricsServer(settings.metrics, room->board_, room->runs_, version,
                                                   [](const std::string& line) { qCInfo(lcMetrics).noquote() << QString::fromStdString(line); });
      qCInfo(lcMetrics).noquote() << "Prometheus metrics at"
                                  << QStringLiteral("http://%1:%2/metrics").arg(QString::fromStdString(settings.metrics.listen)).arg(room->metrics_->port());
    } catch (const ListenError& e) {
      const QString text = QStringLiteral("Prometheus metrics: ") + QString::fromStdString(e.what());
      qCWarning(lcMetrics).noquote() << text;
      problems << text;
    }
  }
  ControlRoomStart result;
  result.problem = problems.join(QLatin1Char('\n'));
  if (room->modbus_ || room->metrics_) result.room = std::move(room);
  return result;
}

}  // namespace controlroom
