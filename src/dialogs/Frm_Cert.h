#pragma once
// The certificate dialog: a server's certificate that did not verify, and what the user
// decides about it. A certificate that differs from the one trusted before for the server is
// only shown (the connection is refused whatever the user would choose).

#include "ftp/engine/Tls.h"

#include <QDialog>
#include <QString>
#include <optional>

class QGroupBox;
class QLabel;
class QPushButton;

namespace oxlip {

class Frm_Cert : public QDialog {
    Q_OBJECT
public:
    // refusalOnly: shown after the engine refused the certificate; a changed trusted
    // certificate, or one without a fingerprint, is always shown so.
    explicit Frm_Cert(const ftp::CertificateProblem& problem, bool refusalOnly = false,
                      QWidget* parent = nullptr);

    // What the user chose; Cancel until a choice is made (Esc, the close box, キャンセル).
    ftp::CertificateDecision Decision = ftp::CertificateDecision::Cancel;
    // Only a close button: the certificate is refused in any case.
    bool RefusalOnly() const { return refusal_; }

    // Why the certificate was not accepted, in one Japanese sentence.
    static QString Reason(const ftp::CertificateProblem& problem);

    QLabel* iconLabel = nullptr;    // the warning sign
    QLabel* messageLabel = nullptr; // what happened
    QGroupBox* certificateFrame = nullptr;
    QLabel* lbl_name[5] = {}; // captions: 理由, 発行先, 発行者, 有効期間, fingerprint (a
                              // changed certificate: the old and new fingerprints last)
    QLabel* lbl_value[5] = {}; // the certificate's values
    QPushButton* Btn[3] = {}; // 接続する, 常に信頼する, キャンセル (閉じる alone on a refusal)

private:
    void Choose(ftp::CertificateDecision decision);

    bool refusal_ = false;
};

// The window's judge: asks the user through the certificate dialog (opened through the one
// dialog seam).
class CertificateAsker : public ftp::CertificateJudge {
public:
    explicit CertificateAsker(QWidget* parent = nullptr) : parent_(parent) {}

    ftp::CertificateDecision decide(const ftp::CertificateProblem& problem) override;

    // After a connection that failed: shows a certificate problem the engine refused without
    // asking (a changed trusted certificate, or one that could not be read). Nothing when
    // there was none, or when the user was asked about it already. Call it once after each
    // connection attempt that used this judge.
    void ShowRefusal(const std::optional<ftp::CertificateProblem>& problem);

private:
    QWidget* parent_;
    bool asked_ = false;
};

} // namespace oxlip
