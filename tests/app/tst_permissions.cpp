// The permissions dialog driven through its check boxes and buttons, with the command it
// sends recorded, and against a real FTP server.

#include "dialogs/Dialogs.h"
#include "dialogs/Modal.h"
#include "ftp/RemoteDir.h"
#include "ftp/Session.h"
#include "support/DialogDriver.h"
#include "support/FtpServers.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <sys/stat.h>

using namespace oxlip;
using test::MessageRecorder;

namespace {

// Stands in for the connection: keeps every command and answers with a fixed code.
struct CommandRecorder {
    std::vector<std::string> sent;
    int answer = 200;
    void attach(Frm_Pms& dlg) {
        dlg.sendCommand = [this](const std::string& command) {
            sent.push_back(command);
            return answer;
        };
    }
};

// The boxes of one group as "rwx" with "-" for an unchecked box.
QString Marks(QCheckBox* const boxes[3]) {
    QString marks;
    const char letters[] = "rwx";
    for (int i = 0; i < 3; ++i) {
        marks += boxes[i]->isChecked() ? QLatin1Char(letters[i]) : QLatin1Char('-');
    }
    return marks;
}

QString Shown(const Frm_Pms& dlg) {
    return Marks(dlg.chk_own) + Marks(dlg.chk_grp) + Marks(dlg.chk_usr) + " " +
           dlg.lbl_own->text() + dlg.lbl_grp->text() + dlg.lbl_usr->text();
}

} // namespace

class TestPermissions : public QObject {
    Q_OBJECT
private slots:
    void opensWithTheGivenDigits_data();
    void opensWithTheGivenDigits();
    void digitsFollowTheBoxes();
    void okSendsTheCommand();
    void cancelEscapeAndCloseBox();
    void refusedNamesAndRejectedCommands();
    void changesModeOnRealServer();
};

void TestPermissions::opensWithTheGivenDigits_data() {
    QTest::addColumn<QString>("pms");
    QTest::addColumn<QString>("shown");
    QTest::newRow("755") << "755"
                         << "rwxr-xr-x 755";
    QTest::newRow("000") << "000"
                         << "--------- 000";
    QTest::newRow("640 and a blank") << "640 "
                                     << "rw-r----- 640";
    QTest::newRow("longer text") << "7124"
                                 << "rwx--x-w- 712";
    QTest::newRow("empty") << ""
                           << "--------- 000";
    QTest::newRow("two digits") << "75"
                                << "--------- 000";
    QTest::newRow("letter") << "7a5"
                            << "--------- 000";
    QTest::newRow("not octal") << "758"
                               << "--------- 000";
    QTest::newRow("letters") << "rwxr-xr-x"
                             << "--------- 000";
}

void TestPermissions::opensWithTheGivenDigits() {
    QFETCH(QString, pms);
    QFETCH(QString, shown);
    Frm_Pms dlg(nullptr, QStringLiteral("index.html"), pms);
    QCOMPARE(dlg.windowTitle(), QStringLiteral("パーミッションの変更"));
    QCOMPARE(dlg.txt_name->text(), QStringLiteral("index.html"));
    QCOMPARE(Shown(dlg), shown);
    QCOMPARE(dlg.strPms, pms); // untouched until OK
    QCOMPARE(dlg.chk_grp[0]->text(), QStringLiteral("読み取り許可 ( &4 )"));
    QCOMPARE(dlg.chk_grp[1]->text(), QStringLiteral("書き込み許可 ( &2 )"));
    QCOMPARE(dlg.chk_grp[2]->text(), QStringLiteral("実行許可 ( &1 )"));
}

void TestPermissions::digitsFollowTheBoxes() {
    Frm_Pms dlg(nullptr, QStringLiteral("index.html"), QStringLiteral("755"));
    QVERIFY(test::ShowAndWait(&dlg));
    test::ClickButton(dlg.chk_own[1]);
    QCOMPARE(Shown(dlg), QStringLiteral("r-xr-xr-x 555"));
    test::ClickButton(dlg.chk_usr[2]);
    test::ClickButton(dlg.chk_grp[1]);
    QCOMPARE(Shown(dlg), QStringLiteral("r-xrwxr-- 574"));
    // A box set by the program recomputes its group like a click.
    dlg.chk_usr[0]->setChecked(false);
    dlg.chk_own[1]->setChecked(true);
    QCOMPARE(Shown(dlg), QStringLiteral("rwxrwx--- 770"));
}

void TestPermissions::okSendsTheCommand() {
    CommandRecorder server;
    {
        Frm_Pms dlg(nullptr, QStringLiteral("index.html"), QStringLiteral("755"));
        server.attach(dlg);
        QVERIFY(test::ShowAndWait(&dlg));
        test::ClickButton(dlg.cmd_ok);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(dlg.strFilename, QStringLiteral("index.html"));
        QCOMPARE(dlg.strPms, QStringLiteral("755 "));
    }
    Frm_Pms dlg(nullptr, QStringLiteral("my page.html"), QStringLiteral("755"));
    server.attach(dlg);
    QVERIFY(test::ShowAndWait(&dlg));
    test::ClickButton(dlg.chk_own[2]);
    test::ClickButton(dlg.chk_grp[2]);
    test::ClickButton(dlg.chk_usr[2]);
    dlg.txt_name->setText(QStringLiteral("other.html")); // the box is not what is sent
    QTest::keyClick(&dlg, Qt::Key_Return);               // OK is the default button
    QCOMPARE(dlg.strPms, QStringLiteral("644 "));
    QCOMPARE(dlg.strFilename, QStringLiteral("my page.html"));
    QCOMPARE(server.sent, (std::vector<std::string>{"SITE CHMOD 755 index.html\r",
                                                    "SITE CHMOD 644 my page.html\r"}));
}

void TestPermissions::cancelEscapeAndCloseBox() {
    CommandRecorder server;
    {
        Frm_Pms dlg(nullptr, QStringLiteral("a.txt"), QStringLiteral("644"));
        server.attach(dlg);
        QVERIFY(test::ShowAndWait(&dlg));
        test::ClickButton(dlg.chk_own[2]);
        test::ClickButton(dlg.cmd_cancel);
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QVERIFY(dlg.strFilename.isEmpty());
        QCOMPARE(dlg.strPms, QStringLiteral("644"));
    }
    {
        Frm_Pms dlg(nullptr, QStringLiteral("a.txt"), QStringLiteral("644"));
        server.attach(dlg);
        QVERIFY(test::ShowAndWait(&dlg));
        QTest::keyClick(&dlg, Qt::Key_Escape);
        QVERIFY(!dlg.isVisible());
        QVERIFY(dlg.strFilename.isEmpty());
    }
    // The close box sends nothing but leaves the name: the caller keeps the old digits.
    Frm_Pms dlg(nullptr, QStringLiteral("a.txt"), QStringLiteral("644"));
    server.attach(dlg);
    QVERIFY(test::ShowAndWait(&dlg));
    test::ClickButton(dlg.chk_own[2]);
    dlg.close();
    QVERIFY(!dlg.isVisible());
    QCOMPARE(dlg.strFilename, QStringLiteral("a.txt"));
    QCOMPARE(dlg.strPms, QStringLiteral("644"));
    QVERIFY(server.sent.empty());
}

void TestPermissions::refusedNamesAndRejectedCommands() {
    MessageRecorder messages;
    CommandRecorder server;
    for (const QString& name :
         {QStringLiteral("a\r\nDELE b"), QStringLiteral("a\nb"), QStringLiteral("a\rb")}) {
        Frm_Pms dlg(nullptr, name, QStringLiteral("644"));
        server.attach(dlg);
        QVERIFY(test::ShowAndWait(&dlg));
        test::ClickButton(dlg.cmd_ok);
        QVERIFY(!dlg.isVisible());
        QVERIFY(dlg.strFilename.isEmpty());
        QCOMPARE(dlg.strPms, QStringLiteral("644"));
    }
    QVERIFY(server.sent.empty());
    QCOMPARE(messages.shown.size(), size_t(3));
    QCOMPARE(messages.shown[0].icon, ui::MsgIcon::Critical);

    // A command the server refuses changed nothing: the caller is told as by Cancel.
    server.answer = 0;
    Frm_Pms dlg(nullptr, QStringLiteral("locked.txt"), QStringLiteral("600"));
    server.attach(dlg);
    QVERIFY(test::ShowAndWait(&dlg));
    test::ClickButton(dlg.chk_grp[0]);
    test::ClickButton(dlg.cmd_ok);
    QCOMPARE(server.sent, std::vector<std::string>{"SITE CHMOD 640 locked.txt\r"});
    QVERIFY(dlg.strFilename.isEmpty());
    QCOMPARE(dlg.strPms, QStringLiteral("600"));
    QCOMPARE(messages.shown.size(), size_t(4));
    QCOMPARE(messages.shown.back().text, QStringLiteral("パーミッションの変更に失敗しました"));
}

void TestPermissions::changesModeOnRealServer() {
    std::string why;
    if (!test::CanRunServer(test::ServerKind::Pyftpdlib, &why)) {
        QSKIP(why.c_str());
    }
    test::FtpServer server(test::ServerKind::Pyftpdlib);
    QVERIFY2(server.ok(), server.error().c_str());
    server.writeFile("index.html", "<html></html>\n");
    ::chmod(server.path("index.html").c_str(), 0644);
    std::unique_ptr<FtpClient> hFtp =
        OpenSession("test", server.server(), server.user(), server.password(), SessionPorts{});
    QVERIFY(hFtp);
    auto hostMode = [&]() -> uint32_t {
        std::vector<DirEntry> list;
        ListHostFolder(hFtp.get(), list, "*.*");
        for (const DirEntry& entry : list) {
            if (entry.cFileName == "index.html") {
                return entry.dwReserved0;
            }
        }
        return 0xFFFF;
    };
    QCOMPARE(hostMode(), uint32_t(0x644));

    {
        Frm_Pms dlg(hFtp.get(), QStringLiteral("index.html"), QStringLiteral("644"));
        QVERIFY(test::ShowAndWait(&dlg));
        test::ClickButton(dlg.chk_own[2]);
        test::ClickButton(dlg.chk_grp[2]);
        test::ClickButton(dlg.chk_usr[2]);
        test::ClickButton(dlg.cmd_ok);
        QCOMPARE(dlg.strFilename, QStringLiteral("index.html"));
        QCOMPARE(dlg.strPms, QStringLiteral("755 "));
    }
    QCOMPARE(hostMode(), uint32_t(0x755));
    struct stat st {};
    QCOMPARE(::stat(server.path("index.html").c_str(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0755));

    Frm_Pms cancelled(hFtp.get(), QStringLiteral("index.html"), QStringLiteral("755"));
    QVERIFY(test::ShowAndWait(&cancelled));
    test::ClickButton(cancelled.chk_own[0]);
    test::ClickButton(cancelled.cmd_cancel);
    QCOMPARE(hostMode(), uint32_t(0x755));
    CloseSession(hFtp);
}

QTEST_MAIN(TestPermissions)
#include "tst_permissions.moc"
