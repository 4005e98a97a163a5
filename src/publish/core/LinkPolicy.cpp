#include "publish/core/LinkPolicy.h"

#include <algorithm>

namespace publish {

std::chrono::milliseconds retryDelay(int failures, std::chrono::milliseconds first, std::chrono::milliseconds longest) {
  if (longest < first) longest = first;
  std::chrono::milliseconds d = first;
  // Doubling stops at the cap, so no count of failures overflows.
  for (int i = 1; i < failures && d < longest; ++i) d *= 2;
  return std::min(d, longest);
}

bool isFinal(Failure f) { return f == Failure::Verification || f == Failure::NotAuthorised; }

bool isSlow(Failure f) { return f == Failure::LoginRefused; }

std::string failureText(Failure f, const std::string& detail) {
  std::string text;
  switch (f) {
    case Failure::Refused: text = "the connection was refused (is the broker running on that port?)"; break;
    case Failure::Reset: text = "the connection was closed or reset by the other side"; break;
    case Failure::Timeout: text = "no answer in time"; break;
    case Failure::Lookup: text = "the host name cannot be resolved"; break;
    case Failure::Unreachable: text = "the host cannot be reached"; break;
    case Failure::Handshake: text = "the TLS handshake was cut short"; break;
    case Failure::Verification:
      text = "the TLS handshake failed: the broker's certificate failed verification (check ca_file and that the "
             "certificate names this host)";
      break;
    case Failure::LoginRefused: text = "the broker refused the login (check username, password and client_id)"; break;
    case Failure::NotAuthorised: text = "the broker does not let this station in without a username"; break;
    case Failure::Unavailable: text = "the broker says it is unavailable"; break;
    case Failure::Other: text = "the connection failed"; break;
  }
  if (!detail.empty()) text += " (" + detail + ")";
  return text;
}

std::string failureWords(Failure f) {
  switch (f) {
    case Failure::Refused: return "连接被拒绝";
    case Failure::Reset: return "连接被对方断开";
    case Failure::Timeout: return "超时无应答";
    case Failure::Lookup: return "主机名无法解析";
    case Failure::Unreachable: return "主机不可达";
    case Failure::Handshake: return "TLS 握手中断";
    case Failure::Verification: return "服务器证书验证失败";
    case Failure::LoginRefused: return "用户名或密码被拒绝";
    case Failure::NotAuthorised: return "未获授权";
    case Failure::Unavailable: return "服务器暂不可用";
    case Failure::Other: return "连接失败";
  }
  return "连接失败";
}

void FlapDetector::connected(Clock::time_point t) {
  up_ = true;
  settled_ = false;
  since_ = t;
}

bool FlapDetector::lost(Clock::time_point t) {
  if (!up_) return false;
  up_ = false;
  if (t - since_ >= shortUp_) {
    flaps_ = 0;
    return false;
  }
  if (++flaps_ < repeats_ || reported_) return false;
  reported_ = true;
  return true;
}

bool FlapDetector::settle(Clock::time_point now) {
  if (!up_ || settled_ || now - since_ < stableAfter_) return false;
  settled_ = true;
  flaps_ = 0;
  reported_ = false;
  return true;
}

}  // namespace publish
