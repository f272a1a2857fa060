#include "dialogs/Modal.h"

#include <QDialog>
#include <QMessageBox>
#include <utility>

namespace oxlip::ui {

namespace {
MessageResponder g_messageResponder;
DialogResponder g_dialogResponder;
} // namespace

void SetMessageResponder(MessageResponder responder) {
    g_messageResponder = std::move(responder);
}

void SetDialogResponder(DialogResponder responder) {
    g_dialogResponder = std::move(responder);
}

MsgResult ShowMessage(QWidget* parent, const QString& text, MsgIcon icon, MsgButtons buttons) {
    if (g_messageResponder) {
        return g_messageResponder(text, icon, buttons);
    }
    QMessageBox box(parent);
    box.setWindowTitle(QStringLiteral("Oxlip"));
    box.setText(text);
    switch (icon) {
    case MsgIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case MsgIcon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case MsgIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case MsgIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MsgIcon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    }
    if (buttons == MsgButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes ? MsgResult::Yes : MsgResult::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return MsgResult::Ok;
}

int ExecDialog(QDialog* dialog) {
    if (g_dialogResponder) {
        return g_dialogResponder(dialog);
    }
    return dialog->exec();
}

} // namespace oxlip::ui
