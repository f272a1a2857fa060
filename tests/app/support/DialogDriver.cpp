#include "support/DialogDriver.h"

#include "dialogs/DialogUi.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QTest>

namespace oxlip::test {

namespace {
// Every window test runs with the translation the program loads at start; QTEST_MAIN makes
// the application object, which then calls this.
void LoadProgramTranslation() {
    ui::InstallQtJapaneseTranslation();
}
} // namespace
Q_COREAPP_STARTUP_FUNCTION(LoadProgramTranslation)

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
