#include "engine/TADOCommand.h"

namespace engine {

void TADOCommand::Execute() { connection_.Execute(text_); }

}  // namespace engine
