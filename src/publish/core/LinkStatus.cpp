#include "publish/core/LinkStatus.h"

namespace publish {

std::vector<std::string> statusLines(const LinkStatus& s) {
  std::string state;
  std::string why = s.failure ? failureWords(*s.failure) : std::string();
  // The log's hint, where the operator looks.
  if (!s.sharedClientId.empty() && s.phase == LinkStatus::Phase::Retrying)
    why += (why.empty() ? "" : "；") + std::string("client_id ") + s.sharedClientId + " 可能正被另一站使用";
  switch (s.phase) {
    case LinkStatus::Phase::Connecting: state = "正在连接"; break;
    case LinkStatus::Phase::Connected: state = "已连接"; break;
    case LinkStatus::Phase::Retrying:
      state = std::to_string(s.retryInSeconds) + " 秒后重试" + (why.empty() ? std::string() : "（" + why + "）");
      break;
    case LinkStatus::Phase::GivenUp:
      state = "已停止（" + (why.empty() ? std::string("连接失败") : why) + "，请检查 publish.ini 后重新启动）";
      break;
    case LinkStatus::Phase::Stopped: state = "已停止"; break;
  }
  return {"MQTT 服务器 " + s.where + "：" + state,
          "MQTT 消息：待发送 " + std::to_string(s.buffered) + " 条，已发送 " + std::to_string(s.sent) + " 条，已丢弃 " +
              std::to_string(s.dropped) + " 条"};
}

}  // namespace publish
