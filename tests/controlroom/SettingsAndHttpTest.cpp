// controlroom.ini, and the metrics endpoint's answers to requests other than a plain scrape.
#include <gtest/gtest.h>

#include "controlroom/core/ControlSettings.h"
#include "metrics/core/Exposition.h"
#include "metrics/core/HttpRequest.h"

namespace {

using controlroom::parseSettings;
using controlroom::SettingsError;

// The problems found, one a line.
std::string errorOf(std::string_view text) {
  std::string out;
  for (const auto& p : parseSettings(text).problems) out += (out.empty() ? "" : "\n") + p.text;
  return out.empty() ? "no error" : out;
}

TEST(ControlSettings, DefaultsAndAFullFile) {
  const auto off = parseSettings("; nothing switched on\n[modbus]\n");
  EXPECT_FALSE(off.modbus.enabled);
  EXPECT_FALSE(off.metrics.enabled);
  const auto s = parseSettings(
      "\xEF\xBB\xBF[modbus]\nenabled = yes\r\nport = 5020  ; site's port\n[metrics]\nenabled = true\nlisten = 0.0.0.0\n"
      "max_clients = 4\nidle_timeout = 5\n");
  EXPECT_TRUE(s.modbus.enabled);
  EXPECT_EQ(s.modbus.listen, "127.0.0.1");
  EXPECT_EQ(s.modbus.port, 5020);
  EXPECT_EQ(s.modbus.maxClients, 32);
  EXPECT_EQ(s.metrics.port, 9108);
  EXPECT_EQ(s.metrics.listen, "0.0.0.0");
  EXPECT_EQ(s.metrics.maxClients, 4);
  EXPECT_EQ(s.metrics.idleTimeoutSeconds, 5);
}

TEST(ControlSettings, FaultsNameTheirLine) {
  EXPECT_EQ(errorOf("[modbus]\nenabled = true\nprot = 1502\n"),
            "controlroom.ini line 3: unknown key \"prot\" in [modbus] (known: enabled, listen, port, max_clients, idle_timeout)");
  EXPECT_EQ(errorOf("[modbus]\n\nport = 70000\n"), "controlroom.ini line 3: port must be a whole number from 1 to 65535, not \"70000\"");
  EXPECT_EQ(errorOf("[metrics]\nlisten = localhost\n"),
            "controlroom.ini line 2: listen must be an IPv4 address such as 127.0.0.1 or 0.0.0.0, not \"localhost\"");
  EXPECT_EQ(errorOf("[metrics]\nenabled = maybe\n"), "controlroom.ini line 2: enabled must be true or false, not \"maybe\"");
  EXPECT_EQ(errorOf("[modbus]\nport = 1\nport = 2\n"), "controlroom.ini line 3: port is given twice");
  EXPECT_EQ(errorOf("port = 1\n"), "controlroom.ini line 1: \"port\" comes before any section");
  EXPECT_EQ(errorOf("[mqtt]\n"), "controlroom.ini line 1: unknown section [mqtt] (known: [modbus], [metrics])");
  EXPECT_EQ(errorOf("[modbus]\nenabled=1\nport=9000\n[metrics]\nenabled=1\nport=9000\n"),
            "controlroom.ini: [modbus] and [metrics] must not use the same port");
}

TEST(ControlSettings, AFaultKeepsOnlyItsOwnServerOff) {
  // A fault in [metrics] (here a section given twice) leaves [modbus] as written, and the other
  // way round; lines outside both sections turn off neither.
  auto s = parseSettings("[metrics]\nenabled = true\n[modbus]\nenabled = true\nport = 5020\n[metrics]\nenabled = true\n");
  EXPECT_TRUE(s.modbus.enabled);
  EXPECT_EQ(s.modbus.port, 5020);
  EXPECT_FALSE(s.metrics.enabled);
  ASSERT_EQ(s.problems.size(), 1u);
  EXPECT_EQ(s.problems[0].section, "metrics");
  EXPECT_EQ(s.problems[0].text, "controlroom.ini line 7: enabled is given twice");
  s = parseSettings("stray = 1\n[modbus]\nenabled = yes\nport = 0\n[mqtt]\nport = 1\n[metrics]\nenabled = true\n");
  EXPECT_FALSE(s.modbus.enabled);
  EXPECT_TRUE(s.metrics.enabled);
  ASSERT_EQ(s.problems.size(), 2u);
  EXPECT_EQ(s.problems[0].section, "modbus");
  EXPECT_EQ(s.problems[1].text, "controlroom.ini line 1: \"stray\" comes before any section");
  // A broken header is nobody's: the keys after it do not reach the server it names.
  s = parseSettings("[metrics\nenabled = true\n");
  EXPECT_FALSE(s.metrics.enabled);
  EXPECT_EQ(errorOf("[metrics\nenabled = true\n"), "controlroom.ini line 1: a section name must end with ]");
}

TEST(MetricsHttp, OnlyGetOfMetricsGetsTheExposition) {
  int rendered = 0;
  const auto body = [&rendered](std::string& out) {
    ++rendered;
    out += "x 1\n";
  };
  std::string out;
  EXPECT_EQ(metrics::handleHttp("GET /metrics HTTP/1.1\r\nHost: a\r\n", body, out).consumed, 0u);
  EXPECT_TRUE(out.empty());

  const std::string get = "GET /metrics?x=1 HTTP/1.1\r\nHost: a\r\n\r\n";
  auto h = metrics::handleHttp(get, body, out);
  EXPECT_EQ(h.status, 200);
  EXPECT_EQ(h.consumed, get.size());
  EXPECT_TRUE(out.starts_with("HTTP/1.1 200 OK\r\n"));
  EXPECT_NE(out.find("Content-Type: text/plain; version=0.0.4; charset=utf-8\r\nContent-Length: 4\r\n"), std::string::npos);
  EXPECT_TRUE(out.ends_with("\r\n\r\nx 1\n"));

  out.clear();
  EXPECT_EQ(metrics::handleHttp("HEAD /metrics HTTP/1.0\r\n\r\n", body, out).status, 200);
  EXPECT_TRUE(out.ends_with("Content-Length: 4\r\nConnection: close\r\n\r\n"));

  for (auto [req, status] : std::vector<std::pair<std::string, int>>{
           {"GET / HTTP/1.1\r\n\r\n", 404}, {"POST /metrics HTTP/1.1\r\n\r\n", 405}, {"hello\n\n", 400},
           {std::string(metrics::kMaxHead, 'A'), 431},
           // Bytes no request head holds are refused without waiting for the rest of a head.
           {std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11), 400}, {std::string("GET /metrics\0", 13), 400}}) {
    out.clear();
    h = metrics::handleHttp(req, body, out);
    EXPECT_EQ(h.status, status) << req.substr(0, 20);
    EXPECT_EQ(h.malformed, status == 400 || status == 431);
  }
  EXPECT_EQ(rendered, 2);
}

TEST(Exposition, OnlyPolledUnitsAndReportedCellsAndCumulativeBuckets) {
  acquisition::StationSnapshot s;
  s.unitCount = 2;
  s.unit(2).cellCount = 2;
  s.unit(2).cellVolts = {2.25, 0.1 + 0.2, 3.0};
  s.unit(2).lastGoodMs = 1;
  s.unit(3).cellCount = 5;  // not polled
  metrics::SamplingHistogram runs;
  // Each run lasts exactly a bucket's bound: it counts in that bucket ("le").
  runs.observe(0.025);
  runs.observe(5);
  std::string out;
  metrics::renderMetrics(s, runs.counts(), "0.1\"\\", out);
  EXPECT_NE(out.find("\ncellstation_build_info{version=\"0.1\\\"\\\\\"} 1\n"), std::string::npos);
  // Volts as the window shows them, not the shortest text of the double.
  EXPECT_NE(out.find("\ncellstation_cell_voltage_volts{unit=\"2\",cell=\"2\"} 0.3\n"), std::string::npos);
  EXPECT_EQ(out.find("cell=\"3\""), std::string::npos);
  EXPECT_EQ(out.find("unit=\"3\""), std::string::npos);
  EXPECT_NE(out.find("{le=\"0.01\"} 0\ncellstation_sampling_run_duration_seconds_bucket{le=\"0.025\"} 1\n"), std::string::npos);
  EXPECT_NE(out.find("{le=\"2.5\"} 1\ncellstation_sampling_run_duration_seconds_bucket{le=\"5\"} 2\n"), std::string::npos);
  EXPECT_NE(out.find("_sum 5.025\ncellstation_sampling_run_duration_seconds_count 2\n"), std::string::npos);
}

}  // namespace
