#include "toolkit/HandlerGuard.h"

#include <exception>

namespace toolkit {

void HandlerGuard::run(const std::function<void()>& handler) noexcept {
  try {
    handler();
  } catch (const std::exception& e) {
    report(QString::fromUtf8(e.what()));
  } catch (...) {
    report(QStringLiteral("Unknown error"));
  }
}

void HandlerGuard::report(const QString& text) noexcept {
  try {
    if (!pending_.contains(text)) pending_.append(text);
    if (showing_) return;  // the box already open shows it when it closes
    showing_ = true;
    while (!pending_.isEmpty()) {
      // The text stays queued while its box is open, so a repeat of it is not queued again.
      const QString next = pending_.first();
      try {
        boxes_.error(parent_.data(), next);
      } catch (...) {
        // A box that cannot be shown must not stop the program; the error is dropped.
      }
      pending_.removeFirst();
    }
    showing_ = false;
  } catch (...) {
    showing_ = false;
  }
}

}  // namespace toolkit
