#pragma once
// Dialogs and message boxes answered through the seam and recorded; sample certificates.

#include "dialogs/Dialogs.h"
#include "dialogs/Frm_Cert.h"
#include "dialogs/Modal.h"
#include "ftp/engine/Tls.h"
#include "settings/Settings.h"
#include "support/TempDir.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <deque>
#include <functional>

class QDialog;

namespace oxlip::test {

inline QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// Skips the test when this machine cannot run the server.
#define SKIP_WITHOUT_SERVER(kind)                                                                  \
    if (std::string why_; !CanRunServer(kind, &why_))                                              \
    QSKIP(why_.c_str())

// Records every message box and answers from a script (then Yes / Ok).
class MessageScript {
public:
    MessageScript();
    ~MessageScript() { ui::SetMessageResponder(nullptr); }
    // The texts, each one shown without the critical icon marked " (not critical)".
    QStringList marked() const;
    QStringList texts;
    QList<ui::MsgIcon> icons;
    std::deque<ui::MsgResult> answers;
};

// Records the dialogs and answers them by the hook (Rejected without one).
class DialogRecorder {
public:
    DialogRecorder();
    ~DialogRecorder() { ui::SetDialogResponder(nullptr); }
    QStringList classNames;
    std::function<int(QDialog*)> hook;
};

bool ShowAndWait(QWidget* widget);

// A left click near the left edge of the button, where its text or box is.
void ClickButton(QAbstractButton* button);

// A SHA-256 fingerprint, "AB:CD:..." of 32 pairs; seeds give different fingerprints.
std::string SampleFingerprint(int seed);

// ftp.example.jp:990, fingerprint of seed 0x3A (a changed one: trusted one of seed 0xC4).
ftp::CertificateProblem SampleCertificateProblem(ftp::CertificateFault fault);

} // namespace oxlip::test
