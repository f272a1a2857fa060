#include "app/Frm_Main.h"
#include "dialogs/DialogUi.h"
#include "settings/Settings.h"
#include "settings/Version.h"

#include <QApplication>
#include <QFont>
#include <QTimer>

#include <cstdio>

namespace {
const char kHelp[] = "Usage: oxlip [--help | --version]\n"
                     "Opens Oxlip's window: an FTP client with two panes and a Japanese "
                     "interface.\n"
                     "Settings are kept in ~/.config/oxlip (see oxlip(1)).\n";
} // namespace

int main(int argc, char** argv) {
    if (const auto text = oxlip::InfoOptionText({argv + 1, argv + argc}, "oxlip", kHelp)) {
        std::fputs(text->c_str(), stdout);
        return 0;
    }
    QApplication app(argc, argv);
    // The desktop matches the window to its menu entry and icon by these.
    QApplication::setApplicationName(QStringLiteral("Oxlip"));
    QApplication::setApplicationVersion(QString::fromStdString(oxlip::PackageVersion()));
    QApplication::setOrganizationName(QStringLiteral("Oxlip"));
    QApplication::setOrganizationDomain(QStringLiteral("oxlip.example.org"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.oxlip.Oxlip"));

    oxlip::ui::InstallQtJapaneseTranslation();
    oxlip::ui::InstallJapaneseFontSubstitutes();
    QApplication::setFont(QFont(QStringLiteral("MS UI Gothic"), 9));
    oxlip::Settings settings(
        oxlip::ChooseSettingsFolder(QCoreApplication::applicationDirPath().toStdString()));
    oxlip::Frm_Main window(settings);
    window.show();
    if (qEnvironmentVariableIsSet("OXLIP_CLOSE_AFTER_SHOW")) {
        // Checks of an installation: open, then close as the user would (settings are saved).
        QTimer::singleShot(0, &window, &QWidget::close);
    }
    return app.exec();
}
