#pragma once
// The station on a simulated chain with line health, alarms and the event record attached as
// the program attaches them. Modal parts (menu, dialogs, file choosers) are answered by the test.
#include <QApplication>
#include <QContextMenuEvent>
#include <QDialog>
#include <QMenu>
#include <functional>

#include "app/HealthWiring.h"
#include "e2e/ChainStation.h"
#include "health/HealthMonitor.h"
#include "health/LineRecovery.h"

class HealthStation : public ChainStation {
 protected:
  void openStation(const QString& interval, int units, const QStringList& simulator) {
    open(interval, units, simulator);
    attach();
  }

  void attach() {
    monitor = attachHealth(*form);
    monitor->runMenu = [this](QMenu& menu, const QPoint&) {
      menuTexts.clear();
      for (QAction* a : menu.actions())
        if (!a->isSeparator()) menuTexts << a->text();
      if (!menuChoice.isEmpty())
        for (QAction* a : menu.actions())
          if (a->text() == menuChoice) a->trigger();
    };
    monitor->runDialog = [this](QDialog& dialog) {
      ++dialogsRun;
      if (onDialog) onDialog(dialog);
    };
    monitor->askSavePath = [this](const QString&, const QString&) { return savePath; };
  }

  /// The station closed and started again in the same folder.
  void restartStation() {
    monitor.reset();
    form->close();
    form.reset();
    showWindow();
    attach();
  }

  void TearDown() override {
    if (form) form->close();
    monitor.reset();
    ChainStation::TearDown();
  }

  /// A right click on `w` at its centre, delivered as the platform delivers it.
  void rightClick(QWidget* w) {
    const QPoint at = w->rect().center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, w->mapToGlobal(at));
    QApplication::sendEvent(w, &event);
  }

  /// Picks a context menu entry on the window's top bar.
  void choose(const QString& entry) {
    menuChoice = entry;
    rightClick(form->Panel1);
    menuChoice.clear();
  }

  std::unique_ptr<health::HealthMonitor> monitor;
  QStringList menuTexts;
  QString menuChoice;
  int dialogsRun = 0;
  std::function<void(QDialog&)> onDialog;
  QString savePath;
};
