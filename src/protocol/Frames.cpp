#include "protocol/Frames.h"

#include <algorithm>

#include "protocol/PackedVoltage.h"

namespace protocol {

std::array<std::uint8_t, kRequestSize> requestFrame(int unit) {
  return {0xEB, 0x90, 0xEB, 0x90, static_cast<std::uint8_t>(unit & 0xFF),
          0x00, 0x03, 0x00, 0xC1, 0x00, 0x00, 0x90, 0xEB};
}

std::uint8_t replyChecksum(std::span<const std::uint8_t> block, int n) {
  std::uint8_t sum = 0;
  for (std::size_t i = kTotalOffset; i <= 10 + 2 * static_cast<std::size_t>(n); ++i)
    sum = static_cast<std::uint8_t>(sum + block[i]);
  return sum;
}

std::vector<std::uint8_t> buildReply(std::uint8_t unit, double total, std::span<const double> cells) {
  const int n = static_cast<int>(std::min<std::size_t>(cells.size(), kMaxCells));
  std::vector<std::uint8_t> frame(replySize(n), 0);
  frame[0] = 0xEB;
  frame[1] = 0x90;
  frame[2] = 0xEB;
  frame[3] = 0x90;
  frame[kUnitOffset] = unit;
  frame[kLengthOffset] = lengthForCells(n);
  frame[8] = 0xC1;
  const auto t = encodePacked(total);
  frame[kTotalOffset] = t[0];
  frame[kTotalOffset + 1] = t[1];
  for (int k = 1; k <= n; ++k) {
    const auto c = encodePacked(cells[static_cast<std::size_t>(k - 1)]);
    frame[cellOffset(k)] = c[0];
    frame[cellOffset(k) + 1] = c[1];
  }
  frame[checksumOffset(n)] = replyChecksum(frame, n);
  return frame;
}

int requestUnit(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kRequestSize) return -1;
  const auto expected = requestFrame(0);
  for (std::size_t i = 0; i < kRequestSize; ++i)
    if (i != 4 && bytes[i] != expected[i]) return -1;
  return bytes[4];
}

}  // namespace protocol
