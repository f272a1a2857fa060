// The secondary windows driven through their real widgets, and the layout of every dialog.

#include "dialogs/FolderList.h"
#include "settings/Version.h"
#include "support/DialogDriver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QFontInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QRadioButton>
#include <QRegularExpression>

using namespace oxlip;
using namespace Qt::StringLiterals;
using test::ClickButton;
using test::Q;

namespace {

void ClickListRow(QListWidget* list, int row) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(row)).center());
}

// The rows, the selected ones in brackets: "A,[B],C".
QString Rows(const QListWidget* list) {
    QStringList rows;
    for (int i = 0; i < list->count(); ++i) {
        rows << (list->item(i)->isSelected() ? u"[%1]"_s : u"%1"_s).arg(list->item(i)->text());
    }
    return rows.join(',');
}

QString Joined(const std::vector<std::string>& items) {
    QStringList texts;
    std::ranges::transform(items, std::back_inserter(texts), &Q);
    return texts.join(',');
}

// Stores profiles, every connection option away from its default, as the program would.
void StoreProfiles(Settings& settings, const std::vector<std::string>& names) {
    for (const std::string& n : names) {
        // clang-format off
        settings.profile = {n, n + ".example.net", "user-" + n, "pw-" + n, "/" + n + "/",
                            "/local/" + n + "/", 0, "", "", EncryptImplicit, 0, false, NamesEucJp, 0};
        // clang-format on
        QVERIFY(settings.SaveProfile());
    }
    settings.profile = {};
}

// The edited fields, mode, last host folder, then encryption, port, passive, encoding, keep-alive.
QString Fields(const ConnectionProfile& p) {
    return Q(p.ProfileName + "|" + p.Server + "|" + p.UserName + "|" + p.PassWord + "|" + p.Dir +
             "|" + p.LDir + "|" + std::to_string(p.TransMode) + "|" + p.LastPathHost) +
           QString::asprintf("|%d %d %d %d %d", int(p.Encryption), p.Port, int(p.Passive),
                             int(p.NameEncoding), p.KeepAlive);
}

// The six boxes, then encryption, port/its greyed default, mode, name encoding, keep-alive.
QString Boxes(const Frm_User& dlg) {
    QStringList texts;
    std::ranges::transform(dlg.fields, std::back_inserter(texts), &QLineEdit::text);
    return texts.join('|') + u"|%1 %2/%3 %4 %5 %6"_s.arg(dlg.cmb_tls->currentIndex())
                                 .arg(dlg.txt_port->text(), dlg.txt_port->placeholderText(),
                                      dlg.opt_mode[0]->isChecked() ? "passive" : "active")
                                 .arg(dlg.cmb_code->currentIndex())
                                 .arg(dlg.txt_keepalive->text());
}
const QString kMadeOptions = u"|2 /990 active 3 0"_s;
const QString kDefaultOptions = u"|0 /21 passive 0 60"_s;

// Folders under a temporary folder, the current folder while the object lives.
struct FolderTree {
    explicit FolderTree(std::initializer_list<const char*> folders) {
        for (const char* folder : folders) {
            QVERIFY(QDir().mkpath(Q(dir.file(folder))));
        }
        QVERIFY(QDir::setCurrent(Q(dir.path())));
    }
    ~FolderTree() { QDir::setCurrent(saved); }
    QString saved = QDir::currentPath();
    test::TempDir dir;
};

// The boxes of the three groups as "rwxr-xr-x", then the digits shown.
QString Shown(const Frm_Pms& dlg) {
    QCheckBox* const* groups[] = {dlg.ownerBoxes, dlg.groupBoxes, dlg.othersBoxes};
    QString marks;
    for (int i = 0; i < 9; ++i) {
        marks += groups[i / 3][i % 3]->isChecked() ? QLatin1Char("rwx"[i % 3]) : QLatin1Char('-');
    }
    return marks + " " + dlg.ownerDigit->text() + dlg.groupDigit->text() + dlg.othersDigit->text();
}

// A dialog of the given class, with the settings' profiles and extensions where it shows them.
std::unique_ptr<QDialog> MakeDialog(const QString& kind, Settings& settings) {
    std::unique_ptr<QDialog> dialog;
    QPixmap icon(48, 48);
    icon.fill(Qt::darkCyan);
    if (kind == u"Frm_User") {
        auto* user = new Frm_User(settings);
        user->List->setCurrentRow(1);
        dialog.reset(user);
    } else if (kind == u"Frm_Pms") {
        dialog.reset(new Frm_Pms(nullptr, u"index.html"_s, u"644"_s));
    } else if (kind == u"Frm_Ftp") {
        dialog.reset(new Frm_Ftp(settings));
    } else if (kind == u"Frm_Dir") {
        dialog.reset(new Frm_Dir);
    } else if (kind.startsWith(u"Frm_Cert")) {
        dialog.reset(new Frm_Cert(test::SampleCertificateProblem(
            kind.endsWith(u"_changed") ? ftp::CertificateFault::Changed
                                       : ftp::CertificateFault::NameMismatch)));
        dialog->setObjectName(kind);
    } else {
        dialog.reset(new Frm_Ver(QIcon(icon)));
    }
    return dialog;
}

// Whether the text of a button, label, check box or group box fits inside the widget.
bool TextFits(QWidget* w) {
    auto* label = qobject_cast<QLabel*>(w);
    if (auto* button = qobject_cast<QPushButton*>(w)) {
        const QFontMetrics fm(button->font());
        const int frame = 2 * button->style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
        return fm.horizontalAdvance(QString(button->text()).remove('&')) + frame <=
                   button->width() &&
               fm.height() + frame <= button->height();
    } else if (label && label->pixmap().isNull() && label->wordWrap()) {
        return label->heightForWidth(label->width()) <= label->height();
    } else if (label && label->pixmap().isNull()) {
        const QSize hint = label->sizeHint();
        return (label->text().contains('\n') || hint.width() <= label->width()) &&
               hint.height() <= label->height();
    } else if (auto* check = qobject_cast<QCheckBox*>(w)) {
        return check->sizeHint().width() <= check->width();
    }
    auto* frame = qobject_cast<QGroupBox*>(w);
    return !frame ||
           QFontMetrics(frame->font()).horizontalAdvance(frame->title()) + 16 <= frame->width();
}

// Among the named widgets: texts cut, siblings overlapping, children outside their parent.
QStringList LayoutProblems(QWidget* dialog) {
    QList<QWidget*> ours = dialog->findChildren<QWidget*>(QRegularExpression(u"^(?!qt_)."_s));
    ours.removeIf([](const QWidget* w) { return w->isWindow(); });
    QStringList problems;
    for (int i = 0; i < ours.size(); ++i) {
        const QString name = dialog->objectName() + "/" + ours[i]->objectName();
        if (!TextFits(ours[i])) {
            problems << name + " text cut";
        }
        if (!ours[i]->parentWidget()->rect().contains(ours[i]->geometry())) {
            problems << name + " outside its parent";
        }
        for (int j = i + 1; j < ours.size(); ++j) {
            if (ours[j]->parentWidget() == ours[i]->parentWidget() &&
                ours[i]->geometry().intersects(ours[j]->geometry())) {
                problems << name + " overlaps " + ours[j]->objectName();
            }
        }
    }
    return problems;
}

} // namespace

class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

class TestDialogs : public QObject {
    Q_OBJECT
private slots:
    void init() { ui::SetDialogResponder(nullptr); }

    void profileOkChecksAndStoresTheBoxes();
    void profileChoiceDeleteAndNewSetting();
    void permissions();
    void extensionListAndCaching();
    void folderChooser();
    void aboutTextsAndLinks();
    void enterActivatesTheFocusedButton();
    void messageBoxButtonsInJapanese();
    void layoutTextsFitAndNothingOverlaps();
};

void TestDialogs::profileOkChecksAndStoresTheBoxes() {
    const QString required = u"入力必須箇所が埋まっていません\r\n登録名とサーバ名は必須です"_s;
    const QString badName = u"設定名に「]」や改行は使えません\r\n設定名を変更してください"_s;
    const QString lineBreak = u"改行を含む項目は保存できません\r\n改行を取り除いてください"_s;
    const QString port = QStringLiteral("ポート番号は 1 から 65535 までの数字で入力してください"
                                        "\r\n空欄にすると標準のポートを使います");
    const QString keepAlive =
        QStringLiteral("キープアライブの間隔は 0 から 86400 までの秒数で入力してください\r\n"
                       "0 にすると送りません");
    // The boxes typed; the profile taken, or the message and the box focused.
    const std::tuple<QString, QString, QString> rows[] = {
        {"no server", "Office||||pub|", required + " Btn_0"},
        {"no name", "|srv||||", required + " Btn_0"},
        {"bracket", "a]b|srv||||", badName + " txt_0"},
        {"line feed in the name", "a\nb|srv||||", badName + " txt_0"},
        {"carriage return in the name", "a\rb|srv||||", badName + " txt_0"},
        {"line break in a value", "Office|srv|a\r\nb|||", lineBreak + " txt_2"},
        {"port 0", "P|h|||||0|60", port + " txt_port"},
        {"port too big", "P|h|||||65536|60", port + " txt_port"},
        {"keep-alive too long", "P|h||||||86401", keepAlive + " txt_keepalive"},
        {"no keep-alive", "P|h|||||21|", keepAlive + " txt_keepalive"},
        {"relative folders", "Office|ftp.example.net|taro|pässワード|pub|/data",
         "Office|ftp.example.net|taro|pässワード|pub/|/data/|0||0 0 1 0 60"},
        {"already closed", "Office|h|||/www/|/data/", "Office|h|||/www/|/data/|0||0 0 1 0 60"},
        {"empty", "Office|h||||", "Office|h|||/||0||0 0 1 0 60"},
        {"blanks only", "Office|h|||   |  ", "Office|h|||/|  |0||0 0 1 0 60"},
        {"blanks kept around text", "Office|h||| pub | d ", "Office|h||| pub /| d /|0||0 0 1 0 60"},
        {"largest numbers", "P|h|||||65535|86400", "P|h|||/||0||0 65535 1 0 86400"},
        {"default port, no keep-alive", "P|h||||||0", "P|h|||/||0||0 0 1 0 0"},
    };
    for (const auto& [name, boxes, outcome] : rows) {
        test::TempDir dir;
        Settings settings(dir.path());
        settings.profile.TransMode = 2; // binary
        settings.profile.LastPathHost = "/old/";
        test::MessageScript messages;
        Frm_User dlg(settings);
        QVERIFY(test::ShowAndWait(&dlg));
        const QStringList typed = boxes.split('|');
        for (int i = 0; i < typed.size(); ++i) {
            (i < 6 ? dlg.fields[i] : i == 6 ? dlg.txt_port : dlg.txt_keepalive)->setText(typed[i]);
        }
        ClickButton(dlg.Btn[0]);
        // Taken: folders closed, mode automatic, host folder forgotten. Refused: nothing changed.
        const bool taken = !dlg.isVisible();
        const QString written = QFileInfo::exists(Q(settings.userIniPath())) ? " written" : "";
        QCOMPARE(
            name + ": " + Fields(settings.profile) + written +
                (taken ? ""
                       : " " + messages.marked().join('/') + " " + dlg.focusWidget()->objectName() +
                             " " + Boxes(dlg).section('|', 0, 5)),
            name + ": " +
                (taken ? outcome + " written"
                       : "||||||2|/old/|0 0 1 0 60 " + outcome + " " + boxes.section('|', 0, 5)));
    }
}

void TestDialogs::profileChoiceDeleteAndNewSetting() {
    test::TempDir dir;
    Settings settings(dir.path());
    StoreProfiles(settings, {"A", "B", "C", "D"});
    settings.profile.ProfileName = "Current";
    settings.profile.Server = "current.example.net";
    test::MessageScript messages;
    const QString a = "A|A.example.net|user-A|pw-A|/A/|/local/A/";
    const QString b = "B|B.example.net|user-B|pw-B|/B/|/local/B/" + kMadeOptions;
    {
        // A click loads the choice at once, and it survives Cancel.
        Frm_User dlg(settings);
        QVERIFY(test::ShowAndWait(&dlg));
        QCOMPARE(Rows(dlg.List) + " " + Boxes(dlg),
                 "A,B,C,D Current|current.example.net||||" + kDefaultOptions);
        ClickListRow(dlg.List, 1);
        ClickButton(dlg.Btn[1]); // cancel
        QCOMPARE(Fields(settings.profile), QString(b).replace(kMadeOptions, "|0||2 0 0 3 0"));
    }
    Frm_User dlg(settings);
    QVERIFY(test::ShowAndWait(&dlg));
    ClickButton(dlg.Btn_Set[1]); // nothing selected: nothing happens
    // A middle or the last entry: the one above it is loaded and selected, not one below.
    for (const QString left : {"A,B,D", "A,B"}) {
        ClickListRow(dlg.List, 2);
        ClickButton(dlg.Btn_Set[1]);
        QCOMPARE(Rows(dlg.List) + " " + Joined(settings.ProfileNames()) + " " + Boxes(dlg),
                 QString(left).replace(u"B"_s, u"[B]"_s) + " " + left + " " + b);
    }
    // A file that cannot be rewritten keeps the entry and says so.
    const QString ini = Q(settings.userIniPath());
    ClickListRow(dlg.List, 0);
    QVERIFY(QDir().rename(ini, ini + "~") && QDir().mkdir(ini));
    ClickButton(dlg.Btn_Set[1]);
    QCOMPARE(Rows(dlg.List) + " " + messages.texts.join('/'),
             u"[A],B 設定を削除できませんでした"_s);
    QVERIFY(QDir().rmdir(ini) && QDir().rename(ini + "~", ini));
    // The first entry, then the only one: boxes kept, no profile current to be written back.
    dlg.fields[Frm_User::User]->setText(u"edited"_s);
    ClickButton(dlg.Btn_Set[1]);
    QCOMPARE(Rows(dlg.List) + " " + Boxes(dlg) + " " + Fields(settings.profile),
             "B " + QString(a).replace(u"user-A"_s, u"edited"_s) + kMadeOptions +
                 " ||||||0||0 0 1 0 60");
    ClickListRow(dlg.List, 0);
    ClickButton(dlg.Btn_Set[1]);
    QCOMPARE(Rows(dlg.List) + Joined(settings.ProfileNames()), QString());

    ClickButton(dlg.Btn_Set[0]); // new setting
    QCOMPARE(Boxes(dlg), "新しい接続||||/|/local/B/" + kDefaultOptions);
    dlg.fields[Frm_User::Server]->setText(u"old.example.net"_s);
    dlg.cmb_tls->setCurrentIndex(EncryptImplicit);
    ClickButton(dlg.Btn[2]); // clear: the name and the local folder stay
    QCOMPARE(Boxes(dlg), "新しい接続||||/|/local/B/" + kDefaultOptions);
    dlg.fields[Frm_User::Server]->setText(u"new.example.net"_s);
    dlg.cmb_tls->setCurrentIndex(EncryptRequired);
    dlg.opt_mode[1]->setChecked(true);
    dlg.cmb_code->setCurrentIndex(NamesCp932);
    // The folder button opens the chooser; closed without a choice, it leaves the box alone.
    test::DialogRecorder dialogs;
    dialogs.hook = [](QDialog* chooser) {
        qobject_cast<Frm_Dir*>(chooser)->SelectedFolder = u"/srv/site"_s;
        return int(QDialog::Accepted);
    };
    ClickButton(dlg.browseButton);
    dialogs.hook = nullptr; // rejected
    ClickButton(dlg.browseButton);
    QCOMPARE(dlg.fields[Frm_User::Password]->echoMode(), QLineEdit::Password);
    ClickButton(dlg.Btn[0]);
    QCOMPARE(Joined(settings.ProfileNames()) + " " + Fields(settings.profile),
             u"新しい接続 新しい接続|new.example.net|||/|/srv/site/|0||1 0 0 2 60"_s);
}

void TestDialogs::permissions() {
    // Up to three octal digits, padded (text may follow three); anything else shows 000.
    const std::pair<QString, QString> cases[] = {
        {"755", "rwxr-xr-x 755"},  {"000", "--------- 000"}, {"640 ", "rw-r----- 640"},
        {"7124", "rwx--x-w- 712"}, {"", "--------- 000"},    {"75", "---rwxr-x 075"},
        {"44", "---r--r-- 044"},   {" 5 ", "------r-x 005"}, {"0", "--------- 000"},
        {"7a5", "--------- 000"},  {"758", "--------- 000"}, {"rwxr-xr-x", "--------- 000"},
    };
    for (const auto& [pms, shown] : cases) {
        Frm_Pms dlg(nullptr, u"index.html"_s, pms);
        QCOMPARE(Shown(dlg) + " " + dlg.strPms, shown + " " + pms); // untouched until OK
    }
    const Frm_Pms dlg(nullptr, u"index.html"_s, u"755"_s);
    QCOMPARE((QStringList{dlg.windowTitle(), dlg.txt_name->text(), dlg.groupBoxes[0]->text(),
                          dlg.groupBoxes[1]->text(), dlg.groupBoxes[2]->text()}),
             (QStringList{"パーミッションの変更", "index.html", "読み取り許可 ( &4 )",
                          "書き込み許可 ( &2 )", "実行許可 ( &1 )"}));

    // What each way of leaving sends and tells; a name with a line break sends nothing.
    const QString badName = u"|名前に改行が含まれているため\r\nパーミッションを変更できません|0"_s;
    // Name, digits, boxes clicked (0-8: rwx of owner, group, others), ending, answer; the outcome.
    const std::tuple<QString, QString, QString, QString, bool, QString> rows[] = {
        {"my page.html", "755", "258", "enter", true,
         "SITE CHMOD 644 my page.html\r|my page.html|644 ||1"},
        {"a.txt", "644", "2", "cancel", true, "||644||0"},
        {"a.txt", "644", "2", "escape", true, "||644||0"},
        {"a.txt", "644", "2", "close box", true, "|a.txt|644||0"}, // keeps the old digits
        {"a\nDELE b", "644", "", "ok", true, "||644" + badName},
        {"a\rb", "644", "", "ok", true, "||644" + badName},
        {"locked.txt", "600", "3", "ok", false,
         "SITE CHMOD 640 locked.txt\r||600|パーミッションの変更に失敗しました|0"},
    };
    for (const auto& [name, pms, boxes, ending, answer, outcome] : rows) {
        test::MessageScript messages;
        QString sent;
        Frm_Pms dlg(nullptr, name, pms);
        dlg.sendCommand = [&sent, ok = answer](const std::string& command) {
            sent += Q(command);
            return ok;
        };
        QVERIFY(test::ShowAndWait(&dlg));
        QCheckBox* const* groups[] = {dlg.ownerBoxes, dlg.groupBoxes, dlg.othersBoxes};
        for (const QChar box : boxes) {
            ClickButton(groups[box.digitValue() / 3][box.digitValue() % 3]);
        }
        dlg.txt_name->setText(u"other.html"_s);
        if (ending == "ok" || ending == "cancel") {
            ClickButton(ending == "ok" ? dlg.cmd_ok : dlg.cmd_cancel);
        } else if (ending == "close box") {
            dlg.close();
        } else {
            QTest::keyClick(&dlg, ending == "enter" ? Qt::Key_Return : Qt::Key_Escape);
        }
        const QStringList told{sent, dlg.strFilename, dlg.strPms, messages.marked().join('/'),
                               QString::number(dlg.result())};
        QCOMPARE(ending + " " + told.join('|') + (dlg.isVisible() ? " open" : ""),
                 ending + " " + outcome);
    }
}

void TestDialogs::extensionListAndCaching() {
    test::TempDir dir;
    Settings settings(dir.path());
    settings.AsciiExtensionList = {"CGI", "CSS", "TXT"};
    {
        Frm_Ftp dlg(settings);
        QVERIFY(test::ShowAndWait(&dlg));
        QCOMPARE((QStringList{dlg.Btn[0]->toolTip(), dlg.Btn[1]->toolTip(), dlg.hint->text()}),
                 (QStringList{"ﾘｽﾄへ追加します", "選択した拡張子をﾘｽﾄから削除します",
                              "アスキーで転送する拡張子を指定してください\n"
                              "リストにない拡張子は全てバイナリで転送されます"}));
        ClickButton(dlg.Btn[1]);   // nothing selected: nothing removed
        ClickListRow(dlg.List, 1); // CSS
        ClickButton(dlg.Btn[1]);
        ClickListRow(dlg.List, 0); // CGI
        QTest::keyClick(dlg.List, Qt::Key_Delete);
        QCOMPARE(Rows(dlg.List) + " " + Joined(settings.AsciiExtensionList), u"[TXT] TXT"_s);
        ClickListRow(dlg.List, 0);
        ClickButton(dlg.Btn[1]);
        // List caching follows the box at once, by click or not.
        for (const bool click : {true, false}) {
            click ? ClickButton(dlg.chk_list) : dlg.chk_list->setChecked(true);
            QCOMPARE(settings.ListCache, !click);
        }
        dlg.close(); // the close box writes nothing; the changes are live
        QVERIFY(!QFileInfo::exists(Q(settings.ftpIniPath())));
    }
    // The emptied list shows no row and is not filled up again.
    Frm_Ftp dlg(settings);
    QVERIFY(test::ShowAndWait(&dlg));
    QVERIFY(dlg.List->count() == 0 && dlg.chk_list->isChecked());
    ClickButton(dlg.Btn[2]); // reset
    // Added in capitals and selected; refused when empty or listed in any case; the box kept.
    for (const char* typed : {"txt", "Html", "CGI", "", ".doc", " php ", ".Doc"}) {
        dlg.extensionBox->setText(QString::fromUtf8(typed));
        ClickButton(dlg.Btn[0]);
    }
    const QString expected = Joined(DefaultAsciiExtensions()) + ",.DOC";
    QCOMPARE(dlg.extensionBox->text() + "|" + Rows(dlg.List), ".Doc|" + expected + ",[ PHP ]");
    ClickButton(dlg.Btn_Close); // writes the list
    Settings fresh(dir.path());
    fresh.LoadAsciiExtensions();
    QCOMPARE(Joined(fresh.AsciiExtensionList), expected + ", PHP ");
}

void TestDialogs::folderChooser() {
    FolderTree tree({"disk/site/www"});
    {
        Frm_Dir dlg;
        QVERIFY(test::ShowAndWait(&dlg));
        ClickButton(dlg.Btn[1]); // cancel
        QCOMPARE(dlg.SelectedFolder + (dlg.isVisible() ? "open" : ""), QString());
    }
    Frm_Dir dlg;
    QVERIFY(test::ShowAndWait(&dlg));
    QCOMPARE(dlg.windowTitle() + " " + dlg.dirList->path(), "ﾌｧｲﾙ検索 " + QDir::currentPath());
    // A chosen mount point is shown; Enter opens a highlighted subfolder, OK takes one.
    const QString disk = Q(tree.dir.file("disk"));
    dlg.SetMountPoints({"/", disk.toStdString()});
    dlg.drvList->setCurrentIndex(1);
    QVERIFY(dlg.dirList->highlightPath(disk + "/site"));
    QTest::keyClick(dlg.dirList, Qt::Key_Return);
    QVERIFY(dlg.dirList->highlightPath(disk + "/site/www"));
    ClickButton(dlg.Btn[0]);
    QCOMPARE(dlg.SelectedFolder, disk + "/site/www");
}

void TestDialogs::aboutTextsAndLinks() {
    Frm_Ver dlg{QIcon()};
    QCOMPARE((QStringList{dlg.windowTitle(), dlg.productLabel->text(), dlg.versionLabel->text(),
                          dlg.creditLabel->text(), dlg.webLink->text(), dlg.mailLink->text()}),
             (QStringList{"Oxlip のバージョン情報", "Oxlip", Q(VersionText()),
                          "FTP転送試験ソフト\n\n㈱ノルベア", "https://oxlip.example.org/",
                          "support@oxlip.example.org"}));
    QVERIFY(test::ShowAndWait(&dlg));
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(u"https"_s, &recorder, "open");
    QDesktopServices::setUrlHandler(u"mailto"_s, &recorder, "open");
    QTest::mouseClick(dlg.webLink, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseClick(dlg.mailLink, Qt::LeftButton, {}, QPoint(5, 5));
    QDesktopServices::unsetUrlHandler(u"https"_s);
    QDesktopServices::unsetUrlHandler(u"mailto"_s);
    QCOMPARE(recorder.opened, (QList<QUrl>{QUrl("https://oxlip.example.org/"),
                                           QUrl("mailto:support@oxlip.example.org")}));
    ClickButton(dlg.okButton);
    QVERIFY(!dlg.isVisible());
}

void TestDialogs::enterActivatesTheFocusedButton() {
    // Enter on a focused button is its click; in a text box ("->") the default button's.
    const std::pair<QString, QString> rows[] = {
        {"Frm_User", "Btn_1 Btn_2 Command1 Btn_Set_0 Btn_Set_1 txt_2->Btn_0"},
        {"Frm_Pms", "cmd_cancel txt_name->cmd_ok"},
    };
    test::TempDir dir;
    Settings settings(dir.path());
    StoreProfiles(settings, {"Office", "Home"});
    test::MessageScript messages;
    test::DialogRecorder dialogs;
    for (const auto& [kind, controls] : rows) {
        for (const QString& control : controls.split(' ')) {
            const std::unique_ptr<QDialog> dialog = MakeDialog(kind, settings);
            QVERIFY(test::ShowAndWait(dialog.get()));
            QStringList clicked;
            for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>()) {
                connect(button, &QAbstractButton::clicked,
                        [&clicked, button] { clicked << button->objectName(); });
            }
            QWidget* focus = dialog->findChild<QWidget*>(control.section("->", 0, 0));
            focus->setFocus(Qt::TabFocusReason);
            QTest::keyClick(focus, Qt::Key_Return);
            QCOMPARE(kind + " " + clicked.join(','), kind + " " + control.section("->", -1));
        }
    }
}

void TestDialogs::messageBoxButtonsInJapanese() {
    QMessageBox box;
    QStringList texts;
    for (const auto button :
         {QMessageBox::Yes, QMessageBox::No, QMessageBox::Ok, QMessageBox::Cancel}) {
        texts << box.addButton(button)->text().remove(QRegularExpression(u"\\(&.\\)|&"_s));
    }
    QCOMPARE(texts, (QStringList{"はい", "いいえ", "OK", "キャンセル"}));
}

void TestDialogs::layoutTextsFitAndNothingOverlaps() {
    FolderTree tree({"www", "cgi-bin"});
    Settings settings(tree.dir.path());
    StoreProfiles(settings, {"Office", "Home", "テストサーバ"});
    settings.SetDefaultAsciiExtensions();
    const QString shots = qEnvironmentVariable("OXLIP_SCREENSHOT_DIR");
    for (const QString kind :
         {"Frm_User", "Frm_Ftp", "Frm_Pms", "Frm_Dir", "Frm_Ver", "Frm_Cert", "Frm_Cert_changed"}) {
        const std::unique_ptr<QDialog> dialog = MakeDialog(kind, settings);
        QVERIFY(test::ShowAndWait(dialog.get()));
        const QString family = QFontInfo(dialog->font()).family();
        const QStringList problems = LayoutProblems(dialog.get());
        QVERIFY2(family.startsWith(u"IPA") && problems.isEmpty(),
                 qPrintable(family + ": " + problems.join("; ")));
        const QString file = shots + "/" + dialog->objectName() + ".png";
        QVERIFY2(shots.isEmpty() || (QDir().mkpath(shots) && dialog->grab().save(file)),
                 qPrintable(file));
    }
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
