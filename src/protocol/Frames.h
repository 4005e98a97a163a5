#pragma once
// The wire format shared by the station and the detector units.
//
// Request (13 bytes, no checksum): EB 90 EB 90 <unit> 00 03 00 C1 00 00 90 EB.
//
// Reply for n cells (12 + 2n bytes):
//   0..4   not examined by the station (a unit sends EB 90 EB 90 00)
//   5      unit address 1..99
//   6      length byte L; n = (L - 5) div 2, truncating toward zero
//   7..8   not examined (a unit sends 00 C1)
//   9..10  total voltage, packed
//   9+2k, 10+2k   cell k (k = 1..n), packed
//   11+2n  checksum: sum mod 256 of the bytes at 9 .. 10+2n
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace protocol {

constexpr std::size_t kRequestSize = 13;
constexpr int kMaxUnit = 99;
constexpr int kMaxCells = 108;

constexpr std::size_t kUnitOffset = 5;
constexpr std::size_t kLengthOffset = 6;
constexpr std::size_t kTotalOffset = 9;
constexpr std::size_t cellOffset(int k) { return 9 + 2 * static_cast<std::size_t>(k); }
constexpr std::size_t checksumOffset(int n) { return 11 + 2 * static_cast<std::size_t>(n); }
constexpr std::size_t replySize(int n) { return 12 + 2 * static_cast<std::size_t>(n); }

/// Cell count carried by a length byte; below 4 it is negative (no valid frame).
constexpr int cellCountFromLength(std::uint8_t length) { return (static_cast<int>(length) - 5) / 2; }
/// The length byte a unit sends for n cells.
constexpr std::uint8_t lengthForCells(int n) { return static_cast<std::uint8_t>(2 * n + 5); }

/// The request frame addressed to a unit (its low 8 bits).
std::array<std::uint8_t, kRequestSize> requestFrame(int unit);

/// Sum mod 256 of offsets 9 .. 10+2n. The caller guarantees the block holds them.
std::uint8_t replyChecksum(std::span<const std::uint8_t> block, int n);

/// A complete, correct reply frame as a unit sends it; at most kMaxCells cells are used.
std::vector<std::uint8_t> buildReply(std::uint8_t unit, double total, std::span<const double> cells);

/// Recognises a request frame at the start of a byte span and returns its unit address,
/// or -1 when the span does not start with one.
int requestUnit(std::span<const std::uint8_t> bytes);

}  // namespace protocol
