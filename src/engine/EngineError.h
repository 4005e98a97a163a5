#pragma once
// The one error the database engine raises. Its text (what(), text()) is what the error box
// shows: for the common failures a reason in Chinese before the engine's own message (see
// FailureText.h), otherwise the engine's message unchanged.
#include <QString>
#include <stdexcept>

class QSqlError;

namespace engine {

class EDatabaseError : public std::runtime_error {
 public:
  explicit EDatabaseError(const QString& engineText);

  /// The operator's text.
  QString text() const { return QString::fromUtf8(what()); }
  /// The engine's own message, without the reason.
  const QString& engineText() const { return engineText_; }

 private:
  QString engineText_;
};

/// The text of a Qt SQL error as the engine reports it: the database's own message, or Qt's
/// where the database gave none.
QString errorText(const QSqlError& e);

}  // namespace engine
