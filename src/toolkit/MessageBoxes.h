#pragma once
// The window's modal boxes behind one interface, so tests can answer them.
#include <QString>
#include <QWidget>
#include <vector>

namespace toolkit {

class MessageBoxes {
 public:
  enum class Kind { Information, Plain, Error, Confirmation };
  enum class Answer { Ok, Yes, No };

  virtual ~MessageBoxes() = default;
  /// Information icon, one OK button.
  virtual void information(QWidget* parent, const QString& title, const QString& text) = 0;
  /// No icon, one OK button, the application's name as title.
  virtual void plain(QWidget* parent, const QString& text) = 0;
  /// Error icon, one OK button: the text of an error that ended a handler.
  virtual void error(QWidget* parent, const QString& text) = 0;
  /// Question icon, Yes and No. Returns Yes only when the operator chose Yes.
  virtual Answer confirm(QWidget* parent, const QString& text) = 0;
};

/// The real boxes, on QMessageBox.
class QtMessageBoxes : public MessageBoxes {
 public:
  void information(QWidget* parent, const QString& title, const QString& text) override;
  void plain(QWidget* parent, const QString& text) override;
  void error(QWidget* parent, const QString& text) override;
  Answer confirm(QWidget* parent, const QString& text) override;
};

/// Records every box instead of showing it; confirmations get the preset answer.
class RecordingMessageBoxes : public MessageBoxes {
 public:
  struct Box {
    Kind kind;
    QString title;
    QString text;
  };

  void information(QWidget*, const QString& title, const QString& text) override;
  void plain(QWidget*, const QString& text) override;
  void error(QWidget*, const QString& text) override;
  Answer confirm(QWidget*, const QString& text) override;

  std::vector<Box> boxes;
  Answer confirmAnswer = Answer::No;

  /// Texts of the boxes of one kind, in the order shown.
  QStringList texts(Kind kind) const;
  void clear() { boxes.clear(); }
};

}  // namespace toolkit
