#include "app/message_box.h"

#include <QAbstractButton>
#include <QMessageBox>

#include <utility>

namespace {

MessageBoxHandler& Handler() {
  static MessageBoxHandler handler;
  return handler;
}

QuestionBoxHandler& Question() {
  static QuestionBoxHandler handler;
  return handler;
}

}  // namespace

void ShowMessageBox(QWidget* owner, const QString& text,
                    const QString& caption) {
  if (Handler()) {
    Handler()(owner, text, caption);
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, owner);
  box.exec();
}

void SetMessageBoxHandler(MessageBoxHandler handler) {
  Handler() = std::move(handler);
}

bool AskYesNo(QWidget* owner, const QString& text, const QString& caption) {
  if (Question()) return Question()(owner, text, caption);
  QMessageBox box(QMessageBox::Question, caption, text,
                  QMessageBox::Yes | QMessageBox::No, owner);
  box.button(QMessageBox::Yes)->setText(QStringLiteral("はい(&Y)"));
  box.button(QMessageBox::No)->setText(QStringLiteral("いいえ(&N)"));
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

void SetQuestionBoxHandler(QuestionBoxHandler handler) {
  Question() = std::move(handler);
}
