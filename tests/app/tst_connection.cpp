// The main window against a real FTP server on loopback: connecting, the host pane and its
// navigation, disconnecting, failures and closing while connected.

#include "app/Frm_Main.h"
#include "app/PaneView.h"
#include "settings/Settings.h"
#include "support/FtpServers.h"
#include "support/WindowTestSupport.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

using namespace oxlip;
using namespace oxlip::test;

namespace {

const QString kSeparator38(38, QLatin1Char('-'));

QStringList LastLines(const Frm_Main& w, int n) {
    const QStringList lines = Log(w)->lines();
    return lines.mid(std::max<qsizetype>(0, lines.size() - n));
}

} // namespace

class ConnectionTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void connectNavigateAndDisconnect();
    void upStopsAtTheStartFolderAndAnEmptyOneIsTheLoginFolder();
    void failedConnects();
    void secondConnectIgnoredAndClosingAsks();
    void closingStaysBusyWhileQuitIsAwaited();

private:
    // A window whose profile "S" points at the server, with the given start folder.
    Frm_Main& startWindow(const std::string& dir, const std::string& password = "");
    void connect(Frm_Main& w);
    // The log lines of a connection up to the password check.
    QStringList loginLog() const {
        return {"ホスト　" + Q(server_->server()) + "に接続しています。", "接続しました。",
                "パスワード確認中"};
    }

    std::unique_ptr<FtpServer> server_;
    std::unique_ptr<WindowHarness> harness_;
    std::unique_ptr<MessageScript> messages_;
};

void ConnectionTest::init() {
    if (!StartServerAndWindow(server_, harness_, messages_)) {
        return;
    }
    server_->makeDir("pub/sub");
    server_->writeFile("pub/sub/x.txt", "hello\n");
    server_->writeFile("pub/readme.txt", "read me\n");
    server_->makeDir("pub/日本語フォルダ");
    server_->writeFile("top.bin", std::string(3000, 'b'));
}

void ConnectionTest::cleanup() {
    harness_.reset();
    messages_.reset();
    server_.reset();
}

Frm_Main& ConnectionTest::startWindow(const std::string& dir, const std::string& password) {
    harness_->writeServerProfile(*server_, dir, password.empty() ? server_->password() : password);
    return harness_->start();
}

void ConnectionTest::connect(Frm_Main& w) {
    QTest::mouseClick(ConnectButton(w), Qt::LeftButton);
    QVERIFY(w.connected());
}

void ConnectionTest::connectNavigateAndDisconnect() {
    Frm_Main& w = startWindow("/pub/");
    const int before = Log(w)->count();
    connect(w);

    QCOMPARE(Log(w)->lines().mid(before),
             loginLog() +
                 QStringList({"サーバが暗号化に対応していないため、暗号化せずに接続しました。",
                              "パスワード確認しました。", kSeparator38}));
    QCOMPARE(ControlState(w), kConnectedState);

    QCOMPARE(ItemTexts(PathBox(w, 1)), (QStringList{"/pub/", "/"}));
    QCOMPARE(PathBox(w, 1)->currentText(), QStringLiteral("/pub/"));
    QCOMPARE(PaneNames(View(w, 1)), (QStringList{"readme.txt", "sub", "日本語フォルダ"}));
    QCOMPARE(Q(harness_->settings->profile.LastPathHost), QStringLiteral("/pub/"));

    View(w, 1)->currentView()->setFocus();
    QCOMPARE(w.ActivePane, 1);
    QCOMPARE(Look(*ToolbarPair(w, "imgMakeButton")) + " " + Look(*ToolbarPair(w, "imgDelButton")),
             QStringLiteral("0ee 0ee"));
    QCOMPARE(EditMenuState(w, 1), QStringLiteral("11111"));

    // Typed paths; a folder that cannot be entered leaves the pane empty, the connection
    // usable; F5 lists again.
    TypePath(PathBox(w, 1), QStringLiteral("/pub/sub"));
    QCOMPARE(ItemTexts(PathBox(w, 1)), (QStringList{"/pub/sub", "/pub/", "/"}));
    QCOMPARE(PaneNames(View(w, 1)), QStringList{"x.txt"});
    TypePath(PathBox(w, 1), QStringLiteral("/nowhere/"));
    QCOMPARE(View(w, 1)->count(), 0);
    QVERIFY(w.connected());
    TypePath(PathBox(w, 1), QStringLiteral("/pub/日本語フォルダ/"));
    QCOMPARE(View(w, 1)->count(), 0);
    QCOMPARE(ItemTexts(PathBox(w, 1)).size(), 3);
    TypePath(PathBox(w, 1), QStringLiteral("/pub/sub/"));
    server_->writeFile("pub/sub/new.txt", "n");
    View(w, 1)->currentView()->setFocus();
    QTest::keyClick(View(w, 1)->currentView(), Qt::Key_F5);
    QCOMPARE(PaneNames(View(w, 1)), (QStringList{"new.txt", "x.txt"}));
    TypePath(PathBox(w, 1), QStringLiteral("/pub/"));

    // Disconnect: the log lines, the state back, the host listing and path kept.
    QTest::mouseClick(ConnectButton(w), Qt::LeftButton);
    QVERIFY(!w.connected());
    QCOMPARE(LastLines(w, 3), (QStringList{"切断中", "切断しました。", kSeparator38}));
    QCOMPARE(ControlState(w), kDisconnectedState);
    QCOMPARE(PaneNames(View(w, 1)), (QStringList{"readme.txt", "sub", "日本語フォルダ"}));
    QCOMPARE(PathBox(w, 1)->currentText(), QStringLiteral("/pub/"));
    QVERIFY(messages_->texts.isEmpty());

    // Nothing in the disconnected pane moves it or clears the listing it keeps.
    QAbstractItemView* view = View(w, 1)->currentView();
    const std::function<void()> tries[] = {
        [view]() { QTest::keyClick(view, Qt::Key_F5); },
        [view]() { QTest::keyClick(view, Qt::Key_Backspace); },
        [&w]() { DoubleClickItem(View(w, 1), "sub"); },
        [&w]() { QTest::mouseClick(UpButton(w, 1), Qt::LeftButton); },
        [&w]() { TypePath(PathBox(w, 1), QStringLiteral("/pub/sub/")); },
    };
    for (const auto& attempt : tries) {
        view->setFocus();
        attempt();
        QCOMPARE(PaneNames(View(w, 1)), (QStringList{"readme.txt", "sub", "日本語フォルダ"}));
        QCOMPARE(PathBox(w, 1)->currentText(), QStringLiteral("/pub/"));
    }

    // Reconnecting through the menu works the same.
    Action(w, "m_Connect")->trigger();
    QVERIFY(w.connected());
    Action(w, "m_Disconnect")->trigger();
    QVERIFY(!w.connected());
}

void ConnectionTest::upStopsAtTheStartFolderAndAnEmptyOneIsTheLoginFolder() {
    Frm_Main& w = startWindow("/pub"); // written without its final "/"
    connect(w);
    QCOMPARE(ItemTexts(PathBox(w, 1)), (QStringList{"/pub", "/"}));

    QTest::mouseClick(UpButton(w, 1), Qt::LeftButton); // refused right after connecting
    QCOMPARE(PathBox(w, 1)->currentText(), QStringLiteral("/pub"));
    QVERIFY(UpButton(w, 1)->isEnabled());

    DoubleClickItem(View(w, 1), "sub");
    QCOMPARE(ItemTexts(PathBox(w, 1)), (QStringList{"/pub/sub/", "/pub/", "/"}));
    QCOMPARE(PaneNames(View(w, 1)), QStringList{"x.txt"});

    QTest::mouseClick(UpButton(w, 1), Qt::LeftButton);
    QCOMPARE(PathBox(w, 1)->currentText(), QStringLiteral("/pub/"));
    // "/pub/" is not the text "/pub": Up goes on to the root; the chain is kept.
    View(w, 1)->currentView()->setFocus();
    QTest::keyClick(View(w, 1)->currentView(), Qt::Key_Backspace);
    QCOMPARE(PathBox(w, 1)->currentText(), QStringLiteral("/"));
    QCOMPARE(PaneNames(View(w, 1)), (QStringList{"pub", "top.bin"}));
    QCOMPARE(ItemTexts(PathBox(w, 1)), (QStringList{"/pub/sub/", "/pub/", "/"}));
    QTest::mouseClick(UpButton(w, 1), Qt::LeftButton); // the last entry: nothing happens
    QCOMPARE(PathBox(w, 1)->currentText(), QStringLiteral("/"));

    harness_->window.reset();
    Frm_Main& login = startWindow("");
    connect(login);
    QCOMPARE(ItemTexts(PathBox(login, 1)), QStringList{"/"});
    QCOMPARE(PaneNames(View(login, 1)), (QStringList{"pub", "top.bin"}));
}

void ConnectionTest::failedConnects() {
    Frm_Main& w = startWindow("/pub/", "wrong-password");
    const int before = Log(w)->count();
    QTest::mouseClick(ConnectButton(w), Qt::LeftButton);
    QVERIFY(!w.connected());
    QCOMPARE(messages_->texts,
             QStringList{Q(server_->server()) + QStringLiteral(" へ接続出来ませんでした")});
    QCOMPARE(Log(w)->lines().mid(before), loginLog());
    QCOMPARE(ControlState(w), kDisconnectedState);
    QCOMPARE(View(w, 1)->count(), 0);

    // No server at all: the same message without a name, and nothing logged.
    harness_->window.reset();
    harness_->writeUserIni("[S]\nServer=\n");
    Frm_Main& empty = harness_->start();
    const int lines = Log(empty)->count();
    QTest::mouseClick(ConnectButton(empty), Qt::LeftButton);
    QCOMPARE(messages_->texts.last(), QStringLiteral(" へ接続出来ませんでした"));
    QCOMPARE(Log(empty)->count(), lines);
    QVERIFY(!empty.connected());
}

void ConnectionTest::secondConnectIgnoredAndClosingAsks() {
    Frm_Main& w = startWindow("/pub/");
    // Queued now, run by the event pump while the first attempt waits on the server.
    int attempts = 0;
    QTimer::singleShot(0, &w, [&w, &attempts]() {
        ++attempts;
        QVERIFY(w.busy());
        Action(w, "m_Connect")->trigger();
        ToolbarPair(w, "imgConnecttButton")->element(0)->clicked();
    });
    connect(w);
    QCOMPARE(attempts, 1);
    QCOMPARE(Log(w)->lines().filter(QStringLiteral("に接続しています。")).size(), 1);
    QCOMPARE(ControlState(w), kConnectedState);

    // Closing while connected asks; No keeps the connection and saves nothing yet.
    messages_->answers.push_back(ui::MsgResult::No);
    QVERIFY(!w.close());
    QCOMPARE(messages_->texts,
             QStringList{Q(server_->server()) + QStringLiteral(" へ接続中ですが、切断しますか？")});
    QVERIFY(w.isVisible());
    QVERIFY(w.connected());
    QVERIFY(!QFile::exists(Q(harness_->settingsDir.file("Ftp.ini"))) ||
            !Q(ReadFileBytes(harness_->settingsDir.file("Ftp.ini"))).contains("Width="));

    messages_->answers.push_back(ui::MsgResult::Yes);
    QVERIFY(w.close());
    QVERIFY(!w.connected());
    QVERIFY(Q(ReadFileBytes(harness_->settingsDir.file("Ftp.ini"))).contains("Width="));
    QCOMPARE(messages_->texts.size(), 2);
}

void ConnectionTest::closingStaysBusyWhileQuitIsAwaited() {
    MisbehavingServer silent("silent-quit");
    QVERIFY(silent.ok());
    harness_->writeFtpIni("[Oxlip]\nUser=S\n");
    harness_->writeUserIni(
        "[S]\nServer=" + silent.server() + "\nUserName=" + MisbehavingServer::user() +
        "\nPassWord=" + ScramblePassword(MisbehavingServer::password()) + "\nDir=/\n");
    Frm_Main& w = harness_->start();
    connect(w);
    // While the window waits for the answer to QUIT, the user tries to disconnect.
    bool closing = false;
    int tries = 0;
    QTimer poke;
    QObject::connect(&poke, &QTimer::timeout, &w, [&]() {
        if (closing && tries++ < 3) {
            Action(w, "m_Disconnect")->trigger();
            QTest::mouseClick(ConnectButton(w), Qt::LeftButton);
        }
    });
    poke.start(20);
    closing = true;
    QVERIFY(w.close());
    QVERIFY(tries > 0);
    QVERIFY(!w.connected());
    QVERIFY(!Log(w)->lines().contains(QStringLiteral("切断中")));
}

QTEST_MAIN(ConnectionTest)
#include "tst_connection.moc"
