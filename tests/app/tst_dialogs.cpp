// The secondary windows driven through their real widgets: profiles, transfer details,
// folder chooser and about box, plus the layout of every dialog.

#include "dialogs/Dialogs.h"
#include "dialogs/FolderList.h"
#include "dialogs/Modal.h"
#include "ftp/Transfer.h"
#include "localfs/LocalFs.h"
#include "settings/Settings.h"
#include "settings/Version.h"
#include "support/DialogDriver.h"
#include "support/TempDir.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QUrl>
#include <memory>

using namespace oxlip;
using test::ClickButton;
using test::MessageRecorder;

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// A text prefixed with the name of a test case, so that a failed comparison names the case.
QString Named(const char* name, const QString& text) {
    return QString::fromUtf8(name) + ": " + text;
}

void ClickListRow(QListWidget* list, int row) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(row)).center());
}

QStringList ListTexts(const QListWidget* list) {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i) {
        texts << list->item(i)->text();
    }
    return texts;
}

QStringList ToQStrings(const std::vector<std::string>& items) {
    QStringList texts;
    for (const std::string& item : items) {
        texts << Q(item);
    }
    return texts;
}

ConnectionProfile MakeProfile(const std::string& name, const std::string& server) {
    ConnectionProfile p;
    p.ProfileName = name;
    p.Server = server;
    p.UserName = "user-" + name;
    p.PassWord = "pw-" + name;
    p.Dir = "/" + name + "/";
    p.LDir = "/local/" + name + "/";
    return p;
}

// Stores profiles in User.ini in the given order, as the program itself would.
void StoreProfiles(Settings& settings, const std::vector<std::string>& names) {
    const ConnectionProfile kept = settings.profile;
    for (const std::string& name : names) {
        settings.profile = MakeProfile(name, name + ".example.net");
        QVERIFY(settings.SaveProfile());
    }
    settings.profile = kept;
}

// The fields the profile dialog edits, the mode and the last host folder, in one line.
QString Fields(const ConnectionProfile& p) {
    return QStringList{Q(p.ProfileName),
                       Q(p.Server),
                       Q(p.UserName),
                       Q(p.PassWord),
                       Q(p.Dir),
                       Q(p.LDir),
                       QString::number(p.TransMode),
                       Q(p.LastPathHost)}
        .join('|');
}

QString StoredFields(const std::string& folder, const std::string& name) {
    Settings fresh(folder);
    fresh.profile.ProfileName = name;
    fresh.LoadProfile();
    return Fields(fresh.profile);
}

// The six boxes of the profile dialog in one line.
QString Boxes(const Frm_User& dlg) {
    QStringList texts;
    for (const QLineEdit* box : dlg.txt) {
        texts << box->text();
    }
    return texts.join('|');
}

// Makes the given folders under a temporary folder and makes `current` the process's current
// folder, until the object goes.
class FolderTree {
public:
    FolderTree(std::initializer_list<const char*> folders, const char* current)
        : saved_(QDir::currentPath()) {
        for (const char* folder : folders) {
            QVERIFY(QDir().mkpath(Q(dir.file(folder))));
        }
        QVERIFY(QDir::setCurrent(Q(current[0] ? dir.file(current) : dir.path())));
    }
    ~FolderTree() { QDir::setCurrent(saved_); }
    test::TempDir dir;

private:
    QString saved_;
};

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

    // Profiles.
    void profileOkStoresNormalisedFolders();
    void profileOkRefusesMissingOrBadNames();
    void profileNewSettingClearAndFolderButton();
    void profileChoiceLoadsAtOnceAndSurvivesCancel();
    void profileDelete();

    // Transfer details.
    void extensionAddResetAndClose();
    void extensionRemoveAndListCaching();

    // Folder chooser.
    void folderEndingsAndHighlightedEntry();
    void folderUnreadableMountLeavesListsAlone();

    // About box.
    void aboutTextsAndLinks();

    // Every dialog.
    void enterActivatesTheFocusedButton();
    void messageBoxButtonsInJapanese();
    void layoutTextsFitAndNothingOverlaps();
};

// ---------------------------------------------------------------------------------------
// Profiles

void TestDialogs::profileOkStoresNormalisedFolders() {
    const struct {
        const char* name;
        QString host, local, storedHost, storedLocal;
    } cases[] = {
        {"relative folders", "pub", "/data", "pub/", "/data/"},
        {"already closed", "/www/", "/data/", "/www/", "/data/"},
        {"empty", "", "", "/", ""},
        {"blanks only", "   ", "  ", "/", "  "},
        {"blanks kept around text", " pub ", " d ", " pub /", " d /"},
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        Settings settings(dir.path());
        settings.profile.TransMode = 2; // binary
        settings.profile.LastPathHost = "/old/";
        MessageRecorder messages;
        Frm_User dlg(settings);
        // Characters beyond one byte must come back exactly as typed.
        const QStringList typed{"Office", "ftp.example.net", "taro", "pässワード", c.host, c.local};
        for (int i = 0; i < 6; ++i) {
            dlg.txt[i]->setText(typed[i]);
        }
        ClickButton(dlg.Btn[0]);

        QVERIFY2(messages.shown.empty() && dlg.result() == QDialog::Accepted, c.name);
        QCOMPARE(Named(c.name, dlg.txt[4]->text()), Named(c.name, c.storedHost));
        // The mode starts again at automatic and the last host folder is forgotten.
        const QString expected = Named(c.name, "Office|ftp.example.net|taro|pässワード|" +
                                                   c.storedHost + "|" + c.storedLocal + "|0|");
        QCOMPARE(Named(c.name, Fields(settings.profile)), expected);
        QCOMPARE(Named(c.name, StoredFields(dir.path(), "Office")), expected);
    }
}

void TestDialogs::profileOkRefusesMissingOrBadNames() {
    test::TempDir dir;
    Settings settings(dir.path());
    MessageRecorder messages;
    Frm_User dlg(settings);
    QVERIFY(test::ShowAndWait(&dlg));

    dlg.txt[0]->setText(QStringLiteral("Office"));
    dlg.txt[4]->setText(QStringLiteral("pub"));
    ClickButton(dlg.Btn[0]);
    QCOMPARE(messages.shown.size(), size_t(1));
    QCOMPARE(messages.shown[0].text,
             QStringLiteral("入力必須箇所が埋まっていません\r\n登録名とサーバ名は必須です"));
    QCOMPARE(messages.shown[0].icon, ui::MsgIcon::Critical);
    QVERIFY(dlg.isVisible());
    QCOMPARE(dlg.txt[4]->text(), QStringLiteral("pub")); // content left as typed
    QVERIFY(!QFileInfo::exists(Q(settings.userIniPath())));

    dlg.txt[0]->clear();
    dlg.txt[1]->setText(QStringLiteral("srv"));
    ClickButton(dlg.Btn[0]);
    QCOMPARE(messages.shown.size(), size_t(2));
    QVERIFY(dlg.isVisible() && settings.profile.ProfileName.empty());

    // A "]" or a line break in a name would break the section headers of User.ini.
    StoreProfiles(settings, {"Keep"});
    const std::string before = test::ReadFileBytes(settings.userIniPath());
    const std::pair<const char*, const char*> badNames[] = {
        {"bracket", "a]b"},
        {"final bracket", "[Office]"},
        {"line feed", "a\nb"},
        {"carriage return", "a\rb"},
    };
    size_t shown = 2;
    for (const auto& [label, name] : badNames) {
        dlg.txt[0]->setText(QString::fromUtf8(name));
        ClickButton(dlg.Btn[0]);
        QVERIFY2(messages.shown.size() == ++shown, label);
        QVERIFY2(messages.shown.back().text.startsWith(QStringLiteral("設定名に")), label);
        QVERIFY2(dlg.isVisible() && settings.profile.ProfileName.empty(), label);
        QVERIFY2(test::ReadFileBytes(settings.userIniPath()) == before, label);
    }

    // Blanks are content: a name of blanks passes.
    dlg.txt[0]->setText(QStringLiteral("  "));
    ClickButton(dlg.Btn[0]);
    QCOMPARE(messages.shown.size(), shown);
    QVERIFY(!dlg.isVisible());
    QCOMPARE(settings.profile.ProfileName, std::string("  "));
}

void TestDialogs::profileNewSettingClearAndFolderButton() {
    test::TempDir dir;
    Settings settings(dir.path());
    settings.profile = MakeProfile("Old", "old.example.net");
    MessageRecorder messages;
    Frm_User dlg(settings);
    QVERIFY(test::ShowAndWait(&dlg));
    QCOMPARE(dlg.txt[3]->echoMode(), QLineEdit::Password);
    QCOMPARE(Boxes(dlg), QStringLiteral("Old|old.example.net|user-Old|pw-Old|/Old/|/local/Old/"));

    ClickButton(dlg.Btn[2]); // clear: the name and the local folder stay
    QCOMPARE(Boxes(dlg), QStringLiteral("Old||||/|/local/Old/"));
    ClickButton(dlg.Btn_Set[0]); // new setting
    QCOMPARE(Boxes(dlg), QStringLiteral("新しい接続||||/|/local/Old/"));
    QCOMPARE(dlg.List->count(), 0); // nothing stored before OK
    dlg.txt[1]->setText(QStringLiteral("new.example.net"));

    // The folder button opens the chooser; closed without a choice, it leaves the box alone.
    bool chooserOpened = false;
    ui::SetDialogResponder([&](QDialog* opened) {
        if (auto* chooser = qobject_cast<Frm_Dir*>(opened)) {
            chooserOpened = true;
            chooser->SelectedFolder = QStringLiteral("/srv/site");
        }
        return int(QDialog::Accepted);
    });
    ClickButton(dlg.Command1);
    QVERIFY(chooserOpened);
    QCOMPARE(dlg.txt[5]->text(), QStringLiteral("/srv/site"));
    ui::SetDialogResponder([](QDialog*) { return int(QDialog::Rejected); });
    ClickButton(dlg.Command1);
    QCOMPARE(dlg.txt[5]->text(), QStringLiteral("/srv/site"));
    ui::SetDialogResponder(nullptr);
    ClickButton(dlg.Btn[0]);

    QVERIFY(messages.shown.empty());
    QCOMPARE(settings.profile.ProfileName, std::string("新しい接続"));
    QCOMPARE(ToQStrings(settings.ProfileNames()), QStringList{QStringLiteral("新しい接続")});
    QCOMPARE(StoredFields(dir.path(), "新しい接続"),
             QStringLiteral("新しい接続|new.example.net|||/|/srv/site/|0|"));
}

void TestDialogs::profileChoiceLoadsAtOnceAndSurvivesCancel() {
    test::TempDir dir;
    Settings settings(dir.path());
    StoreProfiles(settings, {"A", "B"});
    // A name stored twice is listed twice.
    test::WriteFileBytes(settings.userIniPath(), test::ReadFileBytes(settings.userIniPath()) +
                                                     "[A]\r\nServer=second.example.net\r\n");
    settings.profile = MakeProfile("Current", "current.example.net");
    Frm_User dlg(settings);
    QVERIFY(test::ShowAndWait(&dlg));
    QCOMPARE(ListTexts(dlg.List), (QStringList{"A", "B", "A"}));
    QVERIFY(dlg.List->selectedItems().isEmpty());
    QCOMPARE(dlg.txt[0]->text(), QStringLiteral("Current"));

    ClickListRow(dlg.List, 1);
    QCOMPARE(Boxes(dlg), QStringLiteral("B|B.example.net|user-B|pw-B|/B/|/local/B/"));
    QCOMPARE(settings.profile.Server, std::string("B.example.net"));

    // A choice made by the program loads like a click.
    dlg.List->setCurrentRow(0);
    QCOMPARE(Boxes(dlg), QStringLiteral("A|A.example.net|user-A|pw-A|/A/|/local/A/"));
    QCOMPARE(settings.profile.Server, std::string("A.example.net"));

    ClickButton(dlg.Btn[1]); // cancel
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
    QCOMPARE(settings.profile.ProfileName, std::string("A"));
    QCOMPARE(settings.profile.Server, std::string("A.example.net"));
}

void TestDialogs::profileDelete() {
    test::TempDir dir;
    Settings settings(dir.path());
    StoreProfiles(settings, {"A", "B", "C", "D"});
    MessageRecorder messages;
    Frm_User dlg(settings);
    QVERIFY(test::ShowAndWait(&dlg));

    ClickButton(dlg.Btn_Set[1]); // nothing selected: nothing happens
    QCOMPARE(dlg.List->count(), 4);

    // A middle or the last entry: the one above it is loaded and selected, not one below.
    ClickListRow(dlg.List, 2);
    ClickButton(dlg.Btn_Set[1]);
    QCOMPARE(ListTexts(dlg.List), (QStringList{"A", "B", "D"}));
    QCOMPARE(dlg.List->currentRow(), 1);
    QVERIFY(dlg.List->item(1)->isSelected());
    QCOMPARE(Boxes(dlg), QStringLiteral("B|B.example.net|user-B|pw-B|/B/|/local/B/"));
    QCOMPARE(ToQStrings(settings.ProfileNames()), (QStringList{"A", "B", "D"}));
    ClickListRow(dlg.List, 2);
    ClickButton(dlg.Btn_Set[1]);
    QCOMPARE(ListTexts(dlg.List), (QStringList{"A", "B"}));
    QCOMPARE(settings.profile.ProfileName, std::string("B"));

    // A file that cannot be rewritten keeps the entry and says so.
    const QString ini = Q(settings.userIniPath());
    const std::string stored = test::ReadFileBytes(settings.userIniPath());
    ClickListRow(dlg.List, 0);
    QVERIFY(QFile::remove(ini) && QDir().mkdir(ini));
    ClickButton(dlg.Btn_Set[1]);
    QCOMPARE(ListTexts(dlg.List), (QStringList{"A", "B"}));
    QCOMPARE(messages.shown.size(), size_t(1));
    QCOMPARE(messages.shown[0].text, QStringLiteral("設定を削除できませんでした"));
    QVERIFY(QDir().rmdir(ini));
    test::WriteFileBytes(settings.userIniPath(), stored);

    // The first entry, then the only one: nothing is loaded in its place, the boxes keep what
    // was typed, and no profile is current, so the exit's save writes nothing back.
    dlg.txt[2]->setText(QStringLiteral("edited"));
    ClickButton(dlg.Btn_Set[1]); // A is still selected
    QCOMPARE(ListTexts(dlg.List), QStringList{"B"});
    QVERIFY(dlg.List->selectedItems().isEmpty());
    QCOMPARE(Boxes(dlg), QStringLiteral("A|A.example.net|edited|pw-A|/A/|/local/A/"));
    QCOMPARE(Fields(settings.profile), QStringLiteral("||||||0|"));
    QVERIFY(settings.SaveProfile());
    QCOMPARE(ToQStrings(settings.ProfileNames()), QStringList{"B"});
    ClickListRow(dlg.List, 0);
    ClickButton(dlg.Btn_Set[1]);
    QCOMPARE(dlg.List->count(), 0);
    QVERIFY(settings.SaveProfile());
    QVERIFY(settings.ProfileNames().empty());
}

// ---------------------------------------------------------------------------------------
// Transfer details

void TestDialogs::extensionAddResetAndClose() {
    test::TempDir dir;
    Settings settings(dir.path());
    settings.AsciiExtensionList = {"PHP", "TXT"};
    Frm_Ftp dlg(settings);
    QVERIFY(test::ShowAndWait(&dlg));
    QCOMPARE(dlg.Btn[0]->toolTip(), QStringLiteral("ﾘｽﾄへ追加します"));
    QCOMPARE(dlg.Btn[1]->toolTip(), QStringLiteral("選択した拡張子をﾘｽﾄから削除します"));

    ClickButton(dlg.Btn[2]); // reset
    QStringList expected{"CGI", "CSS", "HTM", "HTML", "JAVA", "JS", "PL", "SHTM", "SHTML", "TXT"};
    QCOMPARE(ListTexts(dlg.List), expected);
    QCOMPARE(ToQStrings(settings.AsciiExtensionList), expected);

    // Already listed in any case, or empty: refused.
    for (const char* refused : {"txt", "Html", "CGI", ""}) {
        dlg.txt->setText(QString::fromUtf8(refused));
        ClickButton(dlg.Btn[0]);
    }
    QCOMPARE(ListTexts(dlg.List), expected);

    // Added in capitals with blanks kept; the box keeps its text; the new entry is selected.
    dlg.txt->setText(QStringLiteral(".doc"));
    ClickButton(dlg.Btn[0]);
    QCOMPARE(dlg.txt->text(), QStringLiteral(".doc"));
    dlg.txt->setText(QStringLiteral(" php "));
    ClickButton(dlg.Btn[0]);
    QCOMPARE(dlg.List->currentRow(), expected.size() + 1);
    QVERIFY(dlg.List->currentItem()->isSelected());
    dlg.txt->setText(QStringLiteral(".Doc"));
    ClickButton(dlg.Btn[0]);
    expected << ".DOC"
             << " PHP ";
    QCOMPARE(ListTexts(dlg.List), expected);
    QCOMPARE(ToQStrings(settings.AsciiExtensionList), expected);

    // Nothing is written until the dialog is closed.
    QVERIFY(!QFileInfo::exists(Q(settings.ftpIniPath())));
    ClickButton(dlg.Btn_Close);
    QVERIFY(!dlg.isVisible());
    Settings fresh(dir.path());
    fresh.LoadAsciiExtensions();
    QCOMPARE(ToQStrings(fresh.AsciiExtensionList), expected);
}

void TestDialogs::extensionRemoveAndListCaching() {
    test::TempDir dir;
    Settings settings(dir.path());
    settings.AsciiExtensionList = {"CGI", "CSS", "TXT"};
    settings.ListCache = true;
    {
        Frm_Ftp dlg(settings);
        QVERIFY(test::ShowAndWait(&dlg));
        QVERIFY(dlg.chk_list->isChecked());
        dlg.List->clearSelection();
        ClickButton(dlg.Btn[1]); // nothing selected: nothing removed
        QCOMPARE(dlg.List->count(), 3);

        ClickListRow(dlg.List, 1); // CSS
        ClickButton(dlg.Btn[1]);
        ClickListRow(dlg.List, 0); // CGI
        QTest::keyClick(dlg.List, Qt::Key_Delete);
        QTest::keyClick(dlg.List, Qt::Key_Insert); // other keys do nothing
        QCOMPARE(ListTexts(dlg.List), QStringList{"TXT"});
        QCOMPARE(ToQStrings(settings.AsciiExtensionList), QStringList{"TXT"});

        // Without any entry, every file goes in binary.
        ClickListRow(dlg.List, 0);
        ClickButton(dlg.Btn[1]);
        QCOMPARE(dlg.List->count(), 0);
        QVERIFY(settings.AsciiExtensionList.empty());
        QCOMPARE(GetTransferType("txt", settings.AsciiExtensionList), TransferMode::Binary);
        ClickButton(dlg.Btn_Close);
    }
    settings.ListCache = false;
    Frm_Ftp again(settings); // the empty list is not filled up again
    QVERIFY(test::ShowAndWait(&again));
    QCOMPARE(again.List->count(), 0);
    QCOMPARE(again.Label1->text(),
             QStringLiteral("アスキーで転送する拡張子を指定してください\n"
                            "リストにない拡張子は全てバイナリで転送されます"));

    // List caching follows the box at once, by click or not.
    QVERIFY(!again.chk_list->isChecked());
    ClickButton(again.chk_list);
    QVERIFY(settings.ListCache);
    ClickButton(again.chk_list);
    QVERIFY(!settings.ListCache);
    again.chk_list->setChecked(true);
    QVERIFY(settings.ListCache);
    const std::string written = test::ReadFileBytes(settings.ftpIniPath());
    again.close(); // the close box writes nothing; the change is already live
    QVERIFY(settings.ListCache);
    QCOMPARE(test::ReadFileBytes(settings.ftpIniPath()), written);
}

// ---------------------------------------------------------------------------------------
// Folder chooser

void TestDialogs::folderEndingsAndHighlightedEntry() {
    FolderTree tree({"site/www", "logs"}, "");
    const QString root = QDir::cleanPath(QDir::currentPath());
    // OK without changes returns the current folder; Cancel and the close box return nothing.
    const char* endings[] = {"OK", "Cancel", "close box"};
    for (int e = 0; e < 3; ++e) {
        Frm_Dir dlg;
        QVERIFY(test::ShowAndWait(&dlg));
        QCOMPARE(dlg.windowTitle(), QStringLiteral("ﾌｧｲﾙ検索"));
        QCOMPARE(dlg.dirList->path(), root);
        QCOMPARE(dlg.drvList->currentText(),
                 Q(MountPointOfPath(root.toStdString(), ListMountPoints())));
        if (e < 2) {
            ClickButton(dlg.Btn[e]);
        } else {
            dlg.close();
        }
        QVERIFY2(!dlg.isVisible(), endings[e]);
        QVERIFY2(dlg.result() == (e == 0 ? QDialog::Accepted : QDialog::Rejected), endings[e]);
        QCOMPARE(Named(endings[e], dlg.SelectedFolder), Named(endings[e], e == 0 ? root : ""));
    }
    Frm_Dir dlg;
    QVERIFY(test::ShowAndWait(&dlg));
    // Enter on a highlighted subfolder opens it; a single click then only highlights.
    QVERIFY(dlg.dirList->highlightPath(root + "/site"));
    QTest::keyClick(dlg.dirList, Qt::Key_Return);
    QCOMPARE(dlg.dirList->path(), root + "/site");
    QVERIFY(dlg.dirList->highlightPath(root + "/site/www"));
    QTreeWidgetItem* www = dlg.dirList->currentItem();
    dlg.dirList->setCurrentItem(nullptr);
    QTest::mouseClick(dlg.dirList->viewport(), Qt::LeftButton, {},
                      dlg.dirList->visualItemRect(www).center());
    QCOMPARE(dlg.dirList->highlightedPath(), root + "/site/www");
    QCOMPARE(dlg.dirList->path(), root + "/site");
    ClickButton(dlg.Btn[0]);
    QCOMPARE(dlg.SelectedFolder, root + "/site/www");
}

void TestDialogs::folderUnreadableMountLeavesListsAlone() {
    FolderTree tree({"disk/inner", "work"}, "work");
    Frm_Dir dlg;
    QVERIFY(test::ShowAndWait(&dlg));
    const QString disk = Q(tree.dir.file("disk"));
    dlg.SetMountPoints({"/", disk.toStdString(), tree.dir.file("no-medium")});
    QCOMPARE(dlg.drvList->currentText(), QStringLiteral("/"));
    const QString before = dlg.dirList->path();

    dlg.drvList->setCurrentIndex(2);
    QCOMPARE(dlg.dirList->path(), before);
    QCOMPARE(dlg.drvList->currentText(), QStringLiteral("/"));

    dlg.drvList->setCurrentIndex(1);
    QCOMPARE(dlg.dirList->path(), disk);
    QCOMPARE(dlg.drvList->currentText(), disk);
    ClickButton(dlg.Btn[0]);
    QCOMPARE(dlg.SelectedFolder, disk);
}

// ---------------------------------------------------------------------------------------
// About box

void TestDialogs::aboutTextsAndLinks() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::darkGreen);
    Frm_Ver dlg{QIcon(pixmap)};
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Oxlip のバージョン情報"));
    QVERIFY(!dlg.windowIcon().isNull());
    QVERIFY(!dlg.Image1->pixmap().isNull());
    QCOMPARE(dlg.Label1->text(), QStringLiteral("Oxlip"));
    QCOMPARE(dlg.Label2->text(), Q(VersionText()));
    QCOMPARE(dlg.Label3->text().split(QLatin1Char('\n')),
             (QStringList{"FTP転送試験ソフト", "", "㈱ノルベア"}));
    QCOMPARE(dlg.Label4->text(), QStringLiteral("https://oxlip.example.org/"));
    QCOMPARE(dlg.Label5->text(), QStringLiteral("support@oxlip.example.org"));

    QVERIFY(test::ShowAndWait(&dlg));
    // Which of the two links is drawn underlined in blue; the other must be plain black.
    auto looks = [&dlg]() {
        QString out;
        for (QLabel* label : {dlg.Label4, dlg.Label5}) {
            const QColor color = label->palette().color(QPalette::WindowText);
            out += label->font().underline() && color == QColor(0, 0, 255)  ? 'H'
                   : !label->font().underline() && color == QColor(0, 0, 0) ? '-'
                                                                            : '?';
        }
        return out;
    };
    QCOMPARE(looks(), QStringLiteral("--"));
    QTest::mouseMove(dlg.Label4, QPoint(5, dlg.Label4->height() / 2));
    QTRY_COMPARE_WITH_TIMEOUT(looks(), QStringLiteral("H-"), 2000);
    QTest::mouseMove(dlg.Label5, QPoint(5, dlg.Label5->height() / 2));
    QTRY_COMPARE_WITH_TIMEOUT(looks(), QStringLiteral("-H"), 2000);
    QTest::mouseMove(&dlg, QPoint(4, dlg.height() - 4));
    QTRY_COMPARE_WITH_TIMEOUT(looks(), QStringLiteral("--"), 2000);

    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &recorder, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("mailto"), &recorder, "open");
    QTest::mouseClick(dlg.Label4, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseClick(dlg.Label5, Qt::LeftButton, {}, QPoint(5, 5));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("mailto"));
    QCOMPARE(recorder.opened,
             (QList<QUrl>{QUrl(QStringLiteral("https://oxlip.example.org/")),
                          QUrl(QStringLiteral("mailto:support@oxlip.example.org"))}));

    ClickButton(dlg.Command1);
    QVERIFY(!dlg.isVisible());
}

// ---------------------------------------------------------------------------------------
// Every dialog

namespace {

// One dialog over a fresh settings folder holding the profiles A and B (B chosen in the
// profiles dialog), with what it sends, opens and shows recorded.
struct DialogRig {
    explicit DialogRig(const QString& kind) {
        StoreProfiles(settings, {"A", "B"});
        settings.AsciiExtensionList = {"PHP"};
        ui::SetDialogResponder([this](QDialog* opened) {
            log << QString::fromLatin1(opened->metaObject()->className());
            return int(QDialog::Rejected);
        });
        if (kind == QLatin1String("Frm_User")) {
            auto* user = new Frm_User(settings);
            user->List->setCurrentRow(1);
            dialog.reset(user);
        } else if (kind == QLatin1String("Frm_Pms")) {
            auto* pms = new Frm_Pms(nullptr, QStringLiteral("index.html"), QStringLiteral("644"));
            pms->sendCommand = [this](const std::string& command) {
                log << Q(command);
                return 200;
            };
            dialog.reset(pms);
        } else if (kind == QLatin1String("Frm_Ftp")) {
            dialog.reset(new Frm_Ftp(settings));
        } else {
            dialog.reset(new Frm_Dir);
        }
        QVERIFY(test::ShowAndWait(dialog.get()));
    }
    ~DialogRig() { ui::SetDialogResponder(nullptr); }

    template <typename T = QWidget> T* find(const char* name) const {
        return dialog->findChild<T*>(QString::fromLatin1(name));
    }

    // Everything a button may change, in one line.
    QString outcome() const {
        QStringList parts{dialog->isVisible() ? QStringLiteral("open")
                                              : QString::number(dialog->result())};
        for (const QLineEdit* box : dialog->findChildren<QLineEdit*>()) {
            parts << box->text();
        }
        for (const QListWidget* list : dialog->findChildren<QListWidget*>()) {
            parts << ListTexts(list).join(',');
        }
        parts << log << QString::number(messages.shown.size()) << Fields(settings.profile);
        for (const std::string& name : settings.ProfileNames()) {
            parts << StoredFields(dir.path(), name);
        }
        parts << ToQStrings(settings.AsciiExtensionList)
              << Q(test::ReadFileBytes(settings.ftpIniPath()));
        return parts.join('|');
    }

    test::TempDir dir;
    Settings settings{dir.path()};
    MessageRecorder messages;
    QStringList log;
    std::unique_ptr<QDialog> dialog;
};

} // namespace

void TestDialogs::enterActivatesTheFocusedButton() {
    // Enter on a focused button does what a click on it does; in a text box it is the
    // default button's click.
    const struct {
        const char* dialog;
        const char* focus;
        const char* click;
    } rows[] = {
        {"Frm_User", "Btn_0", "Btn_0"},         {"Frm_User", "Btn_1", "Btn_1"},
        {"Frm_User", "Btn_2", "Btn_2"},         {"Frm_User", "Command1", "Command1"},
        {"Frm_User", "Btn_Set_0", "Btn_Set_0"}, {"Frm_User", "Btn_Set_1", "Btn_Set_1"},
        {"Frm_User", "txt_2", "Btn_0"},         {"Frm_Pms", "cmd_cancel", "cmd_cancel"},
        {"Frm_Pms", "cmd_ok", "cmd_ok"},        {"Frm_Pms", "txt_name", "cmd_ok"},
        {"Frm_Ftp", "Btn_2", "Btn_2"},          {"Frm_Ftp", "Btn_Close", "Btn_Close"},
        {"Frm_Dir", "Btn_1", "Btn_1"},
    };
    for (const auto& row : rows) {
        const QString name = QStringLiteral("%1 %2").arg(row.dialog, row.focus);
        QString pressed;
        {
            DialogRig rig(QString::fromLatin1(row.dialog));
            QWidget* focus = rig.find(row.focus);
            QVERIFY2(focus, qPrintable(name));
            focus->setFocus(Qt::TabFocusReason);
            QTest::keyClick(focus, Qt::Key_Return);
            pressed = rig.outcome();
        }
        DialogRig rig(QString::fromLatin1(row.dialog));
        ClickButton(rig.find<QAbstractButton>(row.click));
        QCOMPARE(Named(row.focus, pressed), Named(row.focus, rig.outcome()));
    }
}

void TestDialogs::messageBoxButtonsInJapanese() {
    // The standard buttons of the program's message boxes, without their mnemonics.
    QMessageBox box;
    const QMessageBox::StandardButton buttons[] = {QMessageBox::Yes, QMessageBox::No,
                                                   QMessageBox::Ok, QMessageBox::Cancel};
    QStringList texts;
    for (const auto button : buttons) {
        box.addButton(button);
        texts << box.button(button)->text().remove(
            QRegularExpression(QStringLiteral("\\(&.\\)|&")));
    }
    QCOMPARE(texts, (QStringList{"はい", "いいえ", "OK", "キャンセル"}));
}

// ---------------------------------------------------------------------------------------
// Layout of every dialog

namespace {

bool IsOurs(const QWidget* w) {
    return !w->objectName().isEmpty() && !w->objectName().startsWith(QLatin1String("qt_"));
}

// Whether the text of a button, label, check box or group box fits inside the widget.
bool TextFits(QWidget* w) {
    if (auto* button = qobject_cast<QPushButton*>(w)) {
        // The style's minimum width for buttons is no part of the text: measure the
        // text inside the button's frame.
        const QFontMetrics fm(button->font());
        const int frame = 2 * button->style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
        return fm.horizontalAdvance(QString(button->text()).remove('&')) + frame <=
                   button->width() &&
               fm.height() + frame <= button->height();
    }
    auto* label = qobject_cast<QLabel*>(w);
    if (label && label->pixmap().isNull() && !label->text().isEmpty()) {
        const QSize hint = label->sizeHint();
        const bool multiLine = label->wordWrap() || label->text().contains('\n');
        return (multiLine || hint.width() <= label->width()) && hint.height() <= label->height();
    }
    if (auto* check = qobject_cast<QCheckBox*>(w)) {
        return check->sizeHint().width() <= check->width();
    }
    if (auto* frame = qobject_cast<QGroupBox*>(w)) {
        return QFontMetrics(frame->font()).horizontalAdvance(frame->title()) + 16 <= frame->width();
    }
    return true;
}

// Texts that do not fit, siblings that overlap and children that stick out of their parent.
QStringList LayoutProblems(QWidget* dialog) {
    QStringList problems;
    for (QWidget* parent : QList<QWidget*>{dialog} + dialog->findChildren<QWidget*>()) {
        if (parent != dialog && !IsOurs(parent)) {
            continue;
        }
        if (!TextFits(parent)) {
            problems << dialog->objectName() + "/" + parent->objectName() + " text cut";
        }
        QList<QWidget*> children;
        for (QWidget* child : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (IsOurs(child) && !child->isWindow()) {
                children << child;
            }
        }
        for (int i = 0; i < children.size(); ++i) {
            if (!parent->rect().contains(children[i]->geometry())) {
                problems << children[i]->objectName() + " outside " + parent->objectName();
            }
            for (int j = i + 1; j < children.size(); ++j) {
                if (children[i]->geometry().intersects(children[j]->geometry())) {
                    problems << children[i]->objectName() + " overlaps " +
                                    children[j]->objectName();
                }
            }
        }
    }
    return problems;
}

} // namespace

void TestDialogs::layoutTextsFitAndNothingOverlaps() {
    FolderTree tree({"work/www", "work/cgi-bin"}, "work");
    Settings settings(tree.dir.path());
    settings.SetDefaultAsciiExtensions();
    StoreProfiles(settings, {"Office", "Home", "テストサーバ"});
    settings.profile = MakeProfile("Office", "ftp.example.net");

    QPixmap pixmap(48, 48);
    pixmap.fill(Qt::darkCyan);
    std::vector<std::unique_ptr<QDialog>> dialogs;
    dialogs.push_back(std::make_unique<Frm_User>(settings));
    dialogs.push_back(std::make_unique<Frm_Ftp>(settings));
    dialogs.push_back(
        std::make_unique<Frm_Pms>(nullptr, QStringLiteral("index.html"), QStringLiteral("755")));
    dialogs.push_back(std::make_unique<Frm_Dir>());
    dialogs.push_back(std::make_unique<Frm_Ver>(QIcon(pixmap)));

    const QString shots = qEnvironmentVariable("OXLIP_SCREENSHOT_DIR");
    for (const auto& dialog : dialogs) {
        QVERIFY(test::ShowAndWait(dialog.get()));
        const QString family = QFontInfo(dialog->font()).family();
        QVERIFY2(family.startsWith(QLatin1String("IPA")), qPrintable(family));
        const QStringList problems = LayoutProblems(dialog.get());
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join("; ")));
        if (!shots.isEmpty()) {
            QVERIFY(QDir().mkpath(shots));
            const QString file = shots + "/" + dialog->objectName() + ".png";
            QVERIFY2(dialog->grab().save(file), qPrintable(file));
        }
        dialog->close();
    }
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
