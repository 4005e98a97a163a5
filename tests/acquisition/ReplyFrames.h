#pragma once
// Reply frames for the acquisition tests, written byte by byte rather than by the encoder under
// test, so a fault in the frame builder cannot hide one in the decoder.
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace testframes {

using Bytes = std::vector<std::uint8_t>;

/// Unit 3, two cells: total 32 45 (245 V), cells 12 34 (2.34 V) and 12 05 (2.05 V), sum D4.
inline const Bytes kUnit3TwoCells = {0xEB, 0x90, 0xEB, 0x90, 0x00, 0x03, 0x09, 0x00,
                                     0xC1, 0x32, 0x45, 0x12, 0x34, 0x12, 0x05, 0xD4};

/// A frame with the given unit byte, length byte and packed bytes (total first, then cells),
/// followed by their sum modulo 256.
inline Bytes frame(std::uint8_t unit, std::uint8_t length, const Bytes& packed) {
  Bytes f = {0xEB, 0x90, 0xEB, 0x90, 0x00, unit, length, 0x00, 0xC1};
  std::uint8_t sum = 0;
  for (std::uint8_t b : packed) {
    f.push_back(b);
    sum = static_cast<std::uint8_t>(sum + b);
  }
  f.push_back(sum);
  return f;
}

/// A correct frame for n cells: the total and every cell given as packed byte pairs.
inline Bytes cellsFrame(std::uint8_t unit, std::uint8_t total0, std::uint8_t total1, int n,
                        std::uint8_t cell0, std::uint8_t cell1) {
  Bytes packed = {total0, total1};
  for (int k = 1; k <= n; ++k) {
    packed.push_back(cell0);
    packed.push_back(cell1);
  }
  return frame(unit, static_cast<std::uint8_t>(2 * n + 5), packed);
}

}  // namespace testframes

namespace testframes {

/// A correct frame whose cell k carries the digits of k at the given exponent, so that
/// cell k reads 10^exponent x k / 1000 volts and every cell is told apart from the others.
inline Bytes patternFrame(std::uint8_t unit, std::uint8_t total0, std::uint8_t total1, int n, int exponent) {
  Bytes packed = {total0, total1};
  for (int k = 1; k <= n; ++k) {
    packed.push_back(static_cast<std::uint8_t>(exponent << 4 | k / 100));
    packed.push_back(static_cast<std::uint8_t>((k / 10 % 10) << 4 | k % 10));
  }
  return frame(unit, static_cast<std::uint8_t>(2 * n + 5), packed);
}

}  // namespace testframes
