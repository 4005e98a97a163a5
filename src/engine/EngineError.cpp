#include "engine/EngineError.h"

#include <QSqlError>

#include "engine/FailureText.h"

namespace engine {

EDatabaseError::EDatabaseError(const QString& engineText)
    : std::runtime_error(failureText(engineText).toStdString()), engineText_(engineText) {}

QString errorText(const QSqlError& e) {
  const QString db = e.databaseText();
  return db.isEmpty() ? e.text() : db;
}

}  // namespace engine
