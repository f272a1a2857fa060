// The connection's security and options on the window side: the certificate dialog and the
// window's judge answered through the dialog seam, and the profile dialog's 接続 group.

#include "app/ProfileConnection.h"
#include "dialogs/Dialogs.h"
#include "dialogs/Frm_Cert.h"
#include "dialogs/Modal.h"
#include "ftp/engine/FtpClient.h"
#include "settings/Settings.h"
#include "support/DialogDriver.h"
#include "support/FtpServers.h"
#include "support/SampleCertificate.h"
#include "support/TempDir.h"
#include "support/TestCerts.h"

#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QTest>

using namespace oxlip;
using ftp::CertificateDecision;
using ftp::CertificateFault;
using test::ClickButton;
using test::MessageRecorder;

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
        parts << (button ? button->text() : QStringLiteral("-"));
    }
    return parts.join('|').replace('\n', QString());
}

// Answers the next dialogs: the buttons to click in turn (-1: Esc); records what was shown.
struct CertificateAnswers {
    explicit CertificateAnswers(std::vector<int> clicks) : clicks_(std::move(clicks)) {
        ui::SetDialogResponder([this](QDialog* opened) {
            auto* dlg = qobject_cast<Frm_Cert*>(opened);
            shown << (dlg ? Shown(*dlg) : QStringLiteral("another dialog"));
            const int click = clicks_.empty() ? -1 : clicks_.front();
            if (!clicks_.empty()) {
                clicks_.erase(clicks_.begin());
            }
            if (dlg && click >= 0 && dlg->Btn[click]) {
                dlg->Btn[click]->click();
            } else {
                QTest::keyClick(opened, Qt::Key_Escape);
            }
            return opened->result();
        });
    }
    ~CertificateAnswers() { ui::SetDialogResponder(nullptr); }
    QStringList shown;

private:
    std::vector<int> clicks_;
};

QString Fingerprints(const std::string& print) {
    return QString::fromStdString(print).remove(':');
}

// The 接続 group of the profile dialog in one line.
QString Options(const Frm_User& dlg) {
    return QStringList{QString::number(dlg.cmb_tls->currentIndex()),
                       dlg.txt_port->text(),
                       dlg.txt_port->placeholderText(),
                       dlg.opt_mode[0]->isChecked() ? "passive" : "active",
                       dlg.opt_mode[1]->isChecked() ? "active" : "passive",
                       QString::number(dlg.cmb_code->currentIndex()),
                       dlg.txt_keepalive->text()}
        .join('|');
}

const QString kDefaultOptions = QStringLiteral("0||21|passive|passive|0|60");

void SetOptions(Frm_User& dlg, int tls, const QString& port, bool passive, int code,
                const QString& keepAlive) {
    dlg.cmb_tls->setCurrentIndex(tls);
    dlg.txt_port->setText(port);
    dlg.opt_mode[passive ? 0 : 1]->setChecked(true);
    dlg.cmb_code->setCurrentIndex(code);
    dlg.txt_keepalive->setText(keepAlive);
}

QString StoredOptions(const Settings& settings, const std::string& name) {
    Settings fresh(settings.folder());
    fresh.profile.ProfileName = name;
    fresh.LoadProfile();
    const ConnectionProfile& p = fresh.profile;
    return QStringLiteral("%1|%2|%3|%4|%5")
        .arg(p.Encryption)
        .arg(p.Port)
        .arg(p.Passive ? "passive" : "active")
        .arg(p.NameEncoding)
        .arg(p.KeepAlive);
}

} // namespace

class TestSecurity : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { ui::SetDialogResponder(nullptr); }

    void profileGivesAddressAndPolicy();
    void windowJudgeAgainstARealServer();
    void certificateAskedAndAnswered();
    void changedCertificateOnlyShownAndRefused();
    void profileOptionsLoadClearAndStore();
    void profileOptionsRefuseBadNumbers();
};

void TestSecurity::profileGivesAddressAndPolicy() {
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
    const std::pair<int, ftp::TlsPolicy> policies[] = {
        {EncryptIfAvailable, ftp::TlsPolicy::IfAvailable},
        {EncryptRequired, ftp::TlsPolicy::Required},
        {EncryptImplicit, ftp::TlsPolicy::Implicit},
        {EncryptNone, ftp::TlsPolicy::None},
    };
    for (const auto& [encryption, policy] : policies) {
        ConnectionProfile p;
        p.Encryption = encryption;
        QCOMPARE(int(TlsPolicyOf(p)), int(policy));
    }
    Settings settings("/home/u/.config/oxlip/");
    QCOMPARE(QString::fromStdString(TrustFilePath(settings)),
             QStringLiteral("/home/u/.config/oxlip/TrustedCerts.txt"));
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

    const auto attempt = [&](std::vector<int> clicks) {
        CertificateAnswers answers(std::move(clicks));
        ProfileSecurity security(settings, nullptr);
        ftp::FtpClient client;
        client.setTimeouts(10000, 10000);
        client.setTls(security.options());
        const bool connected =
            client.connect(ServerAddressOf(settings.profile), server.user(), server.password());
        security.ShowRefusal(client.certificateProblem());
        client.close();
        QStringList seen{connected ? QStringLiteral("connected") : QStringLiteral("refused")};
        for (const QString& shown : answers.shown) {
            seen << shown.section('|', 0, 0);
        }
        return seen.join(' ');
    };
    const QString trustFile = QString::fromStdString(TrustFilePath(settings));
    QCOMPARE(attempt({2}), QStringLiteral("refused 証明書の確認"));
    QCOMPARE(attempt({0}), QStringLiteral("connected 証明書の確認"));
    QVERIFY(!QFileInfo::exists(trustFile));
    QCOMPARE(attempt({1}), QStringLiteral("connected 証明書の確認"));
    QVERIFY(QFileInfo::exists(trustFile));
    QCOMPARE(attempt({}), QStringLiteral("connected"));

    TrustStore(TrustFilePath(settings))
        .trust(ftp::HostPortKey("127.0.0.1", server.port()), test::SampleFingerprint(7));
    QCOMPARE(attempt({1}), QStringLiteral("refused 証明書の警告"));
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
        QCOMPARE(answers.shown.size(), 1);
        QString shown = answers.shown[0];
        for (const QString& part :
             {QStringLiteral("証明書の確認|サーバ「ftp.example.jp:990」の証明書を確認できません"),
              QStringLiteral("|理由=自己署名の証明書です"),
              QStringLiteral("|発行先=CN = ftp.example.jp, O = 山田商店|"),
              QStringLiteral("|発行者=CN = 山田商店 CA|"),
              QStringLiteral("|有効期間=2026-01-01 00:00:00 から 2027-01-01 00:00:00 まで (UTC)|"),
              QStringLiteral("|接続する|常に信頼する|キャンセル")}) {
            QVERIFY2(shown.contains(part), qPrintable(shown));
        }
        // The fingerprint whole, only its line broken.
        QVERIFY2(shown.remove(':').contains(Fingerprints(kNewPrint)), qPrintable(shown));

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
                .contains(QStringLiteral("unable to get local issuer certificate")));
}

void TestSecurity::changedCertificateOnlyShownAndRefused() {
    // Whatever the answer, a changed certificate is never accepted; both fingerprints show.
    for (const int click : {2, -1}) {
        CertificateAnswers answers({click, click});
        CertificateAsker asker;
        QCOMPARE(int(asker.decide(Problem(CertificateFault::Changed))),
                 int(CertificateDecision::Cancel));
        asker.ShowRefusal(std::nullopt);
        // The engine refuses it without asking: the window shows it after the attempt.
        asker.ShowRefusal(Problem(CertificateFault::Changed));
        QCOMPARE(answers.shown.size(), 2);
        for (QString shown : answers.shown) {
            QVERIFY2(
                shown.startsWith(QStringLiteral("証明書の警告|警告: サーバ「ftp.example.jp:990」"
                                                "の証明書が、以前に信頼した証明書と違います。")),
                qPrintable(shown));
            QVERIFY2(shown.contains(QStringLiteral("TrustedCerts.txt")), qPrintable(shown));
            QVERIFY2(shown.endsWith(QStringLiteral("|-|-|閉じる")), qPrintable(shown));
            shown.remove(':');
            QVERIFY(shown.contains(QStringLiteral("以前のフィンガープリント=") +
                                   Fingerprints(kOldPrint)));
            QVERIFY(shown.contains(QStringLiteral("新しいフィンガープリント=") +
                                   Fingerprints(kNewPrint)));
        }
    }

    // A certificate the engine could not read at all is refused the same way.
    CertificateAnswers answers({});
    CertificateAsker asker;
    ftp::CertificateProblem unread = Problem(CertificateFault::Other);
    unread.fingerprint.clear();
    asker.ShowRefusal(unread);
    QCOMPARE(answers.shown.size(), 1);
    QVERIFY2(answers.shown[0].endsWith(QStringLiteral("|-|-|閉じる")),
             qPrintable(answers.shown[0]));
}

void TestSecurity::profileOptionsLoadClearAndStore() {
    test::TempDir dir;
    Settings settings(dir.path());
    for (const char* name : {"A", "B"}) {
        settings.profile = ConnectionProfile{};
        settings.profile.ProfileName = name;
        settings.profile.Server = "h";
        if (name[0] == 'A') {
            settings.profile.Encryption = EncryptImplicit;
            settings.profile.Passive = false;
            settings.profile.NameEncoding = NamesEucJp;
            settings.profile.KeepAlive = 0;
        }
        QVERIFY(settings.SaveProfile());
    }
    MessageRecorder messages;
    Frm_User dlg(settings);
    QVERIFY(test::ShowAndWait(&dlg));

    // A choice loads the options; the port's greyed default follows the encryption.
    dlg.List->setCurrentRow(0);
    QCOMPARE(Options(dlg), QStringLiteral("2||990|active|active|3|0"));
    dlg.List->setCurrentRow(1);
    QCOMPARE(Options(dlg), kDefaultOptions);
    dlg.List->setCurrentRow(0);
    ClickButton(dlg.Btn[2]); // clear
    QCOMPARE(Options(dlg), kDefaultOptions);
    dlg.List->setCurrentRow(0);
    ClickButton(dlg.Btn_Set[0]); // new setting
    QCOMPARE(Options(dlg), kDefaultOptions);

    dlg.fields[Frm_User::Server]->setText(QStringLiteral("new.example.net"));
    SetOptions(dlg, EncryptRequired, QStringLiteral("2121"), false, NamesCp932,
               QStringLiteral("30"));
    ClickButton(dlg.Btn[0]);
    QVERIFY(messages.shown.empty() && dlg.result() == QDialog::Accepted);
    QCOMPARE(StoredOptions(settings, "新しい接続"), QStringLiteral("1|2121|active|2|30"));
    QCOMPARE(settings.profile.Port, 2121);
}

void TestSecurity::profileOptionsRefuseBadNumbers() {
    const struct {
        const char* port;
        const char* keepAlive;
        const char* message; // empty: stored
        const char* stored;
    } rows[] = {
        {"0", "60", "ポート番号は 1 から 65535 までの数字で", ""},
        {"65536", "60", "ポート番号は", ""},
        {"", "86401", "キープアライブの間隔は 0 から 86400 までの秒数で", ""},
        {"21", "", "キープアライブの間隔は", ""},
        {"65535", "86400", "", "0|65535|passive|0|86400"},
        {"", "0", "", "0|0|passive|0|0"},
    };
    for (const auto& row : rows) {
        test::TempDir dir;
        Settings settings(dir.path());
        MessageRecorder messages;
        Frm_User dlg(settings);
        QVERIFY(test::ShowAndWait(&dlg));
        dlg.fields[Frm_User::ProfileName]->setText(QStringLiteral("P"));
        dlg.fields[Frm_User::Server]->setText(QStringLiteral("h"));
        SetOptions(dlg, EncryptIfAvailable, QString::fromLatin1(row.port), true, NamesAuto,
                   QString::fromLatin1(row.keepAlive));
        ClickButton(dlg.Btn[0]);
        const QString name = QStringLiteral("%1/%2").arg(row.port, row.keepAlive);
        if (row.message[0]) {
            QVERIFY2(messages.shown.size() == 1 &&
                         messages.shown[0].text.startsWith(QString::fromUtf8(row.message)),
                     qPrintable(name));
            QVERIFY2(dlg.isVisible() && settings.ProfileNames().empty(), qPrintable(name));
            QWidget* bad = QString::fromUtf8(row.message).startsWith(QStringLiteral("ポート"))
                               ? static_cast<QWidget*>(dlg.txt_port)
                               : dlg.txt_keepalive;
            QVERIFY2(bad->hasFocus(), qPrintable(name));
        } else {
            QVERIFY2(messages.shown.empty() && !dlg.isVisible(), qPrintable(name));
            QCOMPARE(StoredOptions(settings, "P"), QString::fromLatin1(row.stored));
        }
    }
}

QTEST_MAIN(TestSecurity)
#include "tst_security.moc"
