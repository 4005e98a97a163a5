#include "health/core/LineCounts.h"

namespace health {

namespace {
bool isUnit(int u) { return u >= 1 && u <= acquisition::kUnits; }
}  // namespace

void LineCounts::requestSent(int unit, bool queued, std::vector<OfflineChange>& out) {
  if (isUnit(awaiting_) && !answered_ && ++missed_[awaiting_] == kOfflinePolls && !offline_[awaiting_]) {
    offline_[awaiting_] = true;
    out.push_back(OfflineChange{awaiting_, true});
  }
  awaiting_ = isUnit(unit) ? unit : 0;
  answered_ = false;
  if (queued && awaiting_) ++counts_[awaiting_].requests;
}

void LineCounts::unitSilent(int unit) {
  if (isUnit(unit)) ++counts_[unit].noReply;
}

void LineCounts::replyHandled(const acquisition::ReplyOutcome& outcome, int polled, std::int64_t nowMs,
                              std::vector<OfflineChange>& out) {
  UnitCounts& charged = chargeTo(polled);
  switch (outcome.kind) {
    case acquisition::ReplyOutcome::Kind::Malformed: ++charged.malformed; return;
    case acquisition::ReplyOutcome::Kind::BadChecksum: ++charged.badChecksum; return;
    case acquisition::ReplyOutcome::Kind::Stored: break;
  }
  const int u = outcome.unit;
  if (u == polled) ++charged.replies;
  else ++charged.foreign;
  // A stored frame always names a unit the tables hold.
  counts_[u].lastGoodMs = nowMs;
  missed_[u] = 0;
  if (u == awaiting_) answered_ = true;
  if (offline_[u]) {
    offline_[u] = false;
    out.push_back(OfflineChange{u, false});
  }
}

void LineCounts::pollingStopped() {
  awaiting_ = 0;
  answered_ = false;
}

void LineCounts::resetCounts() {
  for (int u = 1; u <= acquisition::kUnits; ++u) {
    const std::int64_t last = counts_[u].lastGoodMs;
    counts_[u] = UnitCounts{};
    counts_[u].lastGoodMs = last;
  }
  unasked_ = UnitCounts{};
}

}  // namespace health
