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
  // A fault in one server's section keeps that server off, and only that one.
  QStringList problems;
  for (const SettingsProblem& p : settings->problems) {
    QString text = QString::fromStdString(p.text);
    if (p.section == "modbus") {
      text = QStringLiteral("Modbus TCP: ") + text;
      qCWarning(lcModbus).noquote() << text << "(the server stays off)";
    } else if (p.section == "metrics") {
      text = QStringLiteral("Prometheus metrics: ") + text;
      qCWarning(lcMetrics).noquote() << text << "(the endpoint stays off)";
    } else {
      qCWarning(lcModbus).noquote() << text << "(ignored)";
    }
    problems << text;
  }
  ControlRoomStart result = start(*settings, version);
  if (!result.problem.isEmpty()) problems << result.problem;
  result.problem = problems.join(QLatin1Char('\n'));
  return result;
}

namespace {

// Neither server asks who reads: beyond the loopback interface, say so in the log.
void warnIfOpen(const QLoggingCategory& (*category)(), const char* server, const std::string& listen) {
  if (listen.starts_with("127.")) return;
  qCWarning(category).noquote() << server << "listens on" << QString::fromStdString(listen)
                                << (listen == "0.0.0.0" ? "(every interface) without authentication: every host that reaches this "
                                                          "computer can read the station"
                                                        : "without authentication: every host that reaches this address can read "
                                                          "the station");
}

}  // namespace

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
      warnIfOpen(lcModbus, "the Modbus TCP server", settings.modbus.listen);
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
      warnIfOpen(lcMetrics, "the Prometheus endpoint", settings.metrics.listen);
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
