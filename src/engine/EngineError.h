#pragma once
// The one error the database engine raises. Its text is the engine's own message and goes to
// the error box unchanged.
#include <QString>
#include <stdexcept>

namespace engine {

class EDatabaseError : public std::runtime_error {
 public:
  explicit EDatabaseError(const QString& text);
  using std::runtime_error::runtime_error;

  QString text() const { return QString::fromUtf8(what()); }
};

}  // namespace engine
