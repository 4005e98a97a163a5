#include "publish/FailureClass.h"

#include <mosquitto.h>

#include <cerrno>
#include <cstring>

namespace publish {

std::string describeLibraryError(int rc, int err) {
  std::string text = rc == MOSQ_ERR_ERRNO ? std::strerror(err) : mosquitto_strerror(rc);
  while (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

Failure classifyFailure(const FailureFacts& f, std::string& detail) {
  detail.clear();
  switch (f.connack) {
    case 0: break;
    case 3: detail = mosquitto_connack_string(f.connack); return Failure::Unavailable;
    // mosquitto answers a wrong password with "not authorised" as well: with a username that
    // is a refused login, which a rotated password or an authentication service back up heals.
    case 5:
      detail = mosquitto_connack_string(f.connack);
      return f.hasUsername ? Failure::LoginRefused : Failure::NotAuthorised;
    default: detail = mosquitto_connack_string(f.connack); return Failure::LoginRefused;
  }
  if (f.libraryErrors.find("certificate verify failed") != std::string::npos) {
    detail = f.libraryErrors;
    return Failure::Verification;
  }
  if (f.rc == MOSQ_ERR_TLS) {
    detail = f.libraryErrors;
    return Failure::Handshake;
  }
  if (f.rc == MOSQ_ERR_EAI) {
    detail = describeLibraryError(f.rc, f.err);
    return Failure::Lookup;
  }
  if (f.rc == MOSQ_ERR_KEEPALIVE) return Failure::Timeout;
  // A TLS connection closed before the broker answered CONNECT was cut in its handshake (a
  // restarting broker, a proxy without a backend, a listener that speaks no TLS).
  const Failure closed = f.tls && f.connecting ? Failure::Handshake : Failure::Reset;
  if (f.rc == MOSQ_ERR_CONN_LOST || f.rc == MOSQ_ERR_NO_CONN) {
    detail = f.libraryErrors;
    return closed;
  }
  if (f.rc == MOSQ_ERR_ERRNO) {
    switch (f.err) {
      case ECONNREFUSED: return Failure::Refused;
      case ECONNRESET:
      case ECONNABORTED:
      case EPIPE: detail = f.libraryErrors; return closed;
      case ETIMEDOUT: return Failure::Timeout;
      case EHOSTUNREACH:
      case ENETUNREACH:
      case ENETDOWN: detail = std::strerror(f.err); return Failure::Unreachable;
      default: break;
    }
  }
  detail = describeLibraryError(f.rc, f.err);
  return Failure::Other;
}

}  // namespace publish
