#include "publish/core/Payloads.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "common/NumberText.h"

namespace publish {

namespace {

// Every number in a body is a voltage, shown to the millivolt as the station shows it: a unit
// sends at most three decimals, and a difference such as a spread (2.31 - 2.24 gives
// 0.07000000000000028) goes out as 0.07. JSON has no NaN or infinity; the decoder clamps, so
// these never come from the line, but a message that no parser accepts would be worse than a
// null.
void appendNumber(std::string& out, double v) {
  if (!std::isfinite(v)) {
    out += "null";
    return;
  }
  out += common::formatGeneral(roundToMillivolt(v), '.');
}

}  // namespace

double roundToMillivolt(double v) {
  // Beyond 2^53 / 1000 every double is already a whole number of millivolts.
  if (!std::isfinite(v) || std::fabs(v) >= 9e12) return v;
  const double r = std::round(v * 1000) / 1000;
  return r == 0 ? 0.0 : r;  // no "-0"
}

Topics::Topics(std::string prefix, std::string station) : base_(std::move(prefix) + "/" + std::move(station) + "/") {}

std::string isoTime(std::chrono::system_clock::time_point t) {
  using namespace std::chrono;
  const auto ms = time_point_cast<milliseconds>(t);
  const std::time_t seconds = system_clock::to_time_t(time_point_cast<system_clock::duration>(floor<std::chrono::seconds>(ms)));
  const auto millis = (ms.time_since_epoch() % 1000).count();
  std::tm utc{};
  ::gmtime_r(&seconds, &utc);
  char text[96];  // room for any int the compiler can imagine in each field
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(millis < 0 ? millis + 1000 : millis));
  return text;
}

std::string readingJson(int unit, std::span<const double> voltages, double total, std::chrono::system_clock::time_point t,
                        bool summary) {
  std::string out;
  out.reserve(64 + voltages.size() * 8);
  out += "{\"unit\":";
  out += std::to_string(unit);
  out += ",\"cells\":";
  out += std::to_string(voltages.size());
  out += ",\"voltages\":[";
  for (std::size_t k = 0; k < voltages.size(); ++k) {
    if (k) out += ',';
    appendNumber(out, voltages[k]);
  }
  out += "],\"total\":";
  appendNumber(out, total);
  if (summary) {
    // Lowest, highest and their difference, for dashboards that read single values.
    if (voltages.empty()) {
      out += ",\"lowest\":null,\"highest\":null,\"spread\":null";
    } else {
      double lo = voltages[0], hi = voltages[0];
      for (const double v : voltages) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
      }
      out += ",\"lowest\":";
      appendNumber(out, lo);
      out += ",\"highest\":";
      appendNumber(out, hi);
      out += ",\"spread\":";
      appendNumber(out, hi - lo);
    }
  }
  out += ",\"time\":\"";
  out += isoTime(t);
  out += "\"}";
  return out;
}

std::string pollingJson(bool started, std::chrono::system_clock::time_point t) {
  return std::string("{\"state\":\"") + (started ? "started" : "stopped") + "\",\"time\":\"" + isoTime(t) + "\"}";
}

std::string eventJson(const std::string& event, int unit, int cell, std::optional<double> value, const std::string& text,
                      std::chrono::system_clock::time_point t) {
  std::string out = "{\"event\":" + jsonString(event);
  if (unit) out += ",\"unit\":" + std::to_string(unit);
  if (cell) out += ",\"cell\":" + std::to_string(cell);
  if (value) {
    out += ",\"value\":";
    appendNumber(out, *value);
  }
  if (!text.empty()) out += ",\"text\":" + jsonString(text);
  return out + ",\"time\":\"" + isoTime(t) + "\"}";
}

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
          out += esc;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

}  // namespace publish
