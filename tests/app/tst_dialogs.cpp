// The secondary windows driven through their real widgets: profiles, transfer details,
// folder chooser and about box, plus the layout of every dialog.

#include "dialogs/Dialogs.h"
#include "dialogs/FolderList.h"
#include "dialogs/Modal.h"
#include "ftp/Transfer.h"
#include "localfs/LocalFs.h"
#include "settings/IniFile.h"
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
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <memory>
#include <sys/stat.h>

using namespace oxlip;
using test::ClickButton;
using test::MessageRecorder;

namespace {

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
        texts << QString::fromStdString(item);
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

ConnectionProfile ReadBack(const std::string& folder, const std::string& name) {
    Settings fresh(folder);
    fresh.profile.ProfileName = name;
    fresh.LoadProfile();
    return fresh.profile;
}

QString CurrentFolder() {
    return QDir::cleanPath(QDir::currentPath());
}

// Keeps the process's current folder and gives it back at the end.
class CurrentFolderGuard {
public:
    CurrentFolderGuard() : saved_(QDir::currentPath()) {}
    ~CurrentFolderGuard() { QDir::setCurrent(saved_); }

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
    void profileOkStoresNormalisedFolders_data();
    void profileOkStoresNormalisedFolders();
    void profileOkRefusesMissingNameOrServer();
    void profileOkRefusesNamesThatBreakTheFile_data();
    void profileOkRefusesNamesThatBreakTheFile();
    void profileNewSettingAndClear();
    void profileChoiceLoadsAtOnceAndSurvivesCancel();
    void profileDeleteFirstKeepsBoxes();
    void profileDeleteMiddleLoadsEntryAbove();
    void profileDeleteCurrentIsWrittenBackByNextSave();
    void profileFolderButtonUsesChooser();

    // Transfer details.
    void extensionAddRules();
    void extensionRemoveByButtonAndKey();
    void extensionRemovingAllMakesTransfersBinary();
    void extensionResetAndClose();
    void listCachingChangesAtOnce();

    // Folder chooser.
    void folderOkWithoutChangesReturnsCurrent();
    void folderHighlightedEntryIsReturned();
    void folderCancelAndCloseReturnNothing();
    void folderUnreadableMountLeavesListsAlone();

    // About box.
    void aboutTexts();
    void aboutLinkHoverAndClicks();

    // Every dialog.
    void layoutTextsFitAndNothingOverlaps();
};

// ---------------------------------------------------------------------------------------
// Profiles

void TestDialogs::profileOkStoresNormalisedFolders_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("local");
    QTest::addColumn<QString>("storedHost");
    QTest::addColumn<QString>("storedLocal");
    QTest::newRow("relative folders") << "pub"
                                      << "/data"
                                      << "pub/"
                                      << "/data/";
    QTest::newRow("already closed") << "/www/"
                                    << "/data/"
                                    << "/www/"
                                    << "/data/";
    QTest::newRow("empty") << ""
                           << ""
                           << "/"
                           << "";
    QTest::newRow("blanks only") << "   "
                                 << "  "
                                 << "/"
                                 << "  ";
    QTest::newRow("blanks kept around text") << " pub "
                                             << " d "
                                             << " pub /"
                                             << " d /";
}

void TestDialogs::profileOkStoresNormalisedFolders() {
    QFETCH(QString, host);
    QFETCH(QString, local);
    QFETCH(QString, storedHost);
    QFETCH(QString, storedLocal);
    test::TempDir dir;
    Settings settings(dir.path());
    settings.profile.TransMode = TransferBinary;
    settings.profile.LastPathHost = "/old/";
    MessageRecorder messages;

    Frm_User dlg(settings);
    dlg.txt[0]->setText(QStringLiteral("Office"));
    dlg.txt[1]->setText(QStringLiteral("ftp.example.net"));
    dlg.txt[2]->setText(QStringLiteral("taro"));
    // Characters beyond one byte must come back exactly as typed.
    dlg.txt[3]->setText(QStringLiteral("pässワード"));
    dlg.txt[4]->setText(host);
    dlg.txt[5]->setText(local);
    ClickButton(dlg.Btn[0]);

    QVERIFY(messages.shown.empty());
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(dlg.txt[4]->text(), storedHost);
    for (const ConnectionProfile& p : {settings.profile, ReadBack(dir.path(), "Office")}) {
        QCOMPARE(p.ProfileName, std::string("Office"));
        QCOMPARE(p.Server, std::string("ftp.example.net"));
        QCOMPARE(p.UserName, std::string("taro"));
        QCOMPARE(QString::fromStdString(p.PassWord), QStringLiteral("pässワード"));
        QCOMPARE(QString::fromStdString(p.Dir), storedHost);
        QCOMPARE(QString::fromStdString(p.LDir), storedLocal);
        QCOMPARE(p.TransMode, 0);
        QCOMPARE(p.LastPathHost, std::string());
    }
}

void TestDialogs::profileOkRefusesMissingNameOrServer() {
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
    QVERIFY(!QFileInfo::exists(QString::fromStdString(settings.userIniPath())));

    dlg.txt[0]->clear();
    dlg.txt[1]->setText(QStringLiteral("srv"));
    ClickButton(dlg.Btn[0]);
    QCOMPARE(messages.shown.size(), size_t(2));
    QVERIFY(dlg.isVisible());
    QVERIFY(settings.profile.ProfileName.empty());

    // Blanks are content: a name of blanks passes.
    dlg.txt[0]->setText(QStringLiteral("  "));
    ClickButton(dlg.Btn[0]);
    QCOMPARE(messages.shown.size(), size_t(2));
    QVERIFY(!dlg.isVisible());
    QCOMPARE(settings.profile.ProfileName, std::string("  "));
}

void TestDialogs::profileOkRefusesNamesThatBreakTheFile_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("bracket") << "a]b";
    QTest::newRow("final bracket") << "[Office]";
    QTest::newRow("line feed") << "a\nb";
    QTest::newRow("carriage return") << "a\rb";
}

void TestDialogs::profileOkRefusesNamesThatBreakTheFile() {
    QFETCH(QString, name);
    test::TempDir dir;
    Settings settings(dir.path());
    StoreProfiles(settings, {"Keep"});
    const std::string before = test::ReadFileBytes(settings.userIniPath());
    MessageRecorder messages;
    Frm_User dlg(settings);
    QVERIFY(test::ShowAndWait(&dlg));
    dlg.txt[0]->setText(name);
    dlg.txt[1]->setText(QStringLiteral("srv"));
    ClickButton(dlg.Btn[0]);

    QCOMPARE(messages.shown.size(), size_t(1));
    QVERIFY(messages.shown[0].text.startsWith(QStringLiteral("設定名に")));
    QVERIFY(dlg.isVisible());
    QVERIFY(settings.profile.ProfileName.empty());
    QCOMPARE(test::ReadFileBytes(settings.userIniPath()), before);
}

void TestDialogs::profileNewSettingAndClear() {
    test::TempDir dir;
    Settings settings(dir.path());
    settings.profile = MakeProfile("Old", "old.example.net");
    MessageRecorder messages;
    Frm_User dlg(settings);
    QVERIFY(test::ShowAndWait(&dlg));
    QCOMPARE(dlg.txt[3]->echoMode(), QLineEdit::Password);
    QCOMPARE(dlg.txt[1]->text(), QStringLiteral("old.example.net"));

    ClickButton(dlg.Btn[2]); // clear
    QCOMPARE(dlg.txt[0]->text(), QStringLiteral("Old"));
    QVERIFY(dlg.txt[1]->text().isEmpty() && dlg.txt[2]->text().isEmpty());
    QVERIFY(dlg.txt[3]->text().isEmpty());
    QCOMPARE(dlg.txt[4]->text(), QStringLiteral("/"));
    QCOMPARE(dlg.txt[5]->text(), QStringLiteral("/local/Old/"));

    ClickButton(dlg.Btn_Set[0]); // new setting
    QCOMPARE(dlg.txt[0]->text(), QStringLiteral("新しい接続"));
    QCOMPARE(dlg.txt[4]->text(), QStringLiteral("/"));
    QCOMPARE(dlg.txt[5]->text(), QStringLiteral("/local/Old/"));
    QCOMPARE(dlg.List->count(), 0); // nothing stored before OK
    dlg.txt[1]->setText(QStringLiteral("new.example.net"));
    ClickButton(dlg.Btn[0]);

    QVERIFY(messages.shown.empty());
    QCOMPARE(settings.profile.ProfileName, std::string("新しい接続"));
    QCOMPARE(ToQStrings(settings.ProfileNames()), QStringList{QStringLiteral("新しい接続")});
    QCOMPARE(ReadBack(dir.path(), "新しい接続").Server, std::string("new.example.net"));
    QCOMPARE(ReadBack(dir.path(), "新しい接続").Dir, std::string("/"));
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
    QCOMPARE(settings.profile.ProfileName, std::string("B"));
    QCOMPARE(settings.profile.Server, std::string("B.example.net"));
    QCOMPARE(dlg.txt[1]->text(), QStringLiteral("B.example.net"));
    QCOMPARE(dlg.txt[3]->text(), QStringLiteral("pw-B"));
    QCOMPARE(dlg.txt[5]->text(), QStringLiteral("/local/B/"));

    // A choice made by the program loads like a click.
    dlg.List->setCurrentRow(0);
    QCOMPARE(settings.profile.Server, std::string("A.example.net"));
    QCOMPARE(dlg.txt[0]->text(), QStringLiteral("A"));

    ClickButton(dlg.Btn[1]); // cancel
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
    QCOMPARE(settings.profile.ProfileName, std::string("A"));
    QCOMPARE(settings.profile.Server, std::string("A.example.net"));
}

void TestDialogs::profileDeleteFirstKeepsBoxes() {
    test::TempDir dir;
    Settings settings(dir.path());
    StoreProfiles(settings, {"A", "B", "C"});
    Frm_User dlg(settings);
    QVERIFY(test::ShowAndWait(&dlg));

    ClickButton(dlg.Btn_Set[1]); // nothing selected: nothing happens
    QCOMPARE(dlg.List->count(), 3);

    ClickListRow(dlg.List, 0);
    dlg.txt[2]->setText(QStringLiteral("edited"));
    ClickButton(dlg.Btn_Set[1]);
    QCOMPARE(ListTexts(dlg.List), (QStringList{"B", "C"}));
    QVERIFY(dlg.List->selectedItems().isEmpty());
    QCOMPARE(dlg.txt[0]->text(), QStringLiteral("A"));
    QCOMPARE(dlg.txt[2]->text(), QStringLiteral("edited"));
    QCOMPARE(ToQStrings(settings.ProfileNames()), (QStringList{"B", "C"}));
    QCOMPARE(settings.profile.ProfileName, std::string("A"));

    // A file that cannot be rewritten keeps the entry and says so.
    MessageRecorder messages;
    const QString ini = QString::fromStdString(settings.userIniPath());
    QVERIFY(QFile::remove(ini));
    QVERIFY(QDir().mkdir(ini));
    ClickListRow(dlg.List, 0);
    ClickButton(dlg.Btn_Set[1]);
    QCOMPARE(ListTexts(dlg.List), (QStringList{"B", "C"}));
    QCOMPARE(messages.shown.size(), size_t(1));
    QCOMPARE(messages.shown[0].text, QStringLiteral("設定を削除できませんでした"));
}

void TestDialogs::profileDeleteMiddleLoadsEntryAbove() {
    test::TempDir dir;
    Settings settings(dir.path());
    StoreProfiles(settings, {"A", "B", "C"});
    Frm_User dlg(settings);
    QVERIFY(test::ShowAndWait(&dlg));

    ClickListRow(dlg.List, 1);
    ClickButton(dlg.Btn_Set[1]);
    QCOMPARE(ListTexts(dlg.List), (QStringList{"A", "C"}));
    QCOMPARE(dlg.List->currentRow(), 0);
    QVERIFY(dlg.List->item(0)->isSelected());
    QCOMPARE(settings.profile.ProfileName, std::string("A"));
    QCOMPARE(dlg.txt[0]->text(), QStringLiteral("A"));
    QCOMPARE(dlg.txt[1]->text(), QStringLiteral("A.example.net"));
    QCOMPARE(ToQStrings(settings.ProfileNames()), (QStringList{"A", "C"}));

    // Deleting the last entry loads the one above it, not a neighbour below.
    ClickListRow(dlg.List, 1);
    ClickButton(dlg.Btn_Set[1]);
    QCOMPARE(ListTexts(dlg.List), QStringList{"A"});
    QCOMPARE(settings.profile.ProfileName, std::string("A"));
}

void TestDialogs::profileDeleteCurrentIsWrittenBackByNextSave() {
    test::TempDir dir;
    Settings settings(dir.path());
    StoreProfiles(settings, {"A", "B"});
    Frm_User dlg(settings);
    QVERIFY(test::ShowAndWait(&dlg));
    ClickListRow(dlg.List, 0); // A is now current
    ClickButton(dlg.Btn_Set[1]);
    QCOMPARE(ToQStrings(settings.ProfileNames()), QStringList{"B"});
    QCOMPARE(settings.profile.ProfileName, std::string("A"));
    QCOMPARE(settings.profile.Server, std::string("A.example.net"));

    ClickButton(dlg.Btn[0]);
    QCOMPARE(ToQStrings(settings.ProfileNames()), (QStringList{"B", "A"}));
    const ConnectionProfile back = ReadBack(dir.path(), "A");
    QCOMPARE(back.Server, std::string("A.example.net"));
    QCOMPARE(back.PassWord, std::string("pw-A"));
    QCOMPARE(back.LDir, std::string("/local/A/"));
}

void TestDialogs::profileFolderButtonUsesChooser() {
    test::TempDir dir;
    Settings settings(dir.path());
    Frm_User dlg(settings);
    QVERIFY(test::ShowAndWait(&dlg));
    dlg.txt[5]->setText(QStringLiteral("/before/"));

    QString chooserCaption;
    ui::SetDialogResponder([&](QDialog* opened) {
        chooserCaption = opened->windowTitle();
        auto* chooser = qobject_cast<Frm_Dir*>(opened);
        if (chooser) {
            chooser->SelectedFolder = QStringLiteral("/srv/site");
        }
        return int(QDialog::Accepted);
    });
    ClickButton(dlg.Command1);
    QCOMPARE(chooserCaption, QStringLiteral("ﾌｧｲﾙ検索"));
    QCOMPARE(dlg.txt[5]->text(), QStringLiteral("/srv/site"));

    // A chooser closed without a choice leaves the box alone.
    ui::SetDialogResponder([](QDialog*) { return int(QDialog::Rejected); });
    ClickButton(dlg.Command1);
    QCOMPARE(dlg.txt[5]->text(), QStringLiteral("/srv/site"));
    ui::SetDialogResponder(nullptr);
}

// ---------------------------------------------------------------------------------------
// Transfer details

void TestDialogs::extensionAddRules() {
    test::TempDir dir;
    Settings settings(dir.path());
    settings.SetDefaultAsciiExtensions();
    Frm_Ftp dlg(settings);
    QVERIFY(test::ShowAndWait(&dlg));
    const QStringList defaults = ToQStrings(DefaultAsciiExtensions());
    QCOMPARE(ListTexts(dlg.List), defaults);
    QCOMPARE(dlg.Btn[0]->toolTip(), QStringLiteral("ﾘｽﾄへ追加します"));
    QCOMPARE(dlg.Btn[1]->toolTip(), QStringLiteral("選択した拡張子をﾘｽﾄから削除します"));

    for (const char* refused : {"txt", "Html", "CGI", ""}) {
        dlg.txt->setText(QString::fromUtf8(refused));
        ClickButton(dlg.Btn[0]);
    }
    QCOMPARE(ListTexts(dlg.List), defaults);
    QCOMPARE(ToQStrings(settings.AsciiExtensionList), defaults);

    dlg.txt->setText(QStringLiteral(".doc"));
    ClickButton(dlg.Btn[0]);
    QCOMPARE(dlg.txt->text(), QStringLiteral(".doc"));
    dlg.txt->setText(QStringLiteral(" php "));
    ClickButton(dlg.Btn[0]);
    QStringList expected = defaults;
    expected << ".DOC"
             << " PHP ";
    QCOMPARE(ListTexts(dlg.List), expected);
    QCOMPARE(ToQStrings(settings.AsciiExtensionList), expected);
    QCOMPARE(dlg.List->currentRow(), expected.size() - 1);
    QVERIFY(dlg.List->currentItem()->isSelected());

    dlg.txt->setText(QStringLiteral(".Doc"));
    ClickButton(dlg.Btn[0]);
    QCOMPARE(ListTexts(dlg.List), expected);
}

void TestDialogs::extensionRemoveByButtonAndKey() {
    test::TempDir dir;
    Settings settings(dir.path());
    settings.SetDefaultAsciiExtensions();
    Frm_Ftp dlg(settings);
    QVERIFY(test::ShowAndWait(&dlg));

    dlg.List->clearSelection();
    ClickButton(dlg.Btn[1]); // nothing selected: nothing removed
    QCOMPARE(dlg.List->count(), 10);

    ClickListRow(dlg.List, 1); // CSS
    ClickButton(dlg.Btn[1]);
    ClickListRow(dlg.List, 0); // CGI
    QTest::keyClick(dlg.List, Qt::Key_Delete);
    QTest::keyClick(dlg.List, Qt::Key_Insert); // other keys do nothing
    const QStringList expected{"HTM", "HTML", "JAVA", "JS", "PL", "SHTM", "SHTML", "TXT"};
    QCOMPARE(ListTexts(dlg.List), expected);
    QCOMPARE(ToQStrings(settings.AsciiExtensionList), expected);
}

void TestDialogs::extensionRemovingAllMakesTransfersBinary() {
    test::TempDir dir;
    Settings settings(dir.path());
    settings.AsciiExtensionList = {"TXT"};
    {
        Frm_Ftp dlg(settings);
        QVERIFY(test::ShowAndWait(&dlg));
        ClickListRow(dlg.List, 0);
        ClickButton(dlg.Btn[1]);
        QCOMPARE(dlg.List->count(), 0);
        QVERIFY(settings.AsciiExtensionList.empty());
        QCOMPARE(GetTransferType("txt", settings.AsciiExtensionList), 2);
        ClickButton(dlg.Btn_Close);
    }
    settings.ListCache = false;
    Frm_Ftp again(settings);
    QCOMPARE(again.List->count(), 0);
    QVERIFY(!again.chk_list->isChecked());
}

void TestDialogs::extensionResetAndClose() {
    test::TempDir dir;
    Settings settings(dir.path());
    settings.AsciiExtensionList = {"PHP", "TXT"};
    Frm_Ftp dlg(settings);
    QVERIFY(test::ShowAndWait(&dlg));
    ClickButton(dlg.Btn[2]);
    const QStringList defaults{"CGI", "CSS", "HTM",  "HTML",  "JAVA",
                               "JS",  "PL",  "SHTM", "SHTML", "TXT"};
    QCOMPARE(ListTexts(dlg.List), defaults);
    QCOMPARE(ToQStrings(settings.AsciiExtensionList), defaults);

    dlg.txt->setText(QStringLiteral("md"));
    ClickButton(dlg.Btn[0]);
    QVERIFY(!QFileInfo::exists(QString::fromStdString(settings.ftpIniPath())));
    ClickButton(dlg.Btn_Close);
    QVERIFY(!dlg.isVisible());

    Settings fresh(dir.path());
    fresh.LoadAsciiExtensions();
    QCOMPARE(ToQStrings(fresh.AsciiExtensionList), QStringList(defaults) << "MD");
}

void TestDialogs::listCachingChangesAtOnce() {
    test::TempDir dir;
    Settings settings(dir.path());
    settings.ListCache = true;
    Frm_Ftp dlg(settings);
    QVERIFY(test::ShowAndWait(&dlg));
    QCOMPARE(dlg.Label1->text(), QStringLiteral("アスキーで転送する拡張子を指定してください\n"
                                                "リストにない拡張子は全てバイナリで転送されます"));
    QVERIFY(dlg.chk_list->isChecked());
    ClickButton(dlg.chk_list);
    QVERIFY(!settings.ListCache);
    ClickButton(dlg.chk_list);
    QVERIFY(settings.ListCache);
    dlg.chk_list->setChecked(false);
    QVERIFY(!settings.ListCache);
    dlg.close(); // the close box writes nothing now; the change is already live
    QVERIFY(!settings.ListCache);
    QVERIFY(!QFileInfo::exists(QString::fromStdString(settings.ftpIniPath())));
}

// ---------------------------------------------------------------------------------------
// Folder chooser

void TestDialogs::folderOkWithoutChangesReturnsCurrent() {
    CurrentFolderGuard guard;
    test::TempDir dir;
    QVERIFY(QDir().mkpath(QString::fromStdString(dir.file("b"))));
    QVERIFY(QDir().mkpath(QString::fromStdString(dir.file("a"))));
    QVERIFY(QDir::setCurrent(QString::fromStdString(dir.path())));

    Frm_Dir dlg;
    QVERIFY(test::ShowAndWait(&dlg));
    QCOMPARE(dlg.windowTitle(), QStringLiteral("ﾌｧｲﾙ検索"));
    QCOMPARE(dlg.dirList->path(), CurrentFolder());
    QCOMPARE(dlg.drvList->currentText(), QString::fromStdString(MountPointOfPath(
                                             CurrentFolder().toStdString(), ListMountPoints())));
    ClickButton(dlg.Btn[0]);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(dlg.SelectedFolder, CurrentFolder());
}

void TestDialogs::folderHighlightedEntryIsReturned() {
    CurrentFolderGuard guard;
    test::TempDir dir;
    QVERIFY(QDir().mkpath(QString::fromStdString(dir.file("site/www"))));
    QVERIFY(QDir().mkpath(QString::fromStdString(dir.file("logs"))));
    QVERIFY(QDir::setCurrent(QString::fromStdString(dir.path())));
    const QString root = CurrentFolder();

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

void TestDialogs::folderCancelAndCloseReturnNothing() {
    {
        Frm_Dir dlg;
        QVERIFY(test::ShowAndWait(&dlg));
        ClickButton(dlg.Btn[1]);
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QVERIFY(dlg.SelectedFolder.isEmpty());
    }
    Frm_Dir dlg;
    QVERIFY(test::ShowAndWait(&dlg));
    dlg.close();
    QVERIFY(!dlg.isVisible());
    QVERIFY(dlg.SelectedFolder.isEmpty());
}

void TestDialogs::folderUnreadableMountLeavesListsAlone() {
    CurrentFolderGuard guard;
    test::TempDir dir;
    QVERIFY(QDir().mkpath(QString::fromStdString(dir.file("disk/inner"))));
    QVERIFY(QDir().mkpath(QString::fromStdString(dir.file("work"))));
    QVERIFY(QDir::setCurrent(QString::fromStdString(dir.file("work"))));

    Frm_Dir dlg;
    QVERIFY(test::ShowAndWait(&dlg));
    const std::string disk = dir.file("disk");
    const std::string gone = dir.file("no-medium");
    dlg.SetMountPoints({"/", disk, gone});
    QCOMPARE(dlg.drvList->currentText(), QStringLiteral("/"));
    const QString before = dlg.dirList->path();

    dlg.drvList->setCurrentIndex(2);
    QCOMPARE(dlg.dirList->path(), before);
    QCOMPARE(dlg.drvList->currentText(), QStringLiteral("/"));

    dlg.drvList->setCurrentIndex(1);
    QCOMPARE(dlg.dirList->path(), QString::fromStdString(disk));
    QCOMPARE(dlg.drvList->currentText(), QString::fromStdString(disk));
    ClickButton(dlg.Btn[0]);
    QCOMPARE(dlg.SelectedFolder, QString::fromStdString(disk));
}

// ---------------------------------------------------------------------------------------
// About box

void TestDialogs::aboutTexts() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::darkGreen);
    const QIcon icon(pixmap);
    Frm_Ver dlg(icon);
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Oxlip のバージョン情報"));
    QVERIFY(!dlg.windowIcon().isNull());
    QVERIFY(!dlg.Image1->pixmap().isNull());
    QCOMPARE(dlg.Label1->text(), QStringLiteral("Oxlip"));
    QCOMPARE(dlg.Label2->text(), QString::fromStdString(VersionText()));
    QCOMPARE(VersionText(1, 0, 1), std::string("1.01"));
    QCOMPARE(VersionText(1, 2, 15), std::string("1.215"));
    QCOMPARE(dlg.Label3->text().split(QLatin1Char('\n')),
             (QStringList{"FTP転送試験ソフト", "", "㈱ノルベア"}));
    QCOMPARE(dlg.Label4->text(), Frm_Ver::WebAddress());
    QCOMPARE(dlg.Label5->text(), Frm_Ver::MailAddress());
}

void TestDialogs::aboutLinkHoverAndClicks() {
    Frm_Ver dlg{QIcon()};
    QVERIFY(test::ShowAndWait(&dlg));
    auto isHighlighted = [](QLabel* label) {
        return label->font().underline() &&
               label->palette().color(QPalette::WindowText) == QColor(0, 0, 255);
    };
    auto isPlain = [](QLabel* label) {
        return !label->font().underline() &&
               label->palette().color(QPalette::WindowText) == QColor(0, 0, 0);
    };
    QVERIFY(isPlain(dlg.Label4) && isPlain(dlg.Label5));

    QTest::mouseMove(dlg.Label4, QPoint(5, dlg.Label4->height() / 2));
    QTRY_VERIFY_WITH_TIMEOUT(isHighlighted(dlg.Label4), 2000);
    QVERIFY(isPlain(dlg.Label5));
    QTest::mouseMove(dlg.Label5, QPoint(5, dlg.Label5->height() / 2));
    QTRY_VERIFY_WITH_TIMEOUT(isHighlighted(dlg.Label5), 2000);
    QVERIFY(isPlain(dlg.Label4));
    QTest::mouseMove(&dlg, QPoint(4, dlg.height() - 4));
    QTRY_VERIFY_WITH_TIMEOUT(isPlain(dlg.Label5), 2000);
    QVERIFY(isPlain(dlg.Label4));

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
// Layout of every dialog

namespace {

bool IsOurs(const QWidget* w) {
    return !w->objectName().isEmpty() && !w->objectName().startsWith(QLatin1String("qt_"));
}

// Where a text does not fit, a line naming the widget; empty when everything fits.
QStringList CutTexts(QWidget* dialog) {
    QStringList problems;
    for (QWidget* w : dialog->findChildren<QWidget*>()) {
        if (!IsOurs(w)) {
            continue;
        }
        const QString where = dialog->objectName() + "/" + w->objectName();
        if (auto* button = qobject_cast<QPushButton*>(w)) {
            // The style's minimum width for buttons is no part of the text: measure the
            // text inside the button's frame.
            const QFontMetrics fm(button->font());
            const QString text = QString(button->text()).remove(QLatin1Char('&'));
            const int frame = 2 * button->style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
            if (fm.horizontalAdvance(text) + frame > button->width() ||
                fm.height() + frame > button->height()) {
                problems << where + " text cut";
            }
        } else if (auto* label = qobject_cast<QLabel*>(w)) {
            if (!label->pixmap().isNull() || label->text().isEmpty()) {
                continue;
            }
            const QSize hint = label->sizeHint();
            const bool multiLine = label->wordWrap() || label->text().contains('\n');
            if ((!multiLine && hint.width() > label->width()) || hint.height() > label->height()) {
                problems << where + " text cut";
            }
        } else if (auto* check = qobject_cast<QCheckBox*>(w)) {
            if (check->sizeHint().width() > check->width()) {
                problems << where + " text cut";
            }
        } else if (auto* frame = qobject_cast<QGroupBox*>(w)) {
            const QFontMetrics fm(frame->font());
            if (fm.horizontalAdvance(frame->title()) + 16 > frame->width()) {
                problems << where + " title cut";
            }
        }
    }
    return problems;
}

// Siblings that overlap, and children that stick out of their parent.
QStringList Overlaps(QWidget* dialog) {
    QStringList problems;
    QList<QWidget*> parents{dialog};
    for (QWidget* w : dialog->findChildren<QWidget*>()) {
        if (IsOurs(w)) {
            parents << w;
        }
    }
    for (QWidget* parent : parents) {
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
    CurrentFolderGuard guard;
    test::TempDir dir;
    Settings settings(dir.path());
    settings.SetDefaultAsciiExtensions();
    StoreProfiles(settings, {"Office", "Home", "テストサーバ"});
    settings.profile = MakeProfile("Office", "ftp.example.net");
    QVERIFY(QDir().mkpath(QString::fromStdString(dir.file("work/www"))));
    QVERIFY(QDir().mkpath(QString::fromStdString(dir.file("work/cgi-bin"))));
    QVERIFY(QDir::setCurrent(QString::fromStdString(dir.file("work"))));

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
        const QStringList cut = CutTexts(dialog.get());
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join("; ")));
        const QStringList overlaps = Overlaps(dialog.get());
        QVERIFY2(overlaps.isEmpty(), qPrintable(overlaps.join("; ")));
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
