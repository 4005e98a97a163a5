#pragma once
// The one place where an error that ends an event handler is caught: its text goes to the
// modal error box and the program carries on. No exception crosses Qt's event dispatch.
//
// While an error box is open (its nested event loop keeps timers and serial events running),
// further errors wait in a queue and are shown one after another once it closes; an error whose
// text is already waiting is not queued twice, so a fault that repeats every tick cannot pile
// up boxes.
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <utility>

#include "toolkit/MessageBoxes.h"

namespace toolkit {

class HandlerGuard {
 public:
  HandlerGuard(MessageBoxes& boxes, QWidget* parent) : boxes_(boxes), parent_(parent) {}

  /// Runs a handler; any exception it lets out is shown in the error box.
  void run(const std::function<void()>& handler) noexcept;

  /// Shows an error text as if a handler had raised it.
  void report(const QString& text) noexcept;

  /// A callable for Qt's connect that runs the handler under this guard; the signal's
  /// arguments are not passed on (the handlers read the controls themselves).
  template <typename F>
  auto wrap(F handler) {
    return [this, handler = std::move(handler)] { run(handler); };
  }

  MessageBoxes& boxes() { return boxes_; }

 private:
  MessageBoxes& boxes_;
  QPointer<QWidget> parent_;
  QStringList pending_;
  bool showing_ = false;
};

}  // namespace toolkit
