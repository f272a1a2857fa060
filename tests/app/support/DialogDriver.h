#pragma once
// Driving dialogs in the window tests: message boxes and dialogs answered through the seam and
// recorded, windows shown, buttons clicked, and a certificate problem as the engine reports it.

#include "dialogs/Modal.h"
#include "ftp/engine/Tls.h"

#include <QStringList>

#include <deque>
#include <functional>
#include <string>

class QAbstractButton;
class QDialog;
class QWidget;

namespace oxlip::test {

inline QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// Skips the test when this machine cannot run the server.
#define SKIP_WITHOUT_SERVER(kind)                                                                  \
    if (std::string why_; !CanRunServer(kind, &why_))                                              \
    QSKIP(why_.c_str())

// Records every message box and answers from a script of answers (Yes / Ok once it has
// run out).
class MessageScript {
public:
    MessageScript();
    ~MessageScript();
    // The texts, each one shown without the critical icon marked " (not critical)".
    QStringList marked() const;
    QStringList texts;
    QList<ui::MsgIcon> icons;
    std::deque<ui::MsgResult> answers;
};

// Records the dialogs run through the seam and answers them (Rejected by default); a hook
// may act on the dialog first.
class DialogRecorder {
public:
    DialogRecorder();
    ~DialogRecorder();
    QStringList classNames;
    std::function<int(QDialog*)> hook;
};

// Shows the window and waits until it is exposed; false when it never was.
bool ShowAndWait(QWidget* widget);

// A left click near the left edge of the button, where its text or box is.
void ClickButton(QAbstractButton* button);

// A SHA-256 fingerprint, "AB:CD:..." of 32 pairs; seeds give different fingerprints.
std::string SampleFingerprint(int seed);

// ftp.example.jp:990 with a Japanese subject and issuer, a year of validity and the
// fingerprint of seed 0x3A; a changed one also has the trusted fingerprint of seed 0xC4.
ftp::CertificateProblem SampleCertificateProblem(ftp::CertificateFault fault);

} // namespace oxlip::test
