#include "toolkit/Fonts.h"

#include "toolkit/AutoSizeLabel.h"

namespace toolkit {

QFont songFont(int pixelSize, bool bold) {
  QFont f;
  f.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("Noto Serif CJK SC"),
                 QStringLiteral("Noto Sans CJK SC")});
  f.setPixelSize(pixelSize);
  f.setBold(bold);
  return f;
}

QFont formFont() {
  QFont f;
  f.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Noto Sans CJK SC")});
  f.setPixelSize(11);
  return f;
}

bool isSongFace(const QString& family) {
  return family.contains(QStringLiteral("SimSun"), Qt::CaseInsensitive) || family == QStringLiteral("宋体");
}

AutoSizeLabel* fixedLabel(QWidget* parent, int x, int y, const QString& text, const QFont& font) {
  auto* l = new AutoSizeLabel(text, parent);
  l->setFont(font);
  l->move(x, y);
  l->adjustSize();
  return l;
}

}  // namespace toolkit
