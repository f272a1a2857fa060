#include "support/DialogDriver.h"

#include "dialogs/DialogUi.h"

#include <QCoreApplication>
#include <QDialog>

#include <cstdio>

namespace oxlip::test {

// Every window test runs with the translation the program loads at start.
static void LoadProgramTranslation() {
    ui::InstallQtJapaneseTranslation();
}
Q_COREAPP_STARTUP_FUNCTION(LoadProgramTranslation)

MessageScript::MessageScript() {
    ui::SetMessageResponder([this](const QString& text, ui::MsgIcon icon, ui::MsgButtons buttons) {
        texts << text;
        icons << icon;
        if (!answers.empty()) {
            const ui::MsgResult answer = answers.front();
            answers.pop_front();
            return answer;
        }
        return buttons == ui::MsgButtons::YesNo ? ui::MsgResult::Yes : ui::MsgResult::Ok;
    });
}

QStringList MessageScript::marked() const {
    QStringList out;
    for (qsizetype i = 0; i < texts.size(); ++i) {
        out << texts[i] + (icons[i] == ui::MsgIcon::Critical ? "" : " (not critical)");
    }
    return out;
}

DialogRecorder::DialogRecorder() {
    ui::SetDialogResponder([this](QDialog* dialog) {
        classNames << QString::fromLatin1(dialog->metaObject()->className());
        return hook ? hook(dialog) : int(QDialog::Rejected);
    });
}

bool ShowAndWait(QWidget* widget) {
    widget->show();
    return QTest::qWaitForWindowExposed(widget, 5000);
}

void ClickButton(QAbstractButton* button) {
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
}

std::string SampleFingerprint(int seed) {
    std::string text;
    for (int i = 0; i < 32; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02X", (seed + i * 37) & 0xFF);
        text += (i ? ":" : "") + std::string(pair);
    }
    return text;
}

ftp::CertificateProblem SampleCertificateProblem(ftp::CertificateFault fault) {
    ftp::CertificateProblem p;
    p.hostPort = "ftp.example.jp:990";
    p.subject = "CN = ftp.example.jp, O = 山田商店";
    p.issuer = "CN = 山田商店 CA";
    p.notBefore = "2026-01-01 00:00:00";
    p.notAfter = "2027-01-01 00:00:00";
    p.fingerprint = SampleFingerprint(0x3A);
    p.fault = fault;
    p.detail = "unable to get local issuer certificate";
    if (fault == ftp::CertificateFault::Changed) {
        p.trustedFingerprint = SampleFingerprint(0xC4);
    }
    return p;
}

} // namespace oxlip::test
