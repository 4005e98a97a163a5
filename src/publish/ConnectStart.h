#pragma once
// The start of one broker connection (name lookup, non-blocking TCP connect, TLS set-up) on a
// short-lived helper thread, so that a DNS server that does not answer never holds up the
// link thread that stop() joins. The start can be left behind: whoever finishes last cleans
// up, and a start left behind destroys the client itself when its lookup finally ends.
#include <memory>
#include <mutex>
#include <string>

struct mosquitto;

namespace publish {

class ConnectStart {
 public:
  /// Calls mosquitto_connect_async (first) or mosquitto_reconnect_async on `mosq` on a helper
  /// thread, and writes to the eventfd `wakeFd` (duplicated here) when done. `keep` is held
  /// until then: what the client's callbacks reach through their user data.
  static std::shared_ptr<ConnectStart> begin(mosquitto* mosq, bool first, const std::string& host, int port, int keepAlive,
                                             int wakeFd, std::shared_ptr<void> keep);
  ~ConnectStart();
  ConnectStart(const ConnectStart&) = delete;
  ConnectStart& operator=(const ConnectStart&) = delete;

  bool done() const;
  /// The library's answer and errno after it; valid once done().
  int rc() const;
  int err() const;
  /// Leaves the start behind: the helper destroys the client when it ends. Returns false when
  /// it has ended already, and the caller keeps the client.
  bool abandon();

 private:
  ConnectStart() = default;

  mutable std::mutex mutex_;
  bool done_ = false;
  bool abandoned_ = false;
  int rc_ = 0;
  int err_ = 0;
  int wakeFd_ = -1;
  mosquitto* mosq_ = nullptr;
  std::shared_ptr<void> keep_;
};

}  // namespace publish
