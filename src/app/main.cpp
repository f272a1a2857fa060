#include "app/Frm_Main.h"
#include "dialogs/DialogUi.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QFont>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    oxlip::ui::InstallQtJapaneseTranslation();
    oxlip::ui::InstallJapaneseFontSubstitutes();
    QApplication::setFont(QFont(QStringLiteral("MS UI Gothic"), 9));
    oxlip::Settings settings(
        oxlip::ChooseSettingsFolder(QCoreApplication::applicationDirPath().toStdString()));
    oxlip::Frm_Main window(settings);
    window.show();
    return app.exec();
}
