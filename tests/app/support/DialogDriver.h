#pragma once
// Driving dialogs in the window tests: message boxes answered and recorded, windows shown,
// buttons clicked with the mouse.

#include "dialogs/Modal.h"

#include <QString>
#include <vector>

class QAbstractButton;
class QWidget;

namespace oxlip::test {

struct ShownMessage {
    QString text;
    ui::MsgIcon icon;
    ui::MsgButtons buttons;
};

// While it lives, every message box is answered (OK, or the given answer for Yes/No) and kept.
class MessageRecorder {
public:
    explicit MessageRecorder(ui::MsgResult yesNoAnswer = ui::MsgResult::Yes);
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;
    std::vector<ShownMessage> shown;
};

// Shows the window and waits until it is exposed; false when it never was.
bool ShowAndWait(QWidget* widget);

// A left click near the left edge of the button, where its text or box is.
void ClickButton(QAbstractButton* button);

} // namespace oxlip::test
