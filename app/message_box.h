#ifndef TICKORA_APP_MESSAGE_BOX_H_
#define TICKORA_APP_MESSAGE_BOX_H_

#include <QString>

#include <functional>

class QWidget;

// Every message box of the wizard goes through ShowMessageBox: an
// information box with an OK button only, modal to `owner`. A null
// `caption` leaves the window title to the platform (the box has no caption
// of its own).
//
// A handler installed with SetMessageBoxHandler takes the place of the box:
// it is called with the same arguments and nothing is shown. Tests install
// one to answer and record the boxes; passing an empty function restores
// the real box. The handler is process-wide and used from the user
// interface thread only.
using MessageBoxHandler =
    std::function<void(QWidget* owner, const QString& text,
                       const QString& caption)>;

void ShowMessageBox(QWidget* owner, const QString& text,
                    const QString& caption = QString());

void SetMessageBoxHandler(MessageBoxHandler handler);

// A question with "はい" and "いいえ" buttons, modal to `owner`; true for
// "はい". As above, a handler installed with SetQuestionBoxHandler answers
// instead of a shown box.
using QuestionBoxHandler = std::function<bool(
    QWidget* owner, const QString& text, const QString& caption)>;

bool AskYesNo(QWidget* owner, const QString& text,
              const QString& caption = QString());

void SetQuestionBoxHandler(QuestionBoxHandler handler);

#endif  // TICKORA_APP_MESSAGE_BOX_H_
