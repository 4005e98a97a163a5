#pragma once
// The line settings as one platform-neutral record, laid out like the Win32 DCB the component
// was first written against, and the five read/write time limits. The port layer applies
// them to the device as far as the device allows.
#include <cstdint>

namespace comm {

/// DTR line: raised while open, lowered, or input handshake (ordinal order).
enum class TDtrControl : std::uint8_t { DtrEnable, DtrDisable, DtrHandshake };
/// RTS line: raised while open, lowered, handshake, or raised only while sending.
enum class TRtsControl : std::uint8_t { RtsEnable, RtsDisable, RtsHandshake, RtsTransmissionAvailable };
/// Data bits per character, 5 to 8.
enum class TByteSize : std::uint8_t { _5, _6, _7, _8 };
enum class TParity : std::uint8_t { None, Odd, Even, Mark, Space };
enum class TStopBits : std::uint8_t { _1, _1_5, _2 };

/// Bits of LineSettings::Flags (the DCB's flag word).
namespace dcb {
inline constexpr std::uint32_t fBinary = 0x0001;
inline constexpr std::uint32_t fParity = 0x0002;
inline constexpr std::uint32_t fOutxCtsFlow = 0x0004;
inline constexpr std::uint32_t fOutxDsrFlow = 0x0008;
inline constexpr std::uint32_t fDtrControlMask = 0x0030;
inline constexpr std::uint32_t fDtrControlEnable = 0x0010;
inline constexpr std::uint32_t fDtrControlHandshake = 0x0020;
inline constexpr std::uint32_t fDsrSensitivity = 0x0040;
inline constexpr std::uint32_t fTXContinueOnXoff = 0x0080;
inline constexpr std::uint32_t fOutX = 0x0100;
inline constexpr std::uint32_t fInX = 0x0200;
inline constexpr std::uint32_t fErrorChar = 0x0400;
inline constexpr std::uint32_t fNull = 0x0800;
inline constexpr std::uint32_t fRtsControlMask = 0x3000;
inline constexpr std::uint32_t fRtsControlEnable = 0x1000;
inline constexpr std::uint32_t fRtsControlHandshake = 0x2000;
inline constexpr std::uint32_t fRtsControlToggle = 0x3000;

inline constexpr std::uint8_t NoParity = 0, OddParity = 1, EvenParity = 2, MarkParity = 3, SpaceParity = 4;
inline constexpr std::uint8_t OneStopBit = 0, One5StopBits = 1, TwoStopBits = 2;
}  // namespace dcb

struct LineSettings {
  std::uint32_t BaudRate = 9600;
  std::uint32_t Flags = dcb::fBinary;
  std::uint16_t XonLim = 0;
  std::uint16_t XoffLim = 0;
  std::uint8_t ByteSize = 8;  ///< 5 to 8
  std::uint8_t Parity = dcb::NoParity;
  std::uint8_t StopBits = dcb::OneStopBit;
  std::uint8_t XonChar = 0x11;
  std::uint8_t XoffChar = 0x13;
  std::uint8_t ErrorChar = 0;
  std::uint8_t EofChar = 0;
  std::uint8_t EvtChar = 0;

  bool operator==(const LineSettings&) const = default;
};

/// The five time limits in ms, with the published COMMTIMEOUTS meaning.
struct CommTimeouts {
  std::uint32_t ReadIntervalTimeout = 0;
  std::uint32_t ReadTotalTimeoutMultiplier = 0;
  std::uint32_t ReadTotalTimeoutConstant = 0;
  std::uint32_t WriteTotalTimeoutMultiplier = 0;
  std::uint32_t WriteTotalTimeoutConstant = 0;

  bool operator==(const CommTimeouts&) const = default;
};

/// ReadIntervalTimeout (and multiplier) value with the special "no wait" meaning.
inline constexpr std::uint32_t kMaxDword = 0xFFFFFFFFu;

}  // namespace comm
