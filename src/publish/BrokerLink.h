#pragma once
// The station's connection to an MQTT broker, on a thread of its own over libmosquitto.
//
// publish() never waits for the network: it puts the message into a bounded buffer and wakes
// the link thread, which hands buffered messages to the broker (QoS 1) while it is connected.
// While the broker is away the buffer keeps the latest messages; when it is full the oldest
// is dropped and counted. Lost or failed connections are retried with a delay that doubles
// from reconnect_min up to reconnect_max. A broker that refuses the connection (bad user name
// or password, not authorised) or a TLS handshake that fails is reported once in the log and
// not retried: the settings must change, and they are read only at start.
//
// The station's status topic carries "online" (retained) from every connection and
// "offline" (retained) as the broker's last will and on an orderly stop.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>

#include "publish/core/MessageBuffer.h"
#include "publish/core/PublishSettings.h"

struct mosquitto;

namespace publish {

class BrokerLink {
 public:
  enum class State {
    /// Before the first attempt, or between attempts while the delay runs.
    Waiting,
    /// A connection is being made: TCP, TLS, and the broker's answer to CONNECT.
    Connecting,
    Connected,
    /// The broker refused us or TLS failed: no more attempts.
    GivenUp,
    Stopped,
  };

  struct Counters {
    /// Messages taken by publish().
    std::uint64_t accepted = 0;
    /// Messages the broker acknowledged.
    std::uint64_t delivered = 0;
    /// Messages dropped from a full buffer, oldest first.
    std::uint64_t dropped = 0;
    /// Messages waiting in the buffer now.
    std::uint64_t buffered = 0;
    /// Messages handed to the broker connection and not yet acknowledged.
    std::uint64_t inFlight = 0;
    /// Connection attempts made, the first included.
    std::uint64_t attempts = 0;
    /// Connections the broker accepted.
    std::uint64_t connections = 0;
    State state = State::Waiting;
  };

  /// At most this many messages are handed to the connection unacknowledged; the rest wait in
  /// the buffer, so a connection that died silently holds no more than this.
  static constexpr std::size_t kMaxInFlight = 64;

  /// `statusTopic` gets "online"/"offline". Starts the link thread, which connects at once.
  /// Throws std::runtime_error when the client cannot be set up (no memory, no CA file).
  BrokerLink(const PublishSettings& settings, std::string statusTopic);
  /// stop() with a short grace period.
  ~BrokerLink();
  BrokerLink(const BrokerLink&) = delete;
  BrokerLink& operator=(const BrokerLink&) = delete;

  /// Takes a message for QoS 1 delivery. Any thread; never blocks on the network.
  void publish(std::string topic, std::string payload, bool retained);

  /// Ends the link: while connected, delivers what is buffered and "offline" within `grace`,
  /// then disconnects cleanly (no last will). Idempotent.
  void stop(std::chrono::milliseconds grace = std::chrono::milliseconds(2000));

  Counters counters() const;

 private:
  using Clock = std::chrono::steady_clock;

  void run() noexcept;
  void loop();
  void attempt();
  void service(short revents);
  void pump();
  void connectionEnded(int rc, int err);
  void giveUp(const std::string& why);
  void scheduleRetry(const std::string& why);
  void wake();
  void drainWake();
  void closing(Clock::time_point deadline);

  static void onConnect(mosquitto*, void* self, int rc);
  static void onDisconnect(mosquitto*, void* self, int rc);
  static void onPublish(mosquitto*, void* self, int mid);
  static void onLog(mosquitto*, void* self, int level, const char* text);

  PublishSettings settings_;
  std::string statusTopic_;
  std::string where_;
  mosquitto* mosq_ = nullptr;
  int wakeFd_ = -1;

  mutable std::mutex mutex_;
  MessageBuffer buffer_;
  Counters counters_;
  bool stopRequested_ = false;
  std::chrono::milliseconds grace_{0};

  // Link thread only.
  std::unordered_set<int> dataMids_;
  int offlineMid_ = -1;
  bool offlineAcked_ = false;
  bool everAttempted_ = false;
  bool outageReported_ = false;
  bool dropReported_ = false;
  std::uint64_t droppedAtOutage_ = 0;
  int refusedCode_ = 0;
  std::string lastLibraryError_;
  std::chrono::milliseconds retryDelay_{0};
  Clock::time_point retryAt_{};

  std::thread thread_;
};

/// The state as a word for log lines and test messages.
const char* stateName(BrokerLink::State s);

}  // namespace publish
