#pragma once
// The station's connection to an MQTT broker, on a thread of its own over libmosquitto.
//
// publish() never waits for the network: it puts the message into a bounded buffer and wakes
// the link thread, which hands buffered messages to the broker (QoS 1) while it is connected.
// While the broker is away the buffer keeps the latest messages; when it is full the oldest
// is dropped and counted. publishState() is for retained state (discovery configs): one
// message per topic, the latest, kept outside the bounded buffer and sent first.
//
// Every failure that can heal is retried with a delay that doubles from reconnect_min up to
// reconnect_max (see LinkPolicy.h): refused or reset connections, TLS handshakes cut short,
// attempts without an answer within connect_timeout. A refused login is retried on a slower
// schedule, up to 15 minutes apart, with a log line an hour while it lasts. Only a broker
// certificate that fails verification, or a broker that lets nobody in without a username,
// ends the attempts until the station restarts. The delay starts from the beginning again
// only after a connection has stayed up for a while, so a broker that drops the station right
// after accepting it (another station with the same client id) is not hammered, and the log
// says so once.
//
// The name lookup and the start of each connection run on a short-lived helper thread, so a
// hanging DNS server never holds up stop() for more than two seconds.
//
// The station's status topic carries "online" (retained) from every connection and
// "offline" (retained) as the broker's last will and on an orderly stop.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "publish/ConnectStart.h"
#include "publish/core/LinkPolicy.h"
#include "publish/core/LinkStatus.h"
#include "publish/core/MessageBuffer.h"
#include "publish/core/PublishSettings.h"

struct mosquitto;
struct mosquitto_message;

namespace publish {

/// A duration in whole milliseconds (cut towards zero).
template <typename D>
long long millis(D d) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

class BrokerLink {
 public:
  enum class State {
    /// Before the first attempt, or between attempts while the delay runs.
    Waiting,
    /// A connection is being made: name lookup, TCP, TLS, and the broker's answer to CONNECT.
    Connecting,
    Connected,
    /// A failure that retries cannot mend: no more attempts.
    GivenUp,
    Stopped,
  };

  struct Counters {
    /// Messages taken by publish() and publishState().
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
    /// Turns of the link thread's loop: each is one wake-up.
    std::uint64_t loopTurns = 0;
    State state = State::Waiting;
    /// The last failure, while waiting or after giving up.
    std::optional<Failure> failure;
  };

  /// Messages the broker sends to the station on the topics subscribed at every connection.
  /// The handler runs on the link thread.
  struct Incoming {
    std::vector<std::string> topics;
    std::function<void(const std::string& topic, const std::string& payload)> handler;
    /// Runs on the link thread after every connection the broker accepted (a restarted
    /// broker may have lost what was retained).
    std::function<void()> connected;
  };

  /// At most this many messages are handed to the connection unacknowledged; the rest wait in
  /// the buffer, so a connection that died silently holds no more than this.
  static constexpr std::size_t kMaxInFlight = 64;

  /// `statusTopic` gets "online"/"offline". Starts the link thread, which connects at once.
  /// Throws std::runtime_error when the client cannot be set up (no memory, no CA file).
  BrokerLink(const PublishSettings& settings, std::string statusTopic, Incoming incoming = {});
  /// stop() with a short grace period.
  ~BrokerLink();
  BrokerLink(const BrokerLink&) = delete;
  BrokerLink& operator=(const BrokerLink&) = delete;

  /// Takes a message for QoS 1 delivery. Any thread; never blocks on the network.
  void publish(std::string topic, std::string payload, bool retained);
  /// Takes a retained message that replaces any not yet sent on the same topic; these wait
  /// outside the bounded buffer and go out before it. Any thread.
  void publishState(std::string topic, std::string payload);

  /// Ends the link: while connected, delivers what is waiting and "offline" within `grace`,
  /// then disconnects cleanly (no last will). A connection still being started (a name
  /// lookup) is left behind after two seconds. Idempotent.
  void stop(std::chrono::milliseconds grace = std::chrono::milliseconds(2000));

  Counters counters() const;
  /// The state for the operator; any thread.
  LinkStatus status() const;

 private:
  using Clock = std::chrono::steady_clock;
  // What libmosquitto's callbacks reach through their user data. It outlives the link when a
  // connection start is left behind on its helper thread (which may still log through it).
  struct Hub {
    BrokerLink* link = nullptr;
    std::mutex mutex;
    /// The library's error lines of the current attempt (OpenSSL's reasons among them).
    std::string libraryErrors;
  };

  void run() noexcept;
  void loop();
  void attempt();
  void attemptStarted(int rc, int err);
  void service(short revents);
  void pump();
  bool takeNext(Message& m, bool& state);
  void connectionEnded(int rc, int err);
  void failed(Failure f, const std::string& detail);
  void wake();
  void drainWake();
  bool waitForJob(Clock::time_point until);
  void closing(Clock::time_point deadline);
  Failure classify(int rc, int err, std::string& detail) const;

  static void onConnect(mosquitto*, void* hub, int rc);
  static void onDisconnect(mosquitto*, void* hub, int rc);
  static void onPublish(mosquitto*, void* hub, int mid);
  static void onMessage(mosquitto*, void* hub, const mosquitto_message* m);
  static void onLog(mosquitto*, void* hub, int level, const char* text);

  PublishSettings settings_;
  std::string statusTopic_;
  std::string where_;
  Incoming incoming_;
  std::shared_ptr<Hub> hub_;
  mosquitto* mosq_ = nullptr;
  int wakeFd_ = -1;

  mutable std::mutex mutex_;
  MessageBuffer buffer_;
  std::map<std::string, std::string> states_;
  Counters counters_;
  bool stopRequested_ = false;
  /// The broker keeps dropping the station right after accepting it (another station with
  /// the same client id, most likely): the operator's status says so until a connection lasts.
  bool flapShown_ = false;
  std::chrono::milliseconds grace_{0};
  Clock::time_point retryAt_{};

  // Link thread only.
  std::shared_ptr<ConnectStart> job_;
  std::unordered_set<int> dataMids_;
  int offlineMid_ = -1;
  bool offlineAcked_ = false;
  bool everAttempted_ = false;
  bool outageReported_ = false;
  bool announceConnect_ = true;
  bool dropReported_ = false;
  std::uint64_t droppedAtOutage_ = 0;
  int refusedCode_ = 0;
  /// errno after a connection start the library reported as begun.
  int startErrno_ = 0;
  int failures_ = 0;
  Clock::time_point connectDeadline_{};
  std::optional<Failure> reportedSlow_;
  Clock::time_point slowReportedAt_{};
  FlapDetector flaps_;
  bool flapping_ = false;

  std::thread thread_;
};

/// The state as a word for log lines and test messages.
const char* stateName(BrokerLink::State s);

}  // namespace publish
