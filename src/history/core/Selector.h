#pragma once
// What the history view draws: the total or one cell, as named by a selector text.
//
// Only "总电压" and the cell numbers "1" to "108" (decimal, no sign, no leading zeros, no
// blanks) name a curve. The selector box is editable and reports every keystroke, so texts on
// the way to a cell number ("", "1" on the way to "12", "abc") arrive here too; they name
// nothing, and no statement is ever built from them: the curve statement is written from the
// parsed number.
#include <QString>
#include <optional>

namespace history {

/// The selector text of the total voltage.
QString totalText();

struct Selector {
  /// 0 for the total, 1..108 for a cell.
  int cell = 0;

  bool isTotal() const { return cell == 0; }
  /// "V" for the total, "V" followed by the cell number otherwise.
  QString valueColumn() const;
  /// The vertical axis maximum: the clamping limit of the values drawn (300 V or 16 V).
  double axisMaximum() const;
  /// The statement that reads this curve of `unit` (1..99): value column and measureTime.
  QString curveStatement(int unit) const;
};

/// The selector a text names; none for any other text.
std::optional<Selector> parseSelector(const QString& text);

}  // namespace history
