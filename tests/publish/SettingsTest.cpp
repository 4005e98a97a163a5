// publish.ini: what a full, a partial and a faulty file give.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>

#include "publish/core/PublishSettings.h"

namespace {

using publish::parseSettings;
using publish::SettingsError;

TEST(PublishSettings, readsEveryKey) {
  const auto s = parseSettings(
      "; site broker\n"
      "[broker]\n"
      "host = mqtt.site.example   ; the site's broker\n"
      "port=8884\r\n"
      "tls = yes\n"
      "ca_file = /etc/site/ca.pem\n"
      "username = room-a\n"
      "password = \" se;cr #et \"  # quoted\n"
      "client_id = station#7;a\n"
      "keep_alive = 15\n"
      "reconnect_min = 2\n"
      "reconnect_max = 90\n"
      "\n"
      "# where\n"
      "[topics]\n"
      "prefix = plant/batteries\n"
      "station = 机房-A\n"
      "[buffer]\n"
      "messages = 250\n");
  EXPECT_EQ(s.host, "mqtt.site.example");
  EXPECT_EQ(s.port, 8884);
  EXPECT_TRUE(s.tls);
  EXPECT_EQ(s.caFile, "/etc/site/ca.pem");
  EXPECT_EQ(s.username, "room-a");
  EXPECT_EQ(s.password, " se;cr #et ");
  EXPECT_EQ(s.clientId, "station#7;a");
  EXPECT_EQ(s.keepAliveSeconds, 15);
  EXPECT_EQ(s.reconnectMinSeconds, 2);
  EXPECT_EQ(s.reconnectMaxSeconds, 90);
  EXPECT_EQ(s.topicPrefix, "plant/batteries");
  EXPECT_EQ(s.station, "机房-A");
  EXPECT_EQ(s.bufferMessages, 250);
}

TEST(PublishSettings, aPartialFileTakesTheDefaults) {
  const auto plain = parseSettings("[broker]\nhost=10.0.0.5\n[topics]\nstation=room-b\n");
  EXPECT_EQ(plain.port, 1883);
  EXPECT_FALSE(plain.tls);
  EXPECT_EQ(plain.clientId, "cellstation-room-b");
  EXPECT_EQ(plain.topicPrefix, "cellstation");
  EXPECT_EQ(plain.keepAliveSeconds, 30);
  EXPECT_EQ(plain.reconnectMinSeconds, 1);
  EXPECT_EQ(plain.reconnectMaxSeconds, 60);
  EXPECT_EQ(plain.bufferMessages, 1000);
  EXPECT_TRUE(plain.username.empty());

  // TLS without a port goes to the TLS port; a port given stays.
  EXPECT_EQ(parseSettings("\xEF\xBB\xBF[broker]\nhost=h\ntls=true\nca_file=c\n[topics]\nstation=s\n").port, 8883);
  EXPECT_EQ(parseSettings("[broker]\nport=1883\nhost=h\ntls=true\nca_file=c\n[topics]\nstation=s\n").port, 1883);
}

TEST(PublishSettings, aFaultyFileIsRefusedNamingTheLine) {
  const std::string ok = "[broker]\nhost=h\n[topics]\nstation=s\n";
  const struct {
    std::string text;
    std::string message;
  } cases[] = {
      {"", "[broker] host is missing"},
      {"[broker]\nhost=h\n", "[topics] station is missing"},
      {"[broker]\nhost h\n", "line 2: expected key = value"},
      {"host=h\n", "line 1: \"host\" comes before any section"},
      {"[brokers]\n", "line 1: unknown section [brokers]"},
      {"[broker\n", "line 1: a section name must end with ]"},
      {ok + "[broker]\nhots=h\n", "line 6: unknown key \"hots\" in [broker]"},
      {ok + "[broker]\nhost=i\n", "line 6: host is given twice"},
      {"[broker]\nhost=\n", "line 2: host must not be empty"},
      {ok + "[broker]\nport=0\n", "line 6: port must be a whole number from 1 to 65535, not \"0\""},
      {ok + "[broker]\nport=65536\n", "port must be a whole number"},
      {ok + "[broker]\nport=18 83\n", "port must be a whole number"},
      {ok + "[broker]\nport=1883x\n", "port must be a whole number"},
      {ok + "[broker]\nkeep_alive=2\n", "keep_alive must be a whole number from 5 to 3600"},
      {ok + "[broker]\ntls=maybe\n", "line 6: tls must be true or false, not \"maybe\""},
      {ok + "[broker]\ntls=true\n", "tls = true needs [broker] ca_file"},
      {ok + "[broker]\npassword=p\n", "line 6: a password needs a username"},
      {ok + "[broker]\nreconnect_min=10\nreconnect_max=5\n", "reconnect_max must not be below reconnect_min"},
      {ok + "[broker]\npassword=\"open\n", "line 6: a quoted value must end with a quote"},
      {ok + "[broker]\nusername=\"a\" b\n", "line 6: only a comment may follow a quoted value"},
      {ok + "[broker]\nport=1883 ; x\nkeep_alive=10#x\n", "line 7: keep_alive must be a whole number"},
      {"[broker]\nhost=h\n[topics]\nstation=a/b\n", "line 4: station must be one topic level, without /"},
      {"[broker]\nhost=h\n[topics]\nstation=room+\n", "station must not contain the wildcards + or #"},
      {"[broker]\nhost=h\n[topics]\nstation=s\nprefix=a/#\n", "prefix must not contain the wildcards"},
      {"[broker]\nhost=h\n[topics]\nstation=s\nprefix=/a\n", "prefix must not have an empty level"},
      {"[broker]\nhost=h\n[topics]\nstation=s\nprefix=a//b\n", "prefix must not have an empty level"},
      {"[broker]\nhost=h\n[topics]\nstation=\"\"\n", "station must not be empty"},
      {"[broker]\nhost=h\n[topics]\nstation=a\tb\x01\n", "station must not contain control characters"},
      {ok + "[buffer]\nmessages=0\n", "messages must be a whole number from 1 to 100000"},
      {ok + "[buffer]\nsize=5\n", "unknown key \"size\" in [buffer]"},
  };
  for (const auto& c : cases) {
    try {
      parseSettings(c.text);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const SettingsError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what() << "\n  wanted: " << c.message;
      EXPECT_EQ(std::string(e.what()).rfind("publish.ini", 0), 0u) << e.what();
    }
  }
}

TEST(PublishSettings, theFileOnDisk) {
  const auto dir = std::filesystem::temp_directory_path() / ("publish-settings-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "publish.ini").string();
  EXPECT_FALSE(publish::readSettingsFile(path).has_value()) << "no file means no publishing";

  std::ofstream(path) << "[broker]\nhost=127.0.0.1\n[topics]\nstation=s\n";
  const auto s = publish::readSettingsFile(path);
  ASSERT_TRUE(s.has_value());
  EXPECT_EQ(s->host, "127.0.0.1");

  std::ofstream(path) << "[broker]\nhost=127.0.0.1\n";
  EXPECT_THROW(publish::readSettingsFile(path), SettingsError);

  // A folder where the file should be is a fault the operator must hear of, not "no file".
  std::filesystem::remove(path);
  std::filesystem::create_directory(path);
  EXPECT_THROW(publish::readSettingsFile(path), SettingsError);
  std::filesystem::remove_all(dir);
}

}  // namespace

namespace {

std::string errorOf(const std::string& text) {
  try {
    publish::parseSettings(text);
  } catch (const publish::SettingsError& e) {
    return e.what();
  }
  return "accepted";
}

TEST(PublishSettings, aPasswordIsNeverEchoedAndBadEncodingIsNamed) {
  const std::string head = "[broker]\nhost=h\nusername=u\n";
  // Base64 tokens end in '=': the line then reads as a key, which is not echoed either.
  for (const std::string line : {"password: s3cr3tPW", "password s3cr3tPW", "s3cr3tPW", "password s3cr3tPW==", "s3cr3tPW=="}) {
    const std::string e = errorOf(head + line + "\n[topics]\nstation=s\n");
    EXPECT_NE(e.find("line 4: expected key = value"), std::string::npos) << e;
    EXPECT_EQ(e.find("s3cr3tPW"), std::string::npos) << e;
  }
  EXPECT_NE(errorOf(head + "password: x\n").find("found \"password\" without \"=\""), std::string::npos);
  // A file saved in GBK: 机房 is B B FA B7 BF there, no UTF-8.
  EXPECT_NE(errorOf("[broker]\nhost=h\n[topics]\nstation=\xBB\xFA\xB7\xBF\n").find("line 4: station is not valid UTF-8"),
            std::string::npos);
  EXPECT_NE(errorOf("[broker]\nhost=h\nclient_id=a\xC0\xAF\n").find("line 3: client_id is not valid UTF-8"),
            std::string::npos)
      << "an overlong form is not UTF-8";
  EXPECT_EQ(parseSettings("[broker]\nhost=h\n[topics]\nstation=机房-A😀\n").station, "机房-A😀");
}

TEST(PublishSettings, homeAssistantAndWarningsAboutThePassword) {
  const auto s = parseSettings(
      "[broker]\nhost=h\nusername=u\npassword=p\nconnect_timeout=4\n[topics]\nstation=s\n"
      "[homeassistant]\ndiscovery=true\nprefix=ha/disc\ncells=yes\n");
  EXPECT_TRUE(s.discovery);
  EXPECT_EQ(s.discoveryPrefix, "ha/disc");
  EXPECT_TRUE(s.discoveryCells);
  EXPECT_EQ(s.connectTimeoutSeconds, 4);
  ASSERT_EQ(s.warnings.size(), 1u);
  EXPECT_NE(s.warnings[0].find("unencrypted"), std::string::npos) << s.warnings[0];
  const auto off = parseSettings("[broker]\nhost=h\n[topics]\nstation=s\n");
  EXPECT_FALSE(off.discovery);
  EXPECT_EQ(off.discoveryPrefix, "homeassistant");
  EXPECT_TRUE(off.warnings.empty());
  EXPECT_NE(errorOf("[broker]\nhost=h\n[homeassistant]\nprefix=a/+\n").find("line 4: prefix must not contain"),
            std::string::npos);

  // On disk: readable by others with a password is a warning; chmod 600 silences it.
  const auto dir = std::filesystem::temp_directory_path() / ("publish-mode-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "publish.ini").string();
  std::ofstream(path) << "[broker]\nhost=h\ntls=true\nca_file=c\nusername=u\npassword=p\n[topics]\nstation=s\n";
  ::chmod(path.c_str(), 0644);
  auto read = publish::readSettingsFile(path);
  ASSERT_EQ(read->warnings.size(), 1u);
  EXPECT_NE(read->warnings[0].find("chmod 600"), std::string::npos) << read->warnings[0];
  ::chmod(path.c_str(), 0600);
  EXPECT_TRUE(publish::readSettingsFile(path)->warnings.empty());
  std::filesystem::remove_all(dir);
}

}  // namespace
