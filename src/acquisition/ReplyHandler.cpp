// Reply frames from the serial line into the measurement tables.
#include <span>

#include "acquisition/core/ReplyDecoder.h"
#include "app/Unit1.h"
#include "toolkit/ArrowSpinBox.h"

void TForm1::Comm1ReceiveData(comm::TComm*, const std::uint8_t* Buffer, std::uint16_t BufferLength) {
  // The block is read only within its own length: a short block from the line must not make us
  // read the component's memory beyond it.
  const std::span<const std::uint8_t> block =
      Buffer ? std::span<const std::uint8_t>(Buffer, BufferLength) : std::span<const std::uint8_t>();
  const acquisition::ReplyOutcome outcome = acquisition::applyReply(block, *this);
  // Replies of other units only update memory; the operator sees them on selecting the unit.
  if (outcome.stored() && outcome.unit == SpinEdit2->value()) ShowUnit(outcome.unit);
  emit replyHandled(outcome, CurrentUnit);
}
