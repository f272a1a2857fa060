// The window's side of security: a profile's address and the certificate dialog's answers.

#include "app/ProfileConnection.h"
#include "support/DialogDriver.h"

using namespace oxlip;
using namespace Qt::StringLiterals;
using ftp::CertificateDecision;
using ftp::CertificateFault;
using test::SampleCertificateProblem;

namespace {

const std::string kNewPrint = test::SampleFingerprint(0x3A);
const std::string kOldPrint = test::SampleFingerprint(0xC4);

// Clicks the given buttons in turn (-1 or none left: Esc); records each dialog's texts and
// buttons in one line, without line breaks and the fingerprints' colons.
struct CertificateAnswers : test::DialogRecorder {
    explicit CertificateAnswers(std::vector<int> clicks) {
        hook = [this, clicks, next = size_t(0)](QDialog* opened) mutable {
            auto* dlg = qobject_cast<Frm_Cert*>(opened);
            QStringList parts{dlg->windowTitle(), dlg->messageLabel->text()};
            for (int i = 0; i < 5; ++i) {
                parts << dlg->lbl_name[i]->text() + "=" + dlg->lbl_value[i]->text();
            }
            for (const QPushButton* button : dlg->Btn) {
                parts << (button ? button->text() : u"-"_s);
            }
            shown << parts.join('|').remove('\n').remove(':');
            const int click = next < clicks.size() ? clicks[next++] : -1;
            click >= 0 && dlg->Btn[click] ? dlg->Btn[click]->click()
                                          : QTest::keyClick(opened, Qt::Key_Escape);
            return opened->result();
        };
    }
    QStringList shown;
};

const QString kPlace =
    QStringLiteral("|発行先=CN = ftp.example.jp, O = 山田商店|発行者=CN = 山田商店 CA"
                   "|有効期間=2026-01-01 00:00:00 から 2027-01-01 00:00:00 まで (UTC)|");
const QString kSelfSignedShown =
    QStringLiteral(
        "証明書の確認|サーバ「ftp.example.jp:990」の証明書を確認できませんでした。このまま"
        "接続すると、通信を盗み見られたり書き換えられたりするおそれがあります。|理由=自己"
        "署名の証明書です (認証局の署名がありません)。") +
    kPlace + "フィンガープリント(SHA-256)=" + QString::fromStdString(kNewPrint) +
    "|接続する|常に信頼する|キャンセル";
// Only shown, with both fingerprints, and a close button alone.
const QString kChangedShown =
    QStringLiteral(
        "証明書の警告|警告: サーバ「ftp.example.jp:990」の証明書が、以前に信頼した証明書と"
        "違います。第三者がサーバになりすましているおそれがあるため、接続しませんでした。"
        "証明書が更新されたことが確かな場合は、設定フォルダの TrustedCerts.txt からこの"
        "サーバの行を削除してください。") +
    kPlace + "以前のフィンガープリント=" + QString::fromStdString(kOldPrint) +
    "|新しいフィンガープリント=" + QString::fromStdString(kNewPrint) + "|-|-|閉じる";

} // namespace

class TestSecurity : public QObject {
    Q_OBJECT
private slots:
    void profileGivesTheAddress();
    void certificateAskedAndAnswered();
};

void TestSecurity::profileGivesTheAddress() {
    const std::tuple<const char*, int, const char*> rows[] = {
        {"ftp.example.jp", 0, "ftp.example.jp"},
        {"ftp.example.jp:2121", 0, "ftp.example.jp:2121"},
        {"ftp.example.jp", 2121, "ftp.example.jp:2121"},
        {"ftp.example.jp:21", 990, "ftp.example.jp:990"},
        {"2001:db8::7", 2121, "[2001:db8::7]:2121"},
        {"[2001:db8::7]:21", 2121, "[2001:db8::7]:2121"},
    };
    for (const auto& [server, port, address] : rows) {
        ConnectionProfile p;
        p.Server = server;
        p.Port = port;
        QCOMPARE(QString::fromStdString(ServerAddressOf(p)), QString::fromLatin1(address));
    }
}

void TestSecurity::certificateAskedAndAnswered() {
    const std::pair<int, CertificateDecision> rows[] = {
        {0, CertificateDecision::ConnectOnce},
        {1, CertificateDecision::TrustAlways},
        {2, CertificateDecision::Cancel},
        {-1, CertificateDecision::Cancel}, // Esc
    };
    for (const auto& [click, decision] : rows) {
        CertificateAnswers answers({click});
        CertificateAsker asker;
        QCOMPARE(asker.decide(SampleCertificateProblem(CertificateFault::SelfSigned)), decision);
        asker.ShowRefusal(SampleCertificateProblem(CertificateFault::SelfSigned)); // asked already
        QCOMPARE(answers.shown, QStringList{QString(kSelfSignedShown).remove(':')});
    }

    // Every fault has its own reason; the engine's words complete the unusual ones.
    QStringList reasons;
    for (int fault = 0; fault <= int(CertificateFault::Other); ++fault) {
        reasons << Frm_Cert::Reason(SampleCertificateProblem(CertificateFault(fault)));
    }
    QCOMPARE(reasons.removeDuplicates(), 0);
    QVERIFY(reasons.last().contains(u"unable to get local issuer certificate"_s));

    // Changed: never accepted, shown again after the engine's refusal; unreadable: refused alike.
    CertificateAnswers answers({2, 2});
    CertificateAsker asker;
    QCOMPARE(asker.decide(SampleCertificateProblem(CertificateFault::Changed)),
             CertificateDecision::Cancel);
    asker.ShowRefusal(std::nullopt);
    asker.ShowRefusal(SampleCertificateProblem(CertificateFault::Changed));
    ftp::CertificateProblem unread = SampleCertificateProblem(CertificateFault::Other);
    unread.fingerprint.clear();
    asker.ShowRefusal(unread);
    QCOMPARE(answers.shown.mid(0, 2), QStringList(2, QString(kChangedShown).remove(':')));
    const QString unreadText = u"サーバ「ftp.example.jp:990」の証明書を確認できなかったため、"
                               u"接続しませんでした。"_s;
    QCOMPARE(answers.shown.value(2).section('|', 1, 1), QString(unreadText).remove(':'));
    QCOMPARE(answers.shown.value(2).section('|', -3), u"-|-|閉じる"_s);
}

QTEST_MAIN(TestSecurity)
#include "tst_security.moc"
