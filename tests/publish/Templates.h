#pragma once
// Home Assistant's value_template, for the templates the station generates: a path into the
// message body, "{{ value_json.total }}" or "{{ value_json.voltages[6] }}". Anything else
// fails, so a template Home Assistant would need Jinja for cannot slip past the tests.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QRegularExpression>
#include <optional>
#include <string>

/// The value the template picks from `body`; nothing when the template is not a plain path or
/// the path does not exist in the body.
inline std::optional<QJsonValue> evaluateTemplate(const std::string& tmpl, const std::string& body) {
  static const QRegularExpression path(QStringLiteral(R"(^\{\{ value_json\.([a-z_]+)(?:\[(\d+)\])? \}\}$)"));
  const auto m = path.match(QString::fromStdString(tmpl));
  if (!m.hasMatch()) return std::nullopt;
  const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(body)).object();
  if (!o.contains(m.captured(1))) return std::nullopt;
  QJsonValue v = o.value(m.captured(1));
  if (m.captured(2).isEmpty()) return v;
  const int i = m.captured(2).toInt();
  if (!v.isArray() || i >= v.toArray().size()) return std::nullopt;
  return v.toArray().at(i);
}

/// The keys Home Assistant documents for MQTT discovery of sensors and binary sensors (and
/// their device), of those the station may send.
inline bool documentedKey(const QString& key, bool binary) {
  static const QStringList common = {QStringLiteral("name"), QStringLiteral("unique_id"), QStringLiteral("state_topic"),
                                     QStringLiteral("value_template"), QStringLiteral("device_class"),
                                     QStringLiteral("availability_topic"), QStringLiteral("payload_available"),
                                     QStringLiteral("payload_not_available"), QStringLiteral("device")};
  static const QStringList sensor = {QStringLiteral("state_class"), QStringLiteral("unit_of_measurement"),
                                     QStringLiteral("suggested_display_precision")};
  static const QStringList binarySensor = {QStringLiteral("payload_on"), QStringLiteral("payload_off")};
  return common.contains(key) || (binary ? binarySensor : sensor).contains(key);
}

inline bool documentedDeviceKey(const QString& key) {
  static const QStringList keys = {QStringLiteral("identifiers"), QStringLiteral("name"), QStringLiteral("model"),
                                   QStringLiteral("manufacturer"), QStringLiteral("sw_version"),
                                   QStringLiteral("via_device")};
  return keys.contains(key);
}
