#pragma once
// A statement that returns no rows, run on the shared connection.
#include <QString>

#include "engine/TADOConnection.h"

namespace engine {

class TADOCommand {
 public:
  explicit TADOCommand(TADOConnection& connection) : connection_(connection) {}

  void setCommandText(const QString& text) { text_ = text; }
  const QString& CommandText() const { return text_; }
  /// Runs the command text. Throws EDatabaseError.
  void Execute();

 private:
  TADOConnection& connection_;
  QString text_;
};

}  // namespace engine
