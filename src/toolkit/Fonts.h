#pragma once
// The window's fonts and its plain labels. "宋体" is a serif (Song) face; where it is missing a
// Simplified-Chinese face of the same kind stands in at the same size.
#include <QFont>
#include <QString>

class QWidget;

namespace toolkit {

class AutoSizeLabel;

/// 宋体 at this pixel size, or its stand-in.
QFont songFont(int pixelSize, bool bold);
/// The window's own font: MS Sans Serif 8 pt, or its stand-in.
QFont formFont();
/// Whether a resolved family is 宋体 itself (by either of its names).
bool isSongFace(const QString& family);
/// A label at (x, y) sized to its text.
AutoSizeLabel* fixedLabel(QWidget* parent, int x, int y, const QString& text, const QFont& font);

}  // namespace toolkit
