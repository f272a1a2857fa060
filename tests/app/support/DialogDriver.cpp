#include "support/DialogDriver.h"

#include <QAbstractButton>
#include <QTest>

namespace oxlip::test {

MessageRecorder::MessageRecorder(ui::MsgResult yesNoAnswer) {
    ui::SetMessageResponder(
        [this, yesNoAnswer](const QString& text, ui::MsgIcon icon, ui::MsgButtons buttons) {
            shown.push_back({text, icon, buttons});
            return buttons == ui::MsgButtons::YesNo ? yesNoAnswer : ui::MsgResult::Ok;
        });
}

MessageRecorder::~MessageRecorder() {
    ui::SetMessageResponder(nullptr);
}

bool ShowAndWait(QWidget* widget) {
    widget->show();
    return QTest::qWaitForWindowExposed(widget, 5000);
}

void ClickButton(QAbstractButton* button) {
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
}

} // namespace oxlip::test
