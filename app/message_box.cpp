#include "app/message_box.h"

#include <QMessageBox>

#include <utility>

namespace {

MessageBoxHandler& Handler() {
  static MessageBoxHandler handler;
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
