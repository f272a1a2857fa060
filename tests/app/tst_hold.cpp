// The window's connection with the profile's options, against real servers: the encryption
// (with the certificate dialog answered through the dialog seam).

#include "app/Frm_Main.h"
#include "app/ProfileConnection.h"
#include "dialogs/Frm_Cert.h"
#include "settings/TrustStore.h"
#include "support/FtpServers.h"
#include "support/WindowTestSupport.h"

#include <QPushButton>
#include <QTest>

using namespace oxlip;
using namespace oxlip::test;

namespace {

// The log's TLS lines, with the protocol and the cipher left out.
QString TlsLines(const QStringList& lines) {
    QStringList out;
    for (const QString& line : lines) {
        if (line.endsWith(QStringLiteral(") で暗号化しました"))) {
            out << QStringLiteral("encrypted");
        } else if (line.contains(QStringLiteral("暗号化せずに接続しました"))) {
            out << QStringLiteral("fell back");
        }
    }
    return out.join(',');
}

} // namespace

class HoldTest : public QObject {
    Q_OBJECT

private slots:
    void connectsWithTheProfilesEncryption();
};

void HoldTest::connectsWithTheProfilesEncryption() {
    std::string why;
    if (!CanRunServer(ServerKind::Pyftpdlib, &why)) {
        QSKIP(why.c_str());
    }
    TestCerts certs;
    QVERIFY(certs.ok());
    const CertFiles selfSigned = certs.server(CertKind::SelfSigned);
    FtpServer plain(ServerKind::Pyftpdlib);
    FtpServer explicitTls(ServerKind::Pyftpdlib, ServerTls{true, false, selfSigned});
    FtpServer implicitTls(ServerKind::Pyftpdlib, ServerTls{true, true, selfSigned});
    for (const FtpServer* server : {&plain, &explicitTls, &implicitTls}) {
        QVERIFY2(server->ok(), server->error().c_str());
    }
    enum { Asked = 1, Pinned = 2 }; // the certificate is asked for; another one is trusted
    const struct {
        const FtpServer* server;
        int encryption;
        int flags;
        const char* result; // connected or not, the dialogs' titles, the log's TLS lines
    } rows[] = {
        {&explicitTls, EncryptIfAvailable, Asked, "yes 証明書の確認 encrypted"},
        {&explicitTls, EncryptRequired, Asked, "yes 証明書の確認 encrypted"},
        {&implicitTls, EncryptImplicit, Asked, "yes 証明書の確認 encrypted"},
        {&explicitTls, EncryptRequired, Pinned, "no 証明書の警告 "},
        {&explicitTls, EncryptNone, 0, "no  "}, // the server requires TLS
        {&plain, EncryptIfAvailable, 0, "yes  fell back"},
        {&plain, EncryptRequired, 0, "no  "},
        {&plain, EncryptNone, 0, "yes  "},
    };
    for (const auto& row : rows) {
        WindowHarness harness;
        MessageScript messages;
        DialogRecorder dialogs;
        QStringList titles;
        dialogs.hook = [&titles](QDialog* dialog) {
            titles << dialog->windowTitle();
            if (auto* cert = qobject_cast<Frm_Cert*>(dialog); cert && cert->Btn[0]) {
                cert->Btn[0]->click(); // 接続する
            }
            return dialog->result();
        };
        harness.writeServerProfile(*row.server, "/", row.server->password());
        if (row.flags & Pinned) {
            TrustStore(TrustFilePath(*harness.settings))
                .trust(ftp::HostPortKey("127.0.0.1", row.server->port()), "00:11");
        }
        harness.writeUserIni("[S]\nServer=" + row.server->server() +
                             "\nUserName=" + row.server->user() +
                             "\nPassWord=" + ScramblePassword(row.server->password()) +
                             "\nDir=/\nEncryption=" + std::to_string(row.encryption) + "\n");
        Frm_Main& w = harness.start();
        const int before = w.StatList->count();
        QTest::mouseClick(w.Btn_Con, Qt::LeftButton);
        const QString result = QStringList{w.connected() ? "yes" : "no", titles.join(','),
                                           TlsLines(w.StatList->lines().mid(before))}
                                   .join(' ');
        const QString name = QStringLiteral("%1 on %2").arg(row.encryption).arg(row.server->port());
        QVERIFY2(result == QString::fromUtf8(row.result), qPrintable(name + ": " + result));
        // A refused connection shows the usual message and nothing more.
        QCOMPARE(messages.texts.size(), w.connected() ? 0 : 1);
    }
}

QTEST_MAIN(HoldTest)
#include "tst_hold.moc"
