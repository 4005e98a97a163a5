#include "engine/EngineError.h"

#include "engine/FailureText.h"

namespace engine {

EDatabaseError::EDatabaseError(const QString& engineText)
    : std::runtime_error(failureText(engineText).toStdString()), engineText_(engineText) {}

}  // namespace engine
