#pragma once
// A snapshot of the broker link for the operator: whether it is connected, when it tries
// again and why, and what became of the messages. Plain data and its lines of text.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "publish/core/LinkPolicy.h"

namespace publish {

struct LinkStatus {
  enum class Phase {
    /// A connection is being made (name lookup, TCP, TLS, the broker's answer).
    Connecting,
    Connected,
    /// Waiting for the next attempt.
    Retrying,
    /// A failure that retries cannot mend: nothing more is tried.
    GivenUp,
    /// The station has ended the link.
    Stopped,
  };
  Phase phase = Phase::Connecting;
  /// host:port
  std::string where;
  /// Retrying: whole seconds until the next attempt, rounded up.
  int retryInSeconds = 0;
  /// Retrying, GivenUp: the last failure.
  std::optional<Failure> failure;
  /// Set while the broker keeps dropping the station right after accepting it: the client_id
  /// that another station may be using.
  std::string sharedClientId;
  /// Messages waiting now, acknowledged by the broker, dropped.
  std::uint64_t buffered = 0;
  std::uint64_t sent = 0;
  std::uint64_t dropped = 0;
};

/// The lines for the statistics dialog (UTF-8, Chinese), e.g.
///   MQTT 服务器 mqtt.site:1883：12 秒后重试（连接被拒绝）
///   MQTT 服务器 mqtt.site:1883：1 秒后重试（连接被对方断开；client_id room-a 可能正被另一站使用）
///   MQTT 消息：待发送 3 条，已发送 120 条，已丢弃 0 条
std::vector<std::string> statusLines(const LinkStatus& s);

}  // namespace publish
