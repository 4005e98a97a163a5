#include "toolkit/MessageBoxes.h"

#include <QApplication>
#include <QMessageBox>

namespace toolkit {

void QtMessageBoxes::information(QWidget* parent, const QString& title, const QString& text) {
  QMessageBox::information(parent, title, text, QMessageBox::Ok);
}

void QtMessageBoxes::plain(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok, parent);
  box.exec();
}

void QtMessageBoxes::error(QWidget* parent, const QString& text) {
  QMessageBox::critical(parent, QApplication::applicationName(), text, QMessageBox::Ok);
}

MessageBoxes::Answer QtMessageBoxes::confirm(QWidget* parent, const QString& text) {
  const auto b = QMessageBox::question(parent, QStringLiteral("Confirm"), text,
                                       QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
  return b == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

void RecordingMessageBoxes::information(QWidget*, const QString& title, const QString& text) {
  boxes.push_back({Kind::Information, title, text});
}

void RecordingMessageBoxes::plain(QWidget*, const QString& text) {
  boxes.push_back({Kind::Plain, QString(), text});
}

void RecordingMessageBoxes::error(QWidget*, const QString& text) {
  boxes.push_back({Kind::Error, QString(), text});
}

MessageBoxes::Answer RecordingMessageBoxes::confirm(QWidget*, const QString& text) {
  boxes.push_back({Kind::Confirmation, QString(), text});
  return confirmAnswer;
}

QStringList RecordingMessageBoxes::texts(Kind kind) const {
  QStringList out;
  for (const auto& b : boxes)
    if (b.kind == kind) out << b.text;
  return out;
}

}  // namespace toolkit
