#include "toolkit/ArrowSpinBox.h"

#include <QLineEdit>

namespace toolkit {

ArrowSpinBox::ArrowSpinBox(QWidget* parent) : QSpinBox(parent) {
  // QAbstractSpinBox::setReadOnly would disable the arrows as well; only the text is locked.
  lineEdit()->setReadOnly(true);
  setKeyboardTracking(false);
}

}  // namespace toolkit
