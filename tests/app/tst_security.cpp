// The connection's security on the window side: the server address a profile gives, and the
// certificate dialog and the window's judge answered through the dialog seam.

#include "app/ProfileConnection.h"
#include "ftp/engine/FtpClient.h"
#include "support/DialogDriver.h"
#include "support/FtpServers.h"
#include "support/TestCerts.h"

#include <QFileInfo>
#include <QSet>

#include <deque>

using namespace oxlip;
using namespace Qt::StringLiterals;
using ftp::CertificateDecision;
using ftp::CertificateFault;
using test::ClickButton;

namespace {

const std::string kNewPrint = test::SampleFingerprint(0x3A);
const std::string kOldPrint = test::SampleFingerprint(0xC4);

ftp::CertificateProblem Problem(CertificateFault fault) {
    return test::SampleCertificateProblem(fault);
}

// Every text the certificate dialog shows, with its buttons, in one line; the fingerprints'
// line breaks are taken out.
QString Shown(const Frm_Cert& dlg) {
    QStringList parts{dlg.windowTitle(), dlg.messageLabel->text()};
    for (int i = 0; i < 5; ++i) {
        parts << dlg.lbl_name[i]->text() + "=" + dlg.lbl_value[i]->text();
    }
    for (const QPushButton* button : dlg.Btn) {
        parts << (button ? button->text() : u"-"_s);
    }
    return parts.join('|').replace('\n', QString());
}

// Answers the next dialogs: the buttons to click in turn (-1 or none left: Esc); records
// what each showed.
struct CertificateAnswers : test::DialogRecorder {
    explicit CertificateAnswers(std::deque<int> clicks) {
        hook = [this, clicks](QDialog* opened) mutable {
            auto* dlg = qobject_cast<Frm_Cert*>(opened);
            shown << (dlg ? Shown(*dlg) : u"another dialog"_s);
            const int click = clicks.empty() ? -1 : clicks.front();
            if (!clicks.empty()) {
                clicks.pop_front();
            }
            if (dlg && click >= 0 && dlg->Btn[click]) {
                dlg->Btn[click]->click();
            } else {
                QTest::keyClick(opened, Qt::Key_Escape);
            }
            return opened->result();
        };
    }
    QStringList shown;
};

// The texts without the fingerprints' colons, which line breaks replace in places.
QString Plain(QString text) {
    return text.remove(':');
}

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
    void cleanup() { ui::SetDialogResponder(nullptr); }

    void profileGivesTheAddress();
    void windowJudgeAgainstARealServer();
    void certificateAskedAndAnswered();
};

void TestSecurity::profileGivesTheAddress() {
    const struct {
        const char* server;
        int port;
        const char* address;
    } rows[] = {
        {"ftp.example.jp", 0, "ftp.example.jp"},
        {"ftp.example.jp:2121", 0, "ftp.example.jp:2121"},
        {"ftp.example.jp", 2121, "ftp.example.jp:2121"},
        {"ftp.example.jp:21", 990, "ftp.example.jp:990"},
        {"192.0.2.7", 990, "192.0.2.7:990"},
        {"2001:db8::7", 2121, "[2001:db8::7]:2121"},
        {"[2001:db8::7]:21", 2121, "[2001:db8::7]:2121"},
        {"[::1]", 2121, "[::1]:2121"},
    };
    for (const auto& row : rows) {
        ConnectionProfile p;
        p.Server = row.server;
        p.Port = row.port;
        QCOMPARE(QString::fromStdString(ServerAddressOf(p)), QString::fromLatin1(row.address));
    }
}

void TestSecurity::windowJudgeAgainstARealServer() {
    // A self-signed certificate: asked each time until trusted for good, then taken without a
    // question; another certificate at the same address is refused with the warning.
    std::string why;
    if (!test::CanRunServer(test::ServerKind::Pyftpdlib, &why)) {
        QSKIP(why.c_str());
    }
    test::TestCerts certs;
    QVERIFY(certs.ok());
    test::FtpServer server(test::ServerKind::Pyftpdlib,
                           test::ServerTls{true, false, certs.server(test::CertKind::SelfSigned)});
    QVERIFY2(server.ok(), server.error().c_str());
    test::TempDir dir;
    Settings settings(dir.path());
    settings.profile.Server = "127.0.0.1";
    settings.profile.Port = server.port();
    settings.profile.Encryption = EncryptRequired;

    const auto attempt = [&](std::deque<int> clicks) {
        CertificateAnswers answers(std::move(clicks));
        ProfileSecurity security(settings, nullptr);
        ftp::FtpClient client;
        client.setTimeouts(10000, 10000);
        client.setTls(security.options());
        const bool connected =
            client.connect(ServerAddressOf(settings.profile), server.user(), server.password());
        security.ShowRefusal(client.certificateProblem());
        client.close();
        QStringList seen{connected ? u"connected"_s : u"refused"_s};
        for (const QString& shown : answers.shown) {
            seen << shown.section('|', 0, 0);
        }
        return seen.join(' ');
    };
    const QString trustFile = QString::fromStdString(TrustFilePath(settings));
    QCOMPARE(attempt({2}), u"refused 証明書の確認"_s);
    QCOMPARE(attempt({0}), u"connected 証明書の確認"_s);
    QVERIFY(!QFileInfo::exists(trustFile));
    QCOMPARE(attempt({1}), u"connected 証明書の確認"_s);
    QVERIFY(QFileInfo::exists(trustFile));
    QCOMPARE(attempt({}), u"connected"_s);

    TrustStore(TrustFilePath(settings))
        .trust(ftp::HostPortKey("127.0.0.1", server.port()), test::SampleFingerprint(7));
    QCOMPARE(attempt({1}), u"refused 証明書の警告"_s);
}

void TestSecurity::certificateAskedAndAnswered() {
    const struct {
        int click;
        CertificateDecision decision;
    } rows[] = {
        {0, CertificateDecision::ConnectOnce},
        {1, CertificateDecision::TrustAlways},
        {2, CertificateDecision::Cancel},
        {-1, CertificateDecision::Cancel}, // Esc
    };
    for (const auto& row : rows) {
        CertificateAnswers answers({row.click});
        CertificateAsker asker;
        QCOMPARE(int(asker.decide(Problem(CertificateFault::SelfSigned))), int(row.decision));
        QCOMPARE(Plain(answers.shown.join('#')), Plain(kSelfSignedShown));

        // Asked already: nothing more is shown after the attempt.
        asker.ShowRefusal(Problem(CertificateFault::SelfSigned));
        QCOMPARE(answers.shown.size(), 1);
    }

    // Every fault has its own reason; the engine's words complete the unusual ones.
    QSet<QString> reasons;
    for (const auto fault :
         {CertificateFault::UnknownIssuer, CertificateFault::SelfSigned, CertificateFault::Expired,
          CertificateFault::NotYetValid, CertificateFault::NameMismatch, CertificateFault::Changed,
          CertificateFault::Other}) {
        reasons << Frm_Cert::Reason(Problem(fault));
    }
    QCOMPARE(reasons.size(), 7);
    QVERIFY(Frm_Cert::Reason(Problem(CertificateFault::Other))
                .contains(u"unable to get local issuer certificate"_s));

    // Whatever the answer, a changed certificate is never accepted; both fingerprints show.
    for (const int click : {2, -1}) {
        CertificateAnswers answers({click, click});
        CertificateAsker asker;
        QCOMPARE(int(asker.decide(Problem(CertificateFault::Changed))),
                 int(CertificateDecision::Cancel));
        asker.ShowRefusal(std::nullopt);
        // The engine refuses it without asking: the window shows it after the attempt.
        asker.ShowRefusal(Problem(CertificateFault::Changed));
        QCOMPARE(Plain(answers.shown.join('#')), Plain(kChangedShown + "#" + kChangedShown));
    }

    // A certificate the engine could not read at all is refused the same way.
    CertificateAnswers unreadAnswers({});
    ftp::CertificateProblem unread = Problem(CertificateFault::Other);
    unread.fingerprint.clear();
    CertificateAsker().ShowRefusal(unread);
    QCOMPARE(unreadAnswers.shown.size(), 1);
    QVERIFY2(unreadAnswers.shown[0].endsWith(u"|-|-|閉じる"_s), qPrintable(unreadAnswers.shown[0]));
}

QTEST_MAIN(TestSecurity)
#include "tst_security.moc"
