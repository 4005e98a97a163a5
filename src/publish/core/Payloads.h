#pragma once
// Topic names and message bodies of what a station publishes. Every topic lies under
// <prefix>/<station>/; bodies are JSON (UTF-8) except the station status, which is the plain
// word "online" or "offline" so a broker's last will can carry it.
#include <chrono>
#include <optional>
#include <span>
#include <string>

namespace publish {

class Topics {
 public:
  Topics(std::string prefix, std::string station);

  /// <prefix>/<station>/status: "online" or "offline", retained.
  std::string status() const { return base_ + "status"; }
  /// <prefix>/<station>/polling: the polling state, retained.
  std::string polling() const { return base_ + "polling"; }
  /// <prefix>/<station>/unit/<N>: the unit's latest decoded reply.
  std::string unit(int unit) const { return base_ + "unit/" + std::to_string(unit); }
  /// <prefix>/<station>/event/<name>: happenings such as alarms, not retained.
  std::string event(const std::string& name) const { return base_ + "event/" + name; }
  /// <prefix>/<station>/unit/<N>/state: {"online":"ON","alarm":"OFF"}, retained; published
  /// only with Home Assistant discovery on.
  std::string unitState(int n) const { return unit(n) + "/state"; }

 private:
  std::string base_;
};

inline constexpr const char* kOnline = "online";
inline constexpr const char* kOffline = "offline";

/// UTC in ISO 8601 with milliseconds: 2026-12-09T10:22:12.345Z.
std::string isoTime(std::chrono::system_clock::time_point t);

/// {"unit":7,"cells":24,"voltages":[2.25,...],"total":54.1,"time":"..."}; voltages holds
/// cells 1..n in order, in volts to the millivolt (the station's number text, no exponent).
/// With `summary`, "lowest", "highest" and "spread" of the cells follow "total" (null for a
/// unit without cells).
std::string readingJson(int unit, std::span<const double> voltages, double total,
                        std::chrono::system_clock::time_point t, bool summary = false);

/// A voltage rounded to the millivolt, as bodies carry it.
double roundToMillivolt(double v);

/// {"state":"started","time":"..."} or "stopped".
std::string pollingJson(bool started, std::chrono::system_clock::time_point t);

/// The body of an event such as an alarm: {"event":"alarm_raised","unit":3,"cell":12,
/// "value":1.8,"text":"...","time":"..."}. unit and cell are left out when 0 (the station or
/// the line as a whole, a unit's total), value when absent, text when empty.
std::string eventJson(const std::string& event, int unit, int cell, std::optional<double> value, const std::string& text,
                      std::chrono::system_clock::time_point t);

/// A JSON string literal, quotes included, with the escapes JSON requires.
std::string jsonString(const std::string& text);

}  // namespace publish
