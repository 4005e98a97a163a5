#include "comm/StatusTracker.h"

namespace comm {

StatusReport StatusTracker::update(const port::StatusSample& s) {
  StatusReport r;
  if (!primed_) {
    primed_ = true;
    last_ = s;
    return r;
  }
  bool carrier = false;
  bool ring = false;
  if (s.haveCounters && last_.haveCounters) {
    const port::LineCounters& now = s.counters;
    const port::LineCounters& was = last_.counters;
    if (now.bufferOverrun != was.bufferOverrun) r.errorBits |= CE_RXOVER;
    if (now.overrun != was.overrun) r.errorBits |= CE_OVERRUN;
    if (now.parity != was.parity) r.errorBits |= CE_RXPARITY;
    if (now.frame != was.frame) r.errorBits |= CE_FRAME;
    if (now.breaks != was.breaks) r.errorBits |= CE_BREAK;
    carrier = now.carrierDetect != was.carrierDetect;
    ring = now.ring != was.ring;
  } else if (s.haveModemLines && last_.haveModemLines) {
    carrier = s.carrierDetect != last_.carrierDetect;
    ring = s.ring && !last_.ring;
  }
  r.lineError = r.errorBits != 0;
  r.modemCode = (carrier ? kModemCarrierDetect : 0) | (ring ? kModemRing : 0);
  last_ = s;
  return r;
}

}  // namespace comm
