#pragma once
// The named system colours the window uses.
#include <QColor>

namespace toolkit {

QColor clRed();      ///< 255, 0, 0
QColor clLime();     ///< 0, 255, 0
QColor clMenuBar();  ///< the menu-bar colour: read-only and locked input boxes
QColor clWindow();   ///< the window (input box) colour of the current style
QColor clBtnFace();  ///< the button-face colour of the current style

}  // namespace toolkit
