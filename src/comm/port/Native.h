#pragma once
// The platform's handle for a waitable object (a file descriptor on POSIX).
namespace comm::port {

#if defined(_WIN32)
using NativeHandle = void*;
#else
using NativeHandle = int;
#endif

}  // namespace comm::port
