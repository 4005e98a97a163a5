#include "toolkit/Colors.h"

#include <QApplication>
#include <QPalette>
#include <QWidget>

namespace toolkit {

QColor clRed() { return QColor(255, 0, 0); }
QColor clLime() { return QColor(0, 255, 0); }
QColor clMenuBar() { return QColor(240, 240, 240); }
QColor clWindow() { return QApplication::palette().color(QPalette::Base); }
QColor clBtnFace() { return QApplication::palette().color(QPalette::Button); }

namespace {
void setRoleColor(QWidget* w, QPalette::ColorRole role, const QColor& c) {
  QPalette p = w->palette();
  p.setColor(role, c);
  w->setPalette(p);
}
}  // namespace

void setPanelColor(QWidget* w, const QColor& c) {
  setRoleColor(w, QPalette::Window, c);
  w->setAutoFillBackground(true);
}

void setInputColor(QWidget* w, const QColor& c) { setRoleColor(w, QPalette::Base, c); }

void setTextColor(QWidget* w, const QColor& c) { setRoleColor(w, QPalette::WindowText, c); }

}  // namespace toolkit
