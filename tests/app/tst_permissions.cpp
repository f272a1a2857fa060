// The permissions dialog driven through its check boxes and buttons, with the command it
// sends recorded. tst_commands runs it against a real FTP server through the main window.

#include "dialogs/Dialogs.h"
#include "dialogs/Modal.h"
#include "support/DialogDriver.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <memory>

using namespace oxlip;
using test::MessageRecorder;

namespace {

// Stands in for the connection: keeps every command and answers with a fixed code.
struct CommandRecorder {
    std::vector<std::string> sent;
    int answer = 200;
};

// The dialog for one file, shown, its commands going to the recorder.
std::unique_ptr<Frm_Pms> Open(CommandRecorder& server, const QString& name, const QString& pms) {
    auto dlg = std::make_unique<Frm_Pms>(nullptr, name, pms);
    dlg->sendCommand = [&server](const std::string& command) {
        server.sent.push_back(command);
        return server.answer;
    };
    if (!test::ShowAndWait(dlg.get())) {
        qWarning("the dialog did not show");
    }
    return dlg;
}

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
    void opensWithTheGivenDigits();
    void digitsFollowTheBoxes();
    void okSendsTheCommand();
    void cancelEscapeAndCloseBox();
    void refusedNamesAndRejectedCommands();
};

void TestPermissions::opensWithTheGivenDigits() {
    // Three octal digits (a blank or more text may follow), or fewer as the host pane shows
    // a mode with leading zeros; anything else shows 000.
    const std::pair<QString, QString> cases[] = {
        {"755", "rwxr-xr-x 755"},  {"000", "--------- 000"}, {"640 ", "rw-r----- 640"},
        {"7124", "rwx--x-w- 712"}, {"", "--------- 000"},    {"75", "---rwxr-x 075"},
        {"44", "---r--r-- 044"},   {" 5 ", "------r-x 005"}, {"0", "--------- 000"},
        {"7a5", "--------- 000"},  {"758", "--------- 000"}, {"rwxr-xr-x", "--------- 000"},
    };
    for (const auto& [pms, shown] : cases) {
        Frm_Pms dlg(nullptr, QStringLiteral("index.html"), pms);
        QVERIFY2(Shown(dlg) == shown, qPrintable(pms + " shows " + Shown(dlg)));
        QCOMPARE(dlg.strPms, pms); // untouched until OK
    }
    Frm_Pms dlg(nullptr, QStringLiteral("index.html"), QStringLiteral("755"));
    QCOMPARE(dlg.windowTitle(), QStringLiteral("パーミッションの変更"));
    QCOMPARE(dlg.txt_name->text(), QStringLiteral("index.html"));
    QCOMPARE(dlg.chk_grp[0]->text(), QStringLiteral("読み取り許可 ( &4 )"));
    QCOMPARE(dlg.chk_grp[1]->text(), QStringLiteral("書き込み許可 ( &2 )"));
    QCOMPARE(dlg.chk_grp[2]->text(), QStringLiteral("実行許可 ( &1 )"));
}

void TestPermissions::digitsFollowTheBoxes() {
    CommandRecorder server;
    auto dlg = Open(server, QStringLiteral("index.html"), QStringLiteral("755"));
    test::ClickButton(dlg->chk_own[1]);
    QCOMPARE(Shown(*dlg), QStringLiteral("r-xr-xr-x 555"));
    test::ClickButton(dlg->chk_usr[2]);
    test::ClickButton(dlg->chk_grp[1]);
    QCOMPARE(Shown(*dlg), QStringLiteral("r-xrwxr-- 574"));
    // A box set by the program recomputes its group like a click.
    dlg->chk_usr[0]->setChecked(false);
    dlg->chk_own[1]->setChecked(true);
    QCOMPARE(Shown(*dlg), QStringLiteral("rwxrwx--- 770"));
}

void TestPermissions::okSendsTheCommand() {
    CommandRecorder server;
    auto dlg = Open(server, QStringLiteral("index.html"), QStringLiteral("44"));
    test::ClickButton(dlg->cmd_ok);
    QCOMPARE(dlg->result(), int(QDialog::Accepted));
    QCOMPARE(dlg->strFilename, QStringLiteral("index.html"));
    QCOMPARE(dlg->strPms, QStringLiteral("044 "));

    dlg = Open(server, QStringLiteral("my page.html"), QStringLiteral("755"));
    test::ClickButton(dlg->chk_own[2]);
    test::ClickButton(dlg->chk_grp[2]);
    test::ClickButton(dlg->chk_usr[2]);
    dlg->txt_name->setText(QStringLiteral("other.html")); // the box is not what is sent
    QTest::keyClick(dlg.get(), Qt::Key_Return);           // OK is the default button
    QCOMPARE(dlg->strPms, QStringLiteral("644 "));
    QCOMPARE(dlg->strFilename, QStringLiteral("my page.html"));
    QCOMPARE(server.sent, (std::vector<std::string>{"SITE CHMOD 044 index.html\r",
                                                    "SITE CHMOD 644 my page.html\r"}));
}

void TestPermissions::cancelEscapeAndCloseBox() {
    CommandRecorder server;
    auto dlg = Open(server, QStringLiteral("a.txt"), QStringLiteral("644"));
    test::ClickButton(dlg->chk_own[2]);
    test::ClickButton(dlg->cmd_cancel);
    QCOMPARE(dlg->result(), int(QDialog::Rejected));
    QVERIFY(dlg->strFilename.isEmpty());
    QCOMPARE(dlg->strPms, QStringLiteral("644"));

    dlg = Open(server, QStringLiteral("a.txt"), QStringLiteral("644"));
    QTest::keyClick(dlg.get(), Qt::Key_Escape);
    QVERIFY(!dlg->isVisible());
    QVERIFY(dlg->strFilename.isEmpty());

    // The close box sends nothing but leaves the name: the caller keeps the old digits.
    dlg = Open(server, QStringLiteral("a.txt"), QStringLiteral("644"));
    test::ClickButton(dlg->chk_own[2]);
    dlg->close();
    QVERIFY(!dlg->isVisible());
    QCOMPARE(dlg->strFilename, QStringLiteral("a.txt"));
    QCOMPARE(dlg->strPms, QStringLiteral("644"));
    QVERIFY(server.sent.empty());
}

void TestPermissions::refusedNamesAndRejectedCommands() {
    MessageRecorder messages;
    CommandRecorder server;
    for (const QString& name :
         {QStringLiteral("a\r\nDELE b"), QStringLiteral("a\nb"), QStringLiteral("a\rb")}) {
        auto dlg = Open(server, name, QStringLiteral("644"));
        test::ClickButton(dlg->cmd_ok);
        QVERIFY(!dlg->isVisible());
        QVERIFY(dlg->strFilename.isEmpty());
        QCOMPARE(dlg->strPms, QStringLiteral("644"));
    }
    QVERIFY(server.sent.empty());
    QCOMPARE(messages.shown.size(), size_t(3));
    QCOMPARE(messages.shown[0].icon, ui::MsgIcon::Critical);

    // A command the server refuses changed nothing: the caller is told as by Cancel.
    server.answer = 0;
    auto dlg = Open(server, QStringLiteral("locked.txt"), QStringLiteral("600"));
    test::ClickButton(dlg->chk_grp[0]);
    test::ClickButton(dlg->cmd_ok);
    QCOMPARE(server.sent, std::vector<std::string>{"SITE CHMOD 640 locked.txt\r"});
    QVERIFY(dlg->strFilename.isEmpty());
    QCOMPARE(dlg->strPms, QStringLiteral("600"));
    QCOMPARE(messages.shown.size(), size_t(4));
    QCOMPARE(messages.shown.back().text, QStringLiteral("パーミッションの変更に失敗しました"));
}

QTEST_MAIN(TestPermissions)
#include "tst_permissions.moc"
