#pragma once
// The error OpenPort raises; its text is the message the operator sees.
#include <stdexcept>
#include <string>

namespace comm {

class ECommsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

namespace msg {
inline const std::string kAlreadyOpen = "此串口已经打开";
inline const std::string kCannotOpen = "打开串口出错\r\n此串口不存在或被占用";
inline const std::string kBufferSetup = "初始化缓冲区出错";
inline const std::string kNoEvent = "无法创建事件";
inline const std::string kNoReadThread = "无法创建读线程";
inline const std::string kNoWriteThread = "无法创建写线程";
}  // namespace msg

}  // namespace comm
