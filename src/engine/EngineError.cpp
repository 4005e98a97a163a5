#include "engine/EngineError.h"

namespace engine {

EDatabaseError::EDatabaseError(const QString& text) : std::runtime_error(text.toStdString()) {}

}  // namespace engine
