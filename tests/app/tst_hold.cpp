// The window's connection with the profile's options against real servers: encryption,
// cancel from the progress window, keep-alive and reconnect.

#include "app/ProfileConnection.h"
#include "dialogs/Frm_Cert.h"
#include "settings/TrustStore.h"
#include "support/WindowTestSupport.h"

using namespace oxlip;
using namespace Qt::StringLiterals;
using namespace oxlip::test;

namespace {

const QString kReconnected = u"接続が切れたため、再接続します。"_s;

// Certificate questions answered 接続する (this time only), dialog titles recorded.
struct Answered {
    Answered() {
        dialogs.hook = [this](QDialog* dialog) {
            titles << dialog->windowTitle();
            if (auto* cert = qobject_cast<Frm_Cert*>(dialog); cert && cert->Btn[0]) {
                cert->Btn[0]->click();
            } else if (auto* pms = qobject_cast<Frm_Pms*>(dialog)) {
                pms->othersBoxes[0]->click(); // 644 to 640
                pms->cmd_ok_Click();
            }
            return dialog->result();
        };
    }
    template <class Server> Frm_Main& connect(const Server& server, const std::string& more = "") {
        harness.writeServerProfile(server, "/", server.password(), more);
        Frm_Main& w = harness.start();
        QTest::mouseClick(ConnectButton(w), Qt::LeftButton);
        return w;
    }

    WindowHarness harness;
    MessageScript messages;
    DialogRecorder dialogs;
    QStringList titles;
};

} // namespace

class HoldTest : public QObject {
    Q_OBJECT

private slots:
    void connectsWithTheProfilesEncryption();
    void keepAliveAndReconnects();
    void cancelledDownloadsResumeAndReconnectsReturnToThePanesFolder();
};

void HoldTest::connectsWithTheProfilesEncryption() {
    SKIP_WITHOUT_SERVER(ServerKind::Pyftpdlib);
    TestCerts certs;
    const CertFiles selfSigned = certs.server(CertKind::SelfSigned);
    FtpServer plain(ServerKind::Pyftpdlib);
    FtpServer explicitTls(ServerKind::Pyftpdlib, ServerTls{true, false, selfSigned});
    FtpServer implicitTls(ServerKind::Pyftpdlib, ServerTls{true, true, selfSigned});
    // Connected, dialog titles, the log's lines "encrypted" and "connected without encryption";
    // pinned: the settings folder's trust file holds another certificate for the server.
    const struct {
        const FtpServer* server;
        int encryption;
        bool pinned;
        const char* result;
    } rows[] = {
        {&explicitTls, EncryptIfAvailable, false, "yes 証明書の確認 10"},
        {&implicitTls, EncryptImplicit, false, "yes 証明書の確認 10"},
        {&explicitTls, EncryptRequired, true, "no 証明書の警告 00"},
        {&plain, EncryptIfAvailable, false, "yes  01"},
        {&plain, EncryptRequired, false, "no  00"},
        {&plain, EncryptNone, false, "yes  00"},
    };
    for (const auto& row : rows) {
        Answered a;
        if (row.pinned) {
            TrustStore(TrustFilePath(Settings(a.harness.settingsDir.path())))
                .trust(ftp::HostPortKey("127.0.0.1", row.server->port()), "00:11");
        }
        Frm_Main& w = a.connect(*row.server, "Encryption=" + std::to_string(row.encryption));
        const QStringList log = Log(w)->lines();
        const QString result = u"%1 %2 %3%4"_s.arg(w.connected() ? "yes" : "no")
                                   .arg(a.titles.join(','))
                                   .arg(log.filter(u") で暗号化しました"_s).size())
                                   .arg(log.filter(u"暗号化せずに接続しました"_s).size());
        QVERIFY2(result == QString::fromUtf8(row.result), qPrintable(row.result + (" " + result)));
    }
}

void HoldTest::keepAliveAndReconnects() {
    // The server drops a connection idle for 1.5 s: an upload reconnects once and runs again.
    // NOOP every second holds it, not while the delete question is open: the delete reconnects
    // and runs again unasked. A server gone for good ends disconnected, told.
    auto server = std::make_unique<HostileServer>("idle-drop");
    const QString address = Q(server->server());
    Answered a;
    MakeFile(a.harness.local("up.bin"), 5000);
    Frm_Main& w = a.connect(*server);
    QTest::qWait(2000);
    int before = Log(w)->count();
    TransferFrom(w, kLocalPane, {"up.bin"});
    QCOMPARE(Log(w)->lines().mid(before).count(kReconnected), 1);
    QVERIFY(PaneNames(View(w, kHostPane)).contains("up.bin") && a.messages.texts.isEmpty());

    a.harness.settings->profile.KeepAlive = 1;
    QVERIFY(!Toggle(w));
    QVERIFY(Toggle(w));
    QTest::qWait(3500);
    before = Log(w)->count();
    View(w, kHostPane)->currentView()->setFocus();
    QTest::keyClick(View(w, kHostPane)->currentView(), Qt::Key_F5);
    QCOMPARE(Log(w)->lines().mid(before), QStringList());
    ui::SetMessageResponder([&a](const QString& text, ui::MsgIcon, ui::MsgButtons) {
        a.messages.texts << text;
        QTest::qWait(2500);
        return ui::MsgResult::Yes;
    });
    ClickItem(View(w, kHostPane), "hello.txt");
    Action(w, "m_DelFile")->trigger();
    QCOMPARE(Log(w)->lines().mid(before).count(kReconnected), 1);
    QVERIFY(!PaneNames(View(w, kHostPane)).contains("hello.txt"));
    server.reset();
    TransferFrom(w, kLocalPane, {"up.bin"});
    QCOMPARE(a.messages.texts,
             (QStringList{"選択したファイルを全て削除しますが\r\nよろしいですか？",
                          address + u" へ接続出来ませんでした"_s}));
    QVERIFY(!w.connected());
}

void HoldTest::cancelledDownloadsResumeAndReconnectsReturnToThePanesFolder() {
    // Downloads cancelled by Esc, then by the button: the next file not fetched, no error told;
    // the next download goes on from the part kept.
    SKIP_WITHOUT_SERVER(ServerKind::Vsftpd);
    TestCerts certs;
    // FTPS required: vsftpd keeps a protocol log then.
    FtpServer server(ServerKind::Vsftpd, ServerTls{true, false, certs.server(CertKind::Good)}, 0,
                     2);
    const auto sent = [&server](size_t from, const std::string& command) {
        return server.protocolLog().find("\"" + command + "\"", from) != std::string::npos;
    };
    server.writeFile("r.bin", std::string(size_t(64) << 20, 'r'));
    server.writeFile("s.txt", "s");
    server.makeDir("sub");
    server.writeFile("sub/inner.txt", "inner");
    std::filesystem::permissions(server.path("sub/inner.txt"), std::filesystem::perms(0644));
    Answered a;
    Frm_Main& w = a.connect(server, "Encryption=" + std::to_string(EncryptRequired));
    const std::string partial = a.harness.local(".r.bin.oxlip-part");
    const auto keptBytes = [&partial] {
        std::error_code ec;
        const uintmax_t size = std::filesystem::file_size(partial, ec);
        return ec ? uintmax_t(0) : size;
    };
    for (const bool escape : {true, false}) {
        const uintmax_t cutAt = keptBytes() + (uintmax_t(8) << 20);
        DuringCommand(
            w, [&] { return ShownProgress(w) && keptBytes() >= cutAt; },
            [&w, escape] {
                escape ? QTest::keyClick(ShownProgress(w), Qt::Key_Escape)
                       : QTest::mouseClick(ShownProgress(w)->Btn_Cancel, Qt::LeftButton);
            });
        TransferFrom(w, kHostPane, {"r.bin", "s.txt"});
        const QStringList log = Log(w)->lines();
        QVERIFY2(log[log.size() - 2].startsWith(u"ダウンロードをキャンセルしました（2 個中 "_s),
                 qPrintable(log.join('\n')));
    }
    QVERIFY(!std::filesystem::exists(a.harness.local("s.txt")) && a.messages.texts.isEmpty());
    size_t logged = server.protocolLog().size();
    const uintmax_t kept = keptBytes();
    TransferFrom(w, kHostPane, {"r.bin"});
    QVERIFY2(sent(logged, "REST " + std::to_string(kept)), server.protocolLog().c_str());

    // vsftpd drops the session idle in /sub for 2 s: the permissions command reconnects unasked
    // about the certificate, makes /sub current again, the dialog shown once. A new connection
    // asks again.
    QVERIFY(w.SetHostPath("/sub") && w.ShowHostFolder("/sub"));
    QTest::qWait(3500);
    logged = server.protocolLog().size();
    const int before = Log(w)->count();
    ClickItem(View(w, kHostPane), "inner.txt");
    Action(w, "m_Permision")->trigger();
    QCOMPARE(Log(w)->lines().mid(before).count(kReconnected), 1);
    QCOMPARE(a.dialogs.classNames, (QStringList{"oxlip::Frm_Cert", "oxlip::Frm_Pms"}));
    QCOMPARE(ModeOf(server.path("sub/inner.txt")), 0640);
    QVERIFY2(sent(logged, "CWD /sub"), server.protocolLog().c_str());
    QVERIFY(!Toggle(w));
    QVERIFY(Toggle(w));
    QCOMPARE(a.dialogs.classNames.count("oxlip::Frm_Cert"), 2);
}

QTEST_MAIN(HoldTest)
#include "tst_hold.moc"
