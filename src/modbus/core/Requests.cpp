#include "modbus/core/Requests.h"

#include "modbus/core/RegisterMap.h"

namespace modbus {

namespace {

std::uint16_t word(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]);
}

void putWord(std::string& out, std::uint16_t v) {
  out.push_back(static_cast<char>(v >> 8));
  out.push_back(static_cast<char>(v & 0xFF));
}

// The MBAP header of an answer whose PDU takes pduBytes: the request's transaction and unit.
void header(std::string& out, std::span<const std::uint8_t> req, std::size_t pduBytes) {
  out.push_back(static_cast<char>(req[0]));
  out.push_back(static_cast<char>(req[1]));
  putWord(out, 0);
  putWord(out, static_cast<std::uint16_t>(pduBytes + 1));
  out.push_back(static_cast<char>(req[6]));
}

Handled exception(std::span<const std::uint8_t> req, std::size_t frame, std::uint8_t function, std::uint8_t code,
                  bool malformed, std::string& out) {
  header(out, req, 2);
  out.push_back(static_cast<char>((function & 0x7F) | 0x80));
  out.push_back(static_cast<char>(code));
  return {Step::Answered, frame, malformed, code};
}

}  // namespace

Handled handleRequest(std::span<const std::uint8_t> in, const acquisition::StationSnapshot& s, std::int64_t nowMs,
                      std::string& out) {
  if (in.size() < kHeaderBytes) return {};
  const std::uint16_t protocol = word(in, 2);
  const std::uint16_t length = word(in, 4);
  if (protocol != 0 || length < 2 || length > kMaxFrameBytes - 6) return {Step::Broken, 0, true, 0};
  const std::size_t frame = 6u + length;
  if (in.size() < frame) return {};

  const std::span<const std::uint8_t> req = in.first(frame);
  const std::span<const std::uint8_t> pdu = req.subspan(kHeaderBytes);
  const std::uint8_t function = pdu[0];
  if (function != 3 && function != 4) return exception(req, frame, function, kIllegalFunction, false, out);
  if (pdu.size() != 5) return exception(req, frame, function, kIllegalValue, true, out);

  const int unitId = req[6];
  const bool station = unitId == kStationUnitId || unitId == kStationUnitIdAlt;
  if (!station && (unitId > s.unitCount || unitId > acquisition::kUnits))
    return exception(req, frame, function, kTargetFailed, false, out);
  const int address = word(pdu, 1);
  const int count = word(pdu, 3);
  if (count < 1 || count > kMaxReadRegisters) return exception(req, frame, function, kIllegalValue, false, out);
  const int size = station ? kStationRegisters : kUnitRegisters;
  if (address + count > size) return exception(req, frame, function, kIllegalAddress, false, out);

  header(out, req, 2u + 2u * static_cast<std::size_t>(count));
  out.push_back(static_cast<char>(function));
  out.push_back(static_cast<char>(2 * count));
  if (station) {
    const auto r = stationRegisters(s);
    for (int i = address; i < address + count; ++i) putWord(out, r[static_cast<std::size_t>(i)]);
  } else {
    const auto r = unitRegisters(s, unitId, nowMs);
    for (int i = address; i < address + count; ++i) putWord(out, r[static_cast<std::size_t>(i)]);
  }
  return {Step::Answered, frame, false, 0};
}

}  // namespace modbus
