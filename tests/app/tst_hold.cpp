// The window's connection with the profile's options against real servers: encryption,
// cancel from the progress window, keep-alive and reconnect.

#include "app/ProfileConnection.h"
#include "dialogs/Frm_Cert.h"
#include "settings/TrustStore.h"
#include "support/WindowTestSupport.h"

#include <random>
#include <sys/stat.h>

using namespace oxlip;
using namespace Qt::StringLiterals;
using namespace oxlip::test;

namespace {

// The log's TLS lines, with the protocol and the cipher left out.
QString TlsLines(const QStringList& lines) {
    QStringList out;
    for (const QString& line : lines) {
        if (line.endsWith(u") で暗号化しました"_s)) {
            out << u"encrypted"_s;
        } else if (line.contains(u"暗号化せずに接続しました"_s)) {
            out << u"fell back"_s;
        }
    }
    return out.join(',');
}

// The profile "S" for a server, with more User.ini lines.
Frm_Main& StartWindow(WindowHarness& harness, const std::string& server, const std::string& user,
                      const std::string& password, const std::string& more) {
    harness.writeFtpIni("[Oxlip]\nUser=S\nListCache=True\n");
    harness.writeUserIni("[S]\nServer=" + server + "\nUserName=" + user +
                         "\nPassWord=" + ScramblePassword(password) + "\nDir=/\n" + more);
    return harness.start();
}

const QString kReconnected = u"接続が切れたため、再接続します。"_s;

// vsftpd with FTPS required (it keeps a protocol log then), and a window connected to it whose
// certificate questions are answered 接続する (this time only) and counted; the permissions
// dialog takes read away from others.
struct SecureWindow {
    explicit SecureWindow(int idleSeconds = 600)
        : server(ServerKind::Vsftpd, ServerTls{true, false, certs.server(CertKind::Good)}, 0,
                 idleSeconds) {
        dialogs.hook = [this](QDialog* dialog) {
            if (auto* cert = qobject_cast<Frm_Cert*>(dialog); cert && cert->Btn[0]) {
                ++asked;
                cert->Btn[0]->click();
            } else if (auto* pms = qobject_cast<Frm_Pms*>(dialog)) {
                pms->othersBoxes[0]->click(); // 644 to 640
                pms->cmd_ok_Click();
            }
            return dialog->result();
        };
    }
    bool ok() const { return certs.ok() && server.ok(); }
    // Starts the window and connects; false when it could not.
    bool connect() {
        w = &StartWindow(harness, server.server(), server.user(), server.password(),
                         "Encryption=" + std::to_string(EncryptRequired) + "\nKeepAlive=0\n");
        return Toggle(*w);
    }
    std::string traffic(size_t from) const { return server.protocolLog().substr(from); }

    TestCerts certs;
    FtpServer server;
    WindowHarness harness;
    MessageScript messages;
    DialogRecorder dialogs;
    int asked = 0;
    Frm_Main* w = nullptr;
};

void RefreshHostPane(Frm_Main& w) {
    View(w, kHostPane)->currentView()->setFocus();
    QTest::keyClick(View(w, kHostPane)->currentView(), Qt::Key_F5);
}

} // namespace

class HoldTest : public QObject {
    Q_OBJECT

private slots:
    void connectsWithTheProfilesEncryption();
    void cancelStopsADownload();
    void keepAliveHoldsAnIdleConnection();
    void lostConnectionReconnectsOnce();
    void downloadResumesAKeptPartialFile();
    void reconnectReturnsToThePanesFolder();
};

void HoldTest::connectsWithTheProfilesEncryption() {
    SKIP_WITHOUT_SERVER(ServerKind::Pyftpdlib);
    TestCerts certs;
    QVERIFY(certs.ok());
    const CertFiles selfSigned = certs.server(CertKind::SelfSigned);
    FtpServer plain(ServerKind::Pyftpdlib);
    FtpServer explicitTls(ServerKind::Pyftpdlib, ServerTls{true, false, selfSigned});
    FtpServer implicitTls(ServerKind::Pyftpdlib, ServerTls{true, true, selfSigned});
    for (const FtpServer* server : {&plain, &explicitTls, &implicitTls}) {
        QVERIFY2(server->ok(), server->error().c_str());
    }
    // pinned: another certificate is trusted; result: connected, dialog titles, TLS lines.
    const struct {
        const FtpServer* server;
        int encryption;
        bool pinned;
        const char* result;
    } rows[] = {
        {&explicitTls, EncryptIfAvailable, false, "yes 証明書の確認 encrypted"},
        {&implicitTls, EncryptImplicit, false, "yes 証明書の確認 encrypted"},
        {&explicitTls, EncryptRequired, true, "no 証明書の警告 "},
        {&plain, EncryptIfAvailable, false, "yes  fell back"},
        {&plain, EncryptRequired, false, "no  "},
        {&plain, EncryptNone, false, "yes  "},
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
        if (row.pinned) {
            TrustStore(TrustFilePath(*harness.settings))
                .trust(ftp::HostPortKey("127.0.0.1", row.server->port()), "00:11");
        }
        Frm_Main& w =
            StartWindow(harness, row.server->server(), row.server->user(), row.server->password(),
                        "Encryption=" + std::to_string(row.encryption) + "\n");
        const int before = Log(w)->count();
        QTest::mouseClick(ConnectButton(w), Qt::LeftButton);
        const QString result = QStringList{w.connected() ? "yes" : "no", titles.join(','),
                                           TlsLines(Log(w)->lines().mid(before))}
                                   .join(' ');
        const QString name = u"%1 on %2"_s.arg(row.encryption).arg(row.server->port());
        QVERIFY2(result == QString::fromUtf8(row.result), qPrintable(name + ": " + result));
        QCOMPARE(messages.texts.size(), w.connected() ? 0 : 1);
    }
}

void HoldTest::cancelStopsADownload() {
    // Cancelled while the big file moves: the next item is not fetched, the big one is either
    // not replaced or whole, no error box, and the window goes on working.
    SKIP_WITHOUT_SERVER(ServerKind::Pyftpdlib);
    FtpServer server(ServerKind::Pyftpdlib);
    QVERIFY2(server.ok(), server.error().c_str());
    const size_t bigSize = 96u << 20;
    server.writeFile("big.bin", std::string(bigSize, 'n'));
    server.writeFile("next.txt", "new");
    for (const bool escape : {false, true}) {
        WindowHarness harness;
        MessageScript messages;
        WriteFileBytes(harness.local("big.bin"), "old big");
        WriteFileBytes(harness.local("next.txt"), "old");
        Frm_Main& w = StartWindow(harness, server.server(), server.user(), server.password(), "");
        QVERIFY(Toggle(w));
        ClickItem(View(w, kHostPane), "big.bin");
        ClickItem(View(w, kHostPane), "next.txt", Qt::ControlModifier);
        DuringCommand(
            w, [&w] { return ShownProgress(w) && ShownProgress(w)->Prog->filledWidth() > 0; },
            [&w, escape] {
                escape ? QTest::keyClick(ShownProgress(w), Qt::Key_Escape)
                       : QTest::mouseClick(ShownProgress(w)->Btn_Cancel, Qt::LeftButton);
            });
        QTest::mouseClick(TransferButton(w, 1), Qt::LeftButton);
        const QStringList log = Log(w)->lines();
        QVERIFY2(log.size() > 2 &&
                     log[log.size() - 2].startsWith(u"ダウンロードをキャンセルしました（2 個中 "_s),
                 qPrintable(log.join('\n')));
        QVERIFY(messages.texts.isEmpty());
        QCOMPARE(ReadFileBytes(harness.local("next.txt")), std::string("old"));
        const std::string big = ReadFileBytes(harness.local("big.bin"));
        QVERIFY(big == "old big" || big.size() == bigSize);
        QVERIFY(!w.busy() && w.connected() && TransferButton(w, 1)->isEnabled());
        ClickItem(View(w, kHostPane), "next.txt");
        QTest::mouseClick(TransferButton(w, 1), Qt::LeftButton);
        QCOMPARE(ReadFileBytes(harness.local("next.txt")), std::string("new"));
    }
}

void HoldTest::keepAliveHoldsAnIdleConnection() {
    // The server drops a connection idle for 1.5 s; NOOP every second keeps it.
    HostileServer server("idle-drop");
    QVERIFY(server.ok());
    WindowHarness harness;
    MessageScript messages;
    Frm_Main& w =
        StartWindow(harness, server.server(), server.user(), server.password(), "KeepAlive=1\n");
    QVERIFY(Toggle(w));
    QTest::qWait(3500);
    const int before = Log(w)->count();
    RefreshHostPane(w);
    const QStringList names = PaneNames(View(w, kHostPane));
    QVERIFY(names.contains("data.bin") && names.contains("hello.txt"));
    QCOMPARE(Log(w)->lines().mid(before), QStringList());
    QVERIFY(messages.texts.isEmpty());

    // Never while a command runs: with its question open for 2.5 s, the server drops the
    // connection and the next command reconnects.
    ui::SetMessageResponder([](const QString&, ui::MsgIcon, ui::MsgButtons) {
        QTest::qWait(2500);
        return ui::MsgResult::No;
    });
    ClickItem(View(w, kHostPane), "hello.txt");
    Action(w, "m_DelFile")->trigger();
    QTest::keyClick(View(w, kHostPane)->currentView(), Qt::Key_F5);
    QCOMPARE(Log(w)->lines().mid(before).count(kReconnected), 1);
}

void HoldTest::lostConnectionReconnectsOnce() {
    // Dropped while idle: the command (a listing, an upload, a delete) reconnects, runs again and
    // succeeds; the delete's question is not asked again for the second run. A server gone for
    // good ends disconnected with the usual message.
    enum Step { Refresh, Upload, Delete, ServerGone };
    for (const Step action : {Refresh, Upload, Delete, ServerGone}) {
        auto server = std::make_unique<HostileServer>("idle-drop");
        QVERIFY(server->ok());
        const std::string address = server->server();
        WindowHarness harness;
        MessageScript messages;
        MakeFile(harness.local("up.bin"), 5000);
        Frm_Main& w =
            StartWindow(harness, address, server->user(), server->password(), "KeepAlive=0\n");
        QVERIFY(Toggle(w));
        if (action == ServerGone) {
            server.reset();
        } else {
            QTest::qWait(2000);
        }
        const int before = Log(w)->count();
        if (action == Upload) {
            ClickItem(View(w, kLocalPane), "up.bin");
            QTest::mouseClick(TransferButton(w, 0), Qt::LeftButton);
            QCOMPARE(Log(w)->lines().mid(before).filter(u"完了"_s),
                     QStringList{u"アップロード完了"_s});
        } else if (action == Delete) {
            ClickItem(View(w, kHostPane), "hello.txt");
            Action(w, "m_DelFile")->trigger();
            QCOMPARE(messages.texts.size(), 1); // answered Yes once
            messages.texts.clear();
        } else {
            RefreshHostPane(w);
        }
        const QStringList log = Log(w)->lines().mid(before);
        QCOMPARE(log.count(kReconnected), 1);
        if (action == ServerGone) {
            QCOMPARE(messages.texts,
                     QStringList{QString::fromStdString(address) + u" へ接続出来ませんでした"_s});
            QVERIFY(!w.connected() && ConnectButton(w)->text() == u"接続"_s);
        } else {
            QVERIFY2(messages.texts.isEmpty(), qPrintable(messages.texts.join('\n')));
            QVERIFY(w.connected());
            const QStringList names = PaneNames(View(w, kHostPane));
            QVERIFY(names.contains("hello.txt") == (action != Delete) &&
                    names.contains("up.bin") == (action == Upload));
        }
    }
}

void HoldTest::downloadResumesAKeptPartialFile() {
    // A download cancelled part way keeps what arrived; the next download of the file goes on
    // from there (REST) and ends byte-identical.
    SKIP_WITHOUT_SERVER(ServerKind::Vsftpd);
    SecureWindow s;
    QVERIFY2(s.ok(), s.server.error().c_str());
    std::mt19937_64 random(std::random_device{}());
    const std::string data = RandomBytes(size_t(64) << 20, unsigned(random()));
    s.server.writeFile("r.bin", data);
    QVERIFY(s.connect());
    Frm_Main& w = *s.w;
    const std::string partial = s.harness.local(".r.bin.oxlip-part");
    const auto keptBytes = [&partial] {
        struct stat kept {};
        return ::stat(partial.c_str(), &kept) == 0 ? int64_t(kept.st_size) : int64_t(-1);
    };
    const int64_t cutAt = (int64_t(4) << 20) + int64_t(random() % (int64_t(24) << 20));
    DuringCommand(
        w, [&] { return ShownProgress(w) && keptBytes() >= cutAt; },
        [&w] { QTest::mouseClick(ShownProgress(w)->Btn_Cancel, Qt::LeftButton); });
    ClickItem(View(w, kHostPane), "r.bin");
    QTest::mouseClick(TransferButton(w, 1), Qt::LeftButton);
    const int64_t kept = keptBytes();
    QVERIFY2(kept >= cutAt && kept < int64_t(data.size()), qPrintable(QString::number(kept)));
    QVERIFY(ReadFileBytes(s.harness.local("r.bin")).empty());
    const size_t logged = s.server.protocolLog().size();
    ClickItem(View(w, kHostPane), "r.bin");
    QTest::mouseClick(TransferButton(w, 1), Qt::LeftButton);
    QVERIFY(ReadFileBytes(s.harness.local("r.bin")) == data);
    QCOMPARE(keptBytes(), int64_t(-1));
    const std::string traffic = s.traffic(logged);
    QVERIFY2(traffic.find("\"REST " + std::to_string(kept) + "\"") != std::string::npos,
             traffic.c_str());
    QVERIFY(s.messages.texts.isEmpty());
}

void HoldTest::reconnectReturnsToThePanesFolder() {
    // vsftpd drops the session idle for 2 s. The permissions dialog's command reconnects without
    // asking about the certificate let through "this time only", makes the folder the host pane
    // showed current again and goes through, the dialog asked once and no failure told; the
    // pane lists the same folder. A new connection asks about the certificate again.
    SKIP_WITHOUT_SERVER(ServerKind::Vsftpd);
    SecureWindow s(2);
    QVERIFY2(s.ok(), s.server.error().c_str());
    s.server.writeFile("top.txt", "top");
    s.server.makeDir("sub");
    s.server.writeFile("sub/inner.txt", "inner");
    std::filesystem::permissions(s.server.path("sub/inner.txt"), std::filesystem::perms(0644));
    QVERIFY(s.connect());
    Frm_Main& w = *s.w;
    QVERIFY(w.SetHostPath("/sub") && w.ShowHostFolder("/sub"));
    QCOMPARE(PaneNames(View(w, kHostPane)), QStringList{"inner.txt"});
    QTest::qWait(3500);
    const size_t logged = s.server.protocolLog().size();
    const int before = Log(w)->count();
    ClickItem(View(w, kHostPane), "inner.txt");
    Action(w, "m_Permision")->trigger();
    QCOMPARE(Log(w)->lines().mid(before).count(kReconnected), 1);
    QCOMPARE(s.dialogs.classNames.count("oxlip::Frm_Pms"), 1);
    QVERIFY2(s.messages.texts.isEmpty(), qPrintable(s.messages.texts.join('\n')));
    QCOMPARE(s.asked, 1);
    QCOMPARE(ModeOf(s.server.path("sub/inner.txt")), 0640);
    const std::string traffic = s.traffic(logged);
    QVERIFY2(traffic.find("\"CWD /sub\"") != std::string::npos, traffic.c_str());
    RefreshHostPane(w);
    QCOMPARE(w.ShownFolder(kHostPane), std::string("/sub"));
    QCOMPARE(PaneNames(View(w, kHostPane)), QStringList{"inner.txt"});
    QVERIFY(!Toggle(w));
    QVERIFY(Toggle(w));
    QCOMPARE(s.asked, 2);
}

QTEST_MAIN(HoldTest)
#include "tst_hold.moc"
