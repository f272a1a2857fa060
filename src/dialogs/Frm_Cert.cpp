#include "dialogs/Frm_Cert.h"

#include "dialogs/DialogUi.h"
#include "dialogs/Modal.h"
#include "settings/TrustStore.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

namespace oxlip {

namespace {

using ftp::CertificateDecision;
using ftp::CertificateFault;

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// "AB:CD:..." of 32 pairs on two lines of 16.
QString FingerprintLines(const std::string& fingerprint) {
    QString text = Q(fingerprint);
    constexpr int kLineLength = 16 * 3;
    if (text.size() > kLineLength && text[kLineLength - 1] == QLatin1Char(':')) {
        text[kLineLength - 1] = QLatin1Char('\n');
    }
    return text;
}

QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QPushButton* MakeButton(QWidget* parent, int index, const QString& caption, int left) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QStringLiteral("Btn_%1").arg(index));
    button->setAutoDefault(false);
    ui::PlaceTwips(button, left, 5220, 1455, 375);
    return button;
}

} // namespace

QString Frm_Cert::Reason(const ftp::CertificateProblem& problem) {
    switch (problem.fault) {
    case CertificateFault::UnknownIssuer:
        return QStringLiteral("信頼できる認証局が発行した証明書ではありません。");
    case CertificateFault::SelfSigned:
        return QStringLiteral("自己署名の証明書です (認証局の署名がありません)。");
    case CertificateFault::Expired:
        return QStringLiteral("証明書の有効期限が切れています。");
    case CertificateFault::NotYetValid:
        return QStringLiteral("証明書の有効期間がまだ始まっていません。");
    case CertificateFault::NameMismatch:
        return QStringLiteral(
            "証明書が接続先とは別のホスト名 (またはアドレス) に発行されています。");
    case CertificateFault::Changed:
        return QStringLiteral("証明書が以前に信頼した証明書と違います。");
    case CertificateFault::Other:
        break;
    }
    return problem.detail.empty()
               ? QStringLiteral("証明書を検証できませんでした。")
               : QStringLiteral("証明書を検証できませんでした (%1)。").arg(Q(problem.detail));
}

Frm_Cert::Frm_Cert(const ftp::CertificateProblem& problem, bool refusalOnly, QWidget* parent)
    : QDialog(parent) {
    const bool changed = problem.fault == CertificateFault::Changed;
    refusal_ = refusalOnly || changed || problem.fingerprint.empty();
    ui::SetUpDialog(this, QStringLiteral("Frm_Cert"),
                    changed ? QStringLiteral("証明書の警告") : QStringLiteral("証明書の確認"), 8520,
                    5715);

    iconLabel = new QLabel(this);
    iconLabel->setObjectName(QStringLiteral("Image1"));
    ui::PlaceTwips(iconLabel, 120, 120, 480, 480);
    iconLabel->setPixmap(
        style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(iconLabel->size()));

    const QString server = Q(problem.hostPort);
    QString message;
    if (changed) {
        message = QStringLiteral("警告: サーバ「%1」の証明書が、以前に信頼した証明書と違います。"
                                 "第三者がサーバになりすましているおそれがあるため、"
                                 "接続しませんでした。\n証明書が更新されたことが確かな場合は、"
                                 "設定フォルダの %2 からこのサーバの行を削除してください。")
                      .arg(server, QString::fromLatin1(kTrustFileName));
    } else if (refusal_) {
        message = QStringLiteral("サーバ「%1」の証明書を確認できなかったため、"
                                 "接続しませんでした。")
                      .arg(server);
    } else {
        message = QStringLiteral("サーバ「%1」の証明書を確認できませんでした。\n"
                                 "このまま接続すると、通信を盗み見られたり書き換えられたり"
                                 "するおそれがあります。")
                      .arg(server);
    }
    messageLabel = MakeLabel(this, QStringLiteral("Label1"), message);
    ui::PlaceTwips(messageLabel, 720, 120, 7680, 1200);

    certificateFrame = new QGroupBox(QStringLiteral("証明書"), this);
    certificateFrame->setObjectName(QStringLiteral("Frame1"));
    ui::PlaceTwips(certificateFrame, 120, 1440, 8280, 3660);

    const QString validity =
        QStringLiteral("%1 から %2 まで (UTC)").arg(Q(problem.notBefore), Q(problem.notAfter));
    const QString fingerprint = QStringLiteral("フィンガープリント\n(SHA-256)");
    const std::pair<QString, QString> rows[5] = {
        changed ? std::pair{QStringLiteral("発行先"), Q(problem.subject)}
                : std::pair{QStringLiteral("理由"), Reason(problem)},
        changed ? std::pair{QStringLiteral("発行者"), Q(problem.issuer)}
                : std::pair{QStringLiteral("発行先"), Q(problem.subject)},
        changed ? std::pair{QStringLiteral("有効期間"), validity}
                : std::pair{QStringLiteral("発行者"), Q(problem.issuer)},
        changed ? std::pair{QStringLiteral("以前の\nフィンガープリント"),
                            FingerprintLines(problem.trustedFingerprint)}
                : std::pair{QStringLiteral("有効期間"), validity},
        {changed ? QStringLiteral("新しい\nフィンガープリント") : fingerprint,
         FingerprintLines(problem.fingerprint)},
    };
    for (int i = 0; i < 5; ++i) {
        lbl_name[i] =
            MakeLabel(certificateFrame, QStringLiteral("lbl_name_%1").arg(i), rows[i].first);
        ui::PlaceTwips(lbl_name[i], 120, 300 + 660 * i, 1935, 600);
        lbl_value[i] =
            MakeLabel(certificateFrame, QStringLiteral("lbl_value_%1").arg(i), rows[i].second);
        lbl_value[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        lbl_value[i]->setToolTip(rows[i].second);
        ui::PlaceTwips(lbl_value[i], 2160, 300 + 660 * i, 6000, 600);
    }

    // Cancelling is what Enter does unless another button has the focus.
    if (refusal_) {
        Btn[2] = MakeButton(this, 2, QStringLiteral("閉じる"), 6945);
    } else {
        Btn[0] = MakeButton(this, 0, QStringLiteral("接続する"), 3795);
        Btn[1] = MakeButton(this, 1, QStringLiteral("常に信頼する"), 5370);
        Btn[2] = MakeButton(this, 2, QStringLiteral("キャンセル"), 6945);
        connect(Btn[0], &QPushButton::clicked, this,
                [this] { Choose(CertificateDecision::ConnectOnce); });
        connect(Btn[1], &QPushButton::clicked, this,
                [this] { Choose(CertificateDecision::TrustAlways); });
    }
    Btn[2]->setDefault(true);
    connect(Btn[2], &QPushButton::clicked, this, &QDialog::reject);
    Btn[2]->setFocus();
}

void Frm_Cert::Choose(CertificateDecision decision) {
    Decision = decision;
    accept();
}

CertificateDecision CertificateAsker::decide(const ftp::CertificateProblem& problem) {
    asked_ = true;
    Frm_Cert dialog(problem, false, parent_);
    if (ui::ExecDialog(&dialog) != QDialog::Accepted) {
        return CertificateDecision::Cancel;
    }
    return dialog.Decision;
}

void CertificateAsker::ShowRefusal(const std::optional<ftp::CertificateProblem>& problem) {
    const bool asked = asked_;
    asked_ = false; // the next connection starts afresh
    if (!problem || asked) {
        return;
    }
    Frm_Cert dialog(*problem, true, parent_);
    ui::ExecDialog(&dialog);
}

} // namespace oxlip
