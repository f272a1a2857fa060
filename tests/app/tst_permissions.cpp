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

using namespace oxlip;

namespace {

// The boxes of the three groups as "rwxr-xr-x", then the digits shown.
QString Shown(const Frm_Pms& dlg) {
    QString marks;
    for (QCheckBox* const* group : {dlg.ownerBoxes, dlg.groupBoxes, dlg.othersBoxes}) {
        for (int i = 0; i < 3; ++i) {
            marks += group[i]->isChecked() ? QLatin1Char("rwx"[i]) : QLatin1Char('-');
        }
    }
    return marks + " " + dlg.ownerDigit->text() + dlg.groupDigit->text() + dlg.othersDigit->text();
}

// Clicks the boxes named "o2 g0 u1" (group owner/group/others, bit 0 = read).
void ClickBoxes(Frm_Pms& dlg, const QString& boxes) {
    for (const QString& box : boxes.split(' ', Qt::SkipEmptyParts)) {
        QCheckBox* const* group = box[0] == 'o'   ? dlg.ownerBoxes
                                  : box[0] == 'g' ? dlg.groupBoxes
                                                  : dlg.othersBoxes;
        test::ClickButton(group[box[1].digitValue()]);
    }
}

} // namespace

class TestPermissions : public QObject {
    Q_OBJECT
private slots:
    void digitsAndBoxes();
    void endings();
};

void TestPermissions::digitsAndBoxes() {
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
    QCOMPARE(dlg.groupBoxes[0]->text(), QStringLiteral("読み取り許可 ( &4 )"));
    QCOMPARE(dlg.groupBoxes[1]->text(), QStringLiteral("書き込み許可 ( &2 )"));
    QCOMPARE(dlg.groupBoxes[2]->text(), QStringLiteral("実行許可 ( &1 )"));
    // A box set by the program recomputes its group like a click (clicks: endings()).
    dlg.othersBoxes[0]->setChecked(false);
    dlg.ownerBoxes[1]->setChecked(false);
    dlg.groupBoxes[1]->setChecked(true);
    QCOMPARE(Shown(dlg), QStringLiteral("r-xrwx--x 571"));
}

void TestPermissions::endings() {
    // What each way of leaving sends and tells the caller. The name box is not what is sent;
    // a name with a line break would send a second command; a refused command is a cancel.
    const QString badName =
        QStringLiteral("名前に改行が含まれているため\r\nパーミッションを変更できません");
    const struct {
        QString name, pms, boxes, ending;
        int answer;
        QString sent, filename, newPms, message;
    } rows[] = {
        {"index.html", "44", "", "ok", 200, "SITE CHMOD 044 index.html\r", "index.html", "044 ",
         ""},
        {"my page.html", "755", "o2 g2 u2", "enter", 200, "SITE CHMOD 644 my page.html\r",
         "my page.html", "644 ", ""},
        {"a.txt", "644", "o2", "cancel", 200, "", "", "644", ""},
        {"a.txt", "644", "o2", "escape", 200, "", "", "644", ""},
        {"a.txt", "644", "o2", "close box", 200, "", "a.txt", "644", ""}, // keeps the old digits
        {"a\r\nDELE b", "644", "", "ok", 200, "", "", "644", badName},
        {"a\nb", "644", "", "ok", 200, "", "", "644", badName},
        {"a\rb", "644", "", "ok", 200, "", "", "644", badName},
        {"locked.txt", "600", "g0", "ok", 0, "SITE CHMOD 640 locked.txt\r", "", "600",
         "パーミッションの変更に失敗しました"},
    };
    for (const auto& row : rows) {
        test::MessageScript messages;
        QString sent;
        Frm_Pms dlg(nullptr, row.name, row.pms);
        dlg.sendCommand = [&](const std::string& command) {
            sent += QString::fromStdString(command);
            return row.answer;
        };
        QVERIFY(test::ShowAndWait(&dlg));
        ClickBoxes(dlg, row.boxes);
        dlg.txt_name->setText(QStringLiteral("other.html"));
        if (row.ending == "ok" || row.ending == "cancel") {
            test::ClickButton(row.ending == "ok" ? dlg.cmd_ok : dlg.cmd_cancel);
        } else if (row.ending == "close box") {
            dlg.close();
        } else {
            QTest::keyClick(&dlg, row.ending == "enter" ? Qt::Key_Return : Qt::Key_Escape);
        }
        QCOMPARE(
            QStringList({row.ending, sent, dlg.strFilename, dlg.strPms, messages.marked().join('/'),
                         dlg.isVisible() ? "open" : "closed"}),
            QStringList({row.ending, row.sent, row.filename, row.newPms, row.message, "closed"}));
        QCOMPARE(dlg.result(),
                 row.newPms.endsWith(' ') ? int(QDialog::Accepted) : int(QDialog::Rejected));
    }
}

QTEST_MAIN(TestPermissions)
#include "tst_permissions.moc"
