#include "toolkit/Colors.h"

#include <QApplication>
#include <QPalette>

namespace toolkit {

QColor clRed() { return QColor(255, 0, 0); }
QColor clLime() { return QColor(0, 255, 0); }
QColor clMenuBar() { return QColor(240, 240, 240); }
QColor clWindow() { return QApplication::palette().color(QPalette::Base); }
QColor clBtnFace() { return QApplication::palette().color(QPalette::Button); }

}  // namespace toolkit
