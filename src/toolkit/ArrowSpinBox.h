#pragma once
// A spin box whose value changes only through its arrows (and the arrow keys): typing is off.
#include <QSpinBox>

namespace toolkit {

class ArrowSpinBox : public QSpinBox {
  Q_OBJECT
 public:
  explicit ArrowSpinBox(QWidget* parent = nullptr);
};

}  // namespace toolkit
