#pragma once
// The named system colours the window uses.
#include <QColor>

class QWidget;

namespace toolkit {

QColor clRed();      ///< 255, 0, 0
QColor clLime();     ///< 0, 255, 0
QColor clMenuBar();  ///< the menu-bar colour: read-only and locked input boxes
QColor clWindow();   ///< the window (input box) colour of the current style
QColor clBtnFace();  ///< the button-face colour of the current style

/// Fills a panel, label or window with a colour.
void setPanelColor(QWidget* w, const QColor& c);
/// The background of an input box (edit, spin box).
void setInputColor(QWidget* w, const QColor& c);
/// The colour of a label's text.
void setTextColor(QWidget* w, const QColor& c);

}  // namespace toolkit
