#pragma once
// Which kind of failure ended a broker connection, from what libmosquitto and the socket said.
#include <string>

#include "publish/core/LinkPolicy.h"

namespace publish {

struct FailureFacts {
  /// The library's return code and errno after it.
  int rc = 0;
  int err = 0;
  /// The broker's CONNACK refusal code; 0 when it sent none.
  int connack = 0;
  /// The library's error lines of the attempt (OpenSSL's reasons among them).
  std::string libraryErrors;
  bool tls = false;
  /// Whether the connection ended before the broker accepted it.
  bool connecting = false;
  bool hasUsername = false;
};

/// The kind of failure; `detail` gets the library's words where they add something.
Failure classifyFailure(const FailureFacts& facts, std::string& detail);

/// The library's text for a return code (errno's for MOSQ_ERR_ERRNO), without its final period.
std::string describeLibraryError(int rc, int err);

}  // namespace publish
