// The main window without a server: start-up, layout, the local pane and its navigation,
// sorting, the context menu, the toolbar, the profile switch and closing.

#include "app/Frm_Main.h"
#include "app/PaneView.h"
#include "dialogs/Frm_State.h"
#include "settings/Settings.h"
#include "settings/Version.h"
#include "support/WindowTestSupport.h"

#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <tuple>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

using namespace oxlip;
using namespace oxlip::test;

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// A toolbar pair: the element shown, then whether each element is enabled ("0ee", "1dd").
QString Look(const ImagePair& p) {
    return QStringLiteral("%1%2%3")
        .arg(p.shownElement())
        .arg(p.element(0)->isEnabled() ? 'e' : 'd')
        .arg(p.element(1)->isEnabled() ? 'e' : 'd');
}

QStringList ItemTexts(const QComboBox* box) {
    QStringList out;
    for (int i = 0; i < box->count(); ++i) {
        out << box->itemText(i);
    }
    return out;
}

// The connection-related controls in one string, for comparing whole states at once.
QString StateOf(const Frm_Main& w) {
    return QStringList{
        w.m_Connect->isEnabled() ? "C" : "c",
        w.m_Disconnect->isEnabled() ? "D" : "d",
        w.m_User->isEnabled() ? "U" : "u",
        w.Btn_Con->text(),
        w.Btn_User->isEnabled() ? "BU" : "bu",
        w.Btn_Trs[0]->isEnabled() && w.Btn_Trs[1]->isEnabled() ? "T" : "t",
        w.cmb->isEnabled() ? "P" : "p",
        Look(*w.imgConnecttButton),
        Look(*w.imgCutButton),
        Look(*w.imgDounButtonUp),
        Look(*w.imgUpButtonUp),
        Look(*w.imgSettingButtonUp),
    }
        .join(QLatin1Char(' '));
}

// The options a view draws its items with.
struct OptionPeek : QAbstractItemView {
    using QAbstractItemView::initViewItemOption;
};
QStyleOptionViewItem ItemOption(const QAbstractItemView* view) {
    QStyleOptionViewItem option;
    (view->*(&OptionPeek::initViewItemOption))(&option);
    return option;
}

const QString kDisconnected = QStringLiteral("C d U 接続 BU t P 0ee 1dd 1dd 1dd 0ee");

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void firstStartWithoutSettings();
    void layoutFollowsTheSizeAndSpringsBack();
    void folderChainsOpenAndUp();
    void enterAndFailingEnter();
    void commandsIgnoreAPathTypedWithoutEnter();
    void aDriveThatDoesNotAnswerLeavesTheWindowUsable();
    void itemColumnsAndIcons();
    void sortingBySizeValueAndOrder();
    void contextMenuStatesWhileDisconnected();
    void toolbarPairsFollowTheFocusedPane();
    void viewsShareModelAndSelection();
    void everyViewShowsWholeNames();
    void profileSwitchAndClosingSaveTheSettings();
    void aFailedSaveIsReported();
    void statusLogKeepsTheNewestLineInView();
    void progressWindowBar();
    void windowSinkWordsEveryEvent();
};

void MainWindowTest::firstStartWithoutSettings() {
    WindowHarness h;
    MakeFile(h.local("readme.txt"), 10);
    MakeDir(h.local("sub"));
    Frm_Main& w = h.start();

    QCOMPARE(w.cmb->count(), 0);
    QCOMPARE(w.Cmb_Dir[0]->currentText(), Q(h.local()));
    QCOMPARE(Q(h.settings->profile.LastPathLocal), Q(h.local()));
    QCOMPARE(PaneNames(w.lv[0]), (QStringList{"readme.txt", "sub"}));
    QCOMPARE(w.lv[1]->count(), 0);
    QCOMPARE(w.Cmb_Dir[1]->count(), 0);
    QCOMPARE(w.StatList->lines(),
             (QStringList{"Welcom !!  Oxlip  Vre." + Q(VersionText()), QString(61, '-')}));
    QCOMPARE(StateOf(w), kDisconnected);
    // The new-folder and delete images start greyed; the local pane's focus makes them active.
    QCOMPARE(w.imgMakeButton->shownElement() + w.imgDelButton->shownElement(), 2);
    QCOMPARE(w.Cmb_Trs->currentIndex(), 0);
    QCOMPARE(w.ActivePane, 0);
    // The window shows the icon installed for the desktop's menu, pixel for pixel.
    const auto premultiplied = [](const QImage& image) {
        return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    };
    const QImage menuIcon(QStringLiteral(
        OXLIP_TEST_SERVERS_DIR "/../../data/icons/hicolor/48x48/apps/org.oxlip.Oxlip.png"));
    QVERIFY(!menuIcon.isNull());
    QCOMPARE(premultiplied(w.windowIcon().pixmap(48, 48).toImage()), premultiplied(menuIcon));
}

void MainWindowTest::layoutFollowsTheSizeAndSpringsBack() {
    WindowHarness h;
    Frm_Main& w = h.start();

    w.resize(1000, 700);
    QTRY_COMPARE(w.size(), QSize(1000, 700));
    const int W = w.client->width();
    const int H = w.client->height();
    QCOMPARE(W, 1000);
    QCOMPARE(w.lv[0]->geometry(), QRect(8, 112, qRound(W / 2.3), H - 185));
    QCOMPARE(w.lv[1]->geometry(), QRect(qRound(W / 1.822), 112, qRound(W / 2.3), H - 185));
    QCOMPARE(w.Drv->x(), 32);
    QCOMPARE(w.Cmb_Dir[0]->geometry().right() + 1, w.lv[0]->geometry().right() + 1 - 8);
    QCOMPARE(w.Btn[1]->x(), w.lv[1]->x());
    QCOMPARE(w.Cmb_Dir[1]->x(), w.lv[1]->x() + 24);
    QCOMPARE(w.Cmb_Dir[1]->geometry().right(), w.lv[1]->geometry().right());
    QCOMPARE(w.Btn_Trs[0]->x(), qRound(W / 2.0 - 24.5));
    QCOMPARE(w.Btn_Trs[1]->x(), w.Btn_Trs[0]->x());
    QCOMPARE(w.Btn_Ftp->x(), w.lv[1]->geometry().right() + 1 - 76);
    QCOMPARE(w.Btn_User->x(), w.Btn_Ftp->x() - 80);
    QCOMPARE(w.Btn_Con->x(), w.Btn_User->x() - 80);
    QCOMPARE(w.StatList->geometry(), QRect(0, H - 185 + 112 + 3, W, 68));
    // Fixed places.
    QCOMPARE(w.cmb->pos(), QPoint(8, 48));
    QCOMPARE(w.Cmb_Trs->pos(), QPoint(176, 48));
    QCOMPARE(w.Btn_Con->y(), 32);

    // Smaller than the minimum: back to an outer size of 708 x 386.
    w.resize(400, 200);
    QTRY_COMPARE(w.frameGeometry().size(), QSize(kMinOuterWidthPx, kMinOuterHeightPx));
    QCOMPARE(w.lv[0]->height(), w.client->height() - 185);
    QCOMPARE(w.lv[0]->width(), qRound(w.client->width() / 2.3));
}

void MainWindowTest::folderChainsOpenAndUp() {
    WindowHarness h;
    MakeDir(h.local("work/sub"));
    Frm_Main& w = h.start();
    // The folder and every ancestor up to "/", each with its final "/".
    QStringList expected;
    QString up = Q(h.local("work/sub/"));
    for (int i = 0; i < 64 && !up.isEmpty(); ++i, up.truncate(up.lastIndexOf('/', -2) + 1)) {
        expected << up;
    }
    QVERIFY(w.SetLocalPath(h.local("work/sub/")));
    QCOMPARE(ItemTexts(w.Cmb_Dir[0]), expected);
    QCOMPARE(expected.last(), QStringLiteral("/"));

    // Typed without its final "/": entry 0 stays as typed; a folder opened in it gets one.
    // A double-click on a file opens nothing.
    MakeDir(h.local("work/sub/deeper"));
    MakeFile(h.local("work/sub/file.bin"), 5);
    QVERIFY(w.SetLocalPath(h.local("work/sub")));
    QCOMPARE(w.Cmb_Dir[0]->itemText(0), Q(h.local("work/sub")));
    QCOMPARE(w.Cmb_Dir[0]->itemText(1), Q(h.local("work/")));
    DoubleClickItem(w.lv[0], "file.bin");
    QCOMPARE(w.Cmb_Dir[0]->currentText(), Q(h.local("work/sub")));
    QCOMPARE(w.lv[0]->count(), 2);
    DoubleClickItem(w.lv[0], "deeper");
    QCOMPARE(w.Cmb_Dir[0]->currentText(), Q(h.local("work/sub/deeper/")));
    QCOMPARE(w.Cmb_Dir[0]->itemText(1), Q(h.local("work/sub/")));

    // Up by the button rebuilds the chain; Backspace goes up too; at the root nothing happens.
    QTest::mouseClick(w.Btn[0], Qt::LeftButton);
    QCOMPARE(w.Cmb_Dir[0]->currentText(), Q(h.local("work/sub/")));
    QCOMPARE(w.Cmb_Dir[0]->itemText(0), Q(h.local("work/sub/")));
    QCOMPARE(PaneNames(w.lv[0]), (QStringList{"deeper", "file.bin"}));
    QVERIFY(w.Btn[0]->isEnabled());
    w.lv[0]->currentView()->setFocus();
    QTest::keyClick(w.lv[0]->currentView(), Qt::Key_Backspace);
    QCOMPARE(w.Cmb_Dir[0]->currentText(), Q(h.local("work/")));
    QVERIFY(w.SetLocalPath("/"));
    QTest::mouseClick(w.Btn[0], Qt::LeftButton);
    QCOMPARE(w.Cmb_Dir[0]->currentText(), QStringLiteral("/"));
    QCOMPARE(ItemTexts(w.Cmb_Dir[0]), QStringList{"/"});

    // The host side: "/" alone, and a deeper path, without a connection.
    QVERIFY(w.SetHostPath("/"));
    QCOMPARE(ItemTexts(w.Cmb_Dir[1]), QStringList{"/"});
    QVERIFY(w.SetHostPath("/pub/sub/"));
    QCOMPARE(ItemTexts(w.Cmb_Dir[1]), (QStringList{"/pub/sub/", "/pub/", "/"}));
}

void MainWindowTest::enterAndFailingEnter() {
    WindowHarness h;
    MakeFile(h.local("a/inside.txt"));
    Frm_Main& w = h.start();

    TypePathAndEnter(w.Cmb_Dir[0], Q(h.local("a/")));
    QCOMPARE(w.Cmb_Dir[0]->currentText(), Q(h.local("a/")));
    QCOMPARE(PaneNames(w.lv[0]), QStringList{"inside.txt"});

    // Not absolute: the probe refuses it, and the box shows the current folder again.
    TypePathAndEnter(w.Cmb_Dir[0], QStringLiteral("relative/path"));
    QCOMPARE(w.Cmb_Dir[0]->currentText(), Q(h.local("a/")));
    QCOMPARE(w.Cmb_Dir[0]->itemText(0), Q(h.local("a/")));
    QCOMPARE(PaneNames(w.lv[0]), QStringList{"inside.txt"});

    // A path that merely does not exist passes: the pane is left empty.
    TypePathAndEnter(w.Cmb_Dir[0], Q(h.local("missing/")));
    QCOMPARE(w.Cmb_Dir[0]->currentText(), Q(h.local("missing/")));
    QCOMPARE(w.lv[0]->count(), 0);

    // Picking an ancestor from the list shows it and keeps the deeper entries.
    TypePathAndEnter(w.Cmb_Dir[0], Q(h.local("a/")));
    const int parent = w.Cmb_Dir[0]->findText(Q(h.local()));
    QVERIFY(parent > 0);
    w.Cmb_Dir[0]->setFocus();
    for (int i = 0; i < parent; ++i) {
        QTest::keyClick(w.Cmb_Dir[0], Qt::Key_Down);
    }
    QCOMPARE(w.Cmb_Dir[0]->currentText(), Q(h.local()));
    QCOMPARE(PaneNames(w.lv[0]), QStringList{"a"});
    QCOMPARE(w.Cmb_Dir[0]->itemText(0), Q(h.local("a/")));
}

void MainWindowTest::commandsIgnoreAPathTypedWithoutEnter() {
    WindowHarness h;
    MakeFile(h.local("site/index.html"));
    MakeFile(h.local("other/index.html"));
    Frm_Main& w = h.start();
    QVERIFY(w.SetLocalPath(h.local("site/")));
    TypePath(w.Cmb_Dir[0], Q(h.local("other/")));
    ClickItem(w.lv[0], "index.html");

    // Delete, new folder and refresh act on the folder the pane shows.
    MessageScript messages;
    QTest::keyClick(w.lv[0]->currentView(), Qt::Key_Delete);
    QCOMPARE(messages.texts.size(), 1);
    QVERIFY(std::filesystem::exists(h.local("other/index.html")));
    QVERIFY(!std::filesystem::exists(h.local("site/index.html")));
    QTest::mouseClick(w.imgMakeButton->element(0), Qt::LeftButton);
    QVERIFY(std::filesystem::is_directory(h.local("site/新しいフォルダ")));
    QTest::keyClick(w.lv[0]->currentView(), Qt::Key_F5);
    QCOMPARE(PaneNames(w.lv[0]), QStringList{"新しいフォルダ"});
    QVERIFY(!std::filesystem::exists(h.local("other/新しいフォルダ")));
}

void MainWindowTest::aDriveThatDoesNotAnswerLeavesTheWindowUsable() {
    WindowHarness h;
    MakeFile(h.local("kept.txt"));
    Frm_Main& w = h.start();
    const QString shown = w.Cmb_Dir[0]->currentText();
    const int drive = w.Drv->currentIndex();
    QVERIFY(drive >= 0);
    // The drive hangs until the test ends (bounded: at most 20 s).
    auto release = std::make_shared<std::atomic<bool>>(false);
    w.setDriveProbe(
        [release](const std::string&) {
            for (int i = 0; i < 2000 && !*release; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            return true;
        },
        300);
    int turns = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&turns]() { ++turns; });
    tick.start(10);
    MessageScript messages;
    QElapsedTimer took;
    took.start();
    w.Drv->showPopup();
    QTest::keyClick(w.Drv->view(), Qt::Key_Return);
    release->store(true);
    QVERIFY(took.elapsed() < 5000);
    QVERIFY(turns >= 5); // the window kept working while it waited
    QCOMPARE(messages.texts, QStringList{w.Drv->itemText(drive) + " が応答しません"});
    QCOMPARE(w.Cmb_Dir[0]->currentText(), shown);
    QCOMPARE(PaneNames(w.lv[0]), QStringList{"kept.txt"});
    QCOMPARE(w.Drv->currentIndex(), drive);

    // A drive that answers is shown.
    w.setDriveProbe([](const std::string&) { return true; }, 300);
    w.Drv->showPopup();
    QTest::keyClick(w.Drv->view(), Qt::Key_Return);
    QString root = w.Drv->itemText(drive);
    QCOMPARE(w.Cmb_Dir[0]->currentText(), root.endsWith('/') ? root : root + '/');
}

void MainWindowTest::itemColumnsAndIcons() {
    WindowHarness h;
    MakeFile(h.local("readme.txt"), 3000);
    MakeFile(h.local("Makefile"), 1);
    MakeFile(h.local("pic.PNG"), 1);
    MakeDir(h.local("dir.d"));
    Frm_Main& w = h.start();
    PaneView* pane = w.lv[0];

    // Size | type | icon (1 folder, 2 ASCII file, 3 other file) | whether a date is shown.
    auto cells = [pane](const QString& name) {
        const int row = RowOf(pane, name);
        return QStringList{pane->cellText(row, 1), pane->cellText(row, 2),
                           QString::number(pane->iconIndex(row)),
                           pane->cellText(row, 3).isEmpty() ? "" : "date"}
            .join('|');
    };
    QCOMPARE(cells("readme.txt"), QStringLiteral("2KB|TXT|2|date"));
    QCOMPARE(cells("Makefile"), QStringLiteral("1KB||3|date"));
    QCOMPARE(cells("pic.PNG"), QStringLiteral("1KB|PNG|3|date"));
    QCOMPARE(cells("dir.d"), QStringLiteral("|<フォルダ>|1|date"));
    const int readme = RowOf(pane, "readme.txt");
    QCOMPARE(w.FindPaneItem(0, "readme.txt"), readme + 1);
    QCOMPARE(w.FindPaneItem(0, "README.TXT"), 0);

    // The ASCII list decides the icon, without regard to case; an empty list makes none.
    QVERIFY(w.IsAsciiFile("index.Html"));
    QVERIFY(!w.IsAsciiFile("archive.zip"));
    h.settings->AsciiExtensionList = {""};
    QVERIFY(!w.IsAsciiFile("Makefile"));
    h.settings->AsciiExtensionList.clear();
    QVERIFY(!w.IsAsciiFile("readme.txt"));

    // The host pane's access column: the permission digits as hexadecimal text.
    DirEntry entry;
    entry.permissions = 0755;
    entry.size = 5'000'000'000ULL;
    QVERIFY(w.AddPaneItem(1, "big.iso", entry));
    QCOMPARE(w.lv[1]->cellText(0, 4), QStringLiteral("755"));
    QCOMPARE(w.lv[1]->cellText(0, 1), QStringLiteral("4,882,812KB"));
}

void MainWindowTest::sortingBySizeValueAndOrder() {
    WindowHarness h;
    MakeFile(h.local("nine.bin"), 9 * 1024);
    MakeFile(h.local("ten.bin"), 10 * 1024);
    MakeFile(h.local("hundred.bin"), 100 * 1024);
    MakeDir(h.local("Alpha"));
    Frm_Main& w = h.start();
    PaneView* pane = w.lv[0];
    QHeaderView* header = pane->detailsView()->header();
    auto clickColumn = [header](int column) {
        const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(x, header->height() / 2));
    };

    // Names sort as text, without regard to case.
    QCOMPARE(PaneNames(pane), (QStringList{"Alpha", "hundred.bin", "nine.bin", "ten.bin"}));

    clickColumn(1); // size, ascending by value: "10KB" after "9KB"
    QCOMPARE(PaneNames(pane), (QStringList{"Alpha", "nine.bin", "ten.bin", "hundred.bin"}));
    clickColumn(1); // the same column flips the order
    QCOMPARE(PaneNames(pane), (QStringList{"hundred.bin", "ten.bin", "nine.bin", "Alpha"}));
    clickColumn(0); // another column keeps the order
    QCOMPARE(PaneNames(pane), (QStringList{"ten.bin", "nine.bin", "hundred.bin", "Alpha"}));

    // An item added later takes its sorted place.
    DirEntry entry;
    QVERIFY(w.AddPaneItem(0, "middle.bin", entry));
    QCOMPARE(PaneNames(pane),
             (QStringList{"ten.bin", "nine.bin", "middle.bin", "hundred.bin", "Alpha"}));

    // A new listing comes in the current order, also after the rows were sorted again.
    clickColumn(1);
    QVERIFY(w.ShowLocalFolder(h.local()));
    QCOMPARE(PaneNames(pane), (QStringList{"hundred.bin", "ten.bin", "nine.bin", "Alpha"}));
    clickColumn(1);
    QCOMPARE(PaneNames(pane), (QStringList{"Alpha", "nine.bin", "ten.bin", "hundred.bin"}));
    QVERIFY(w.ShowLocalFolder(h.local()));
    QCOMPARE(PaneNames(pane), (QStringList{"Alpha", "nine.bin", "ten.bin", "hundred.bin"}));
}

void MainWindowTest::contextMenuStatesWhileDisconnected() {
    WindowHarness h;
    MakeFile(h.local("f.txt"));
    Frm_Main& w = h.start();
    auto states = [&w]() {
        QString out;
        for (QAction* a :
             {w.m_MakeFolder, w.m_Permision, w.m_ChangeName, w.m_DelFile, w.m_ReLoad}) {
            out += a->isEnabled() ? '1' : '0';
        }
        return out;
    };
    // New folder, permissions, rename, delete, refresh: on the local pane, then the host's.
    const QString expected[2] = {"10111", "00000"};
    for (int n = 0; n < 2; ++n) {
        QTest::mouseClick(w.lv[n]->currentView()->viewport(), Qt::RightButton, Qt::NoModifier,
                          QPoint(20, 10));
        QTRY_VERIFY(w.m_Edit->isVisible());
        QCOMPARE(states(), expected[n]);
        w.m_Edit->hide();
    }
}

void MainWindowTest::toolbarPairsFollowTheFocusedPane() {
    WindowHarness h;
    Frm_Main& w = h.start();
    w.activateWindow();
    // The new-folder and delete pairs: active for the local pane, greyed for the host's.
    for (int pane : {1, 0, 1}) {
        w.lv[pane]->currentView()->setFocus();
        QTRY_COMPARE(w.ActivePane, pane);
        QCOMPARE(Look(*w.imgMakeButton) + " " + Look(*w.imgDelButton),
                 pane == 0 ? QStringLiteral("0ee 0ee") : QStringLiteral("1dd 1dd"));
    }
}

void MainWindowTest::viewsShareModelAndSelection() {
    WindowHarness h;
    MakeFile(h.local("a.txt"));
    MakeFile(h.local("b.txt"));
    Frm_Main& w = h.start();
    ClickItem(w.lv[0], "b.txt");
    QCOMPARE(w.lv[0]->selectedRow(), RowOf(w.lv[0], "b.txt"));
    const QListView::ViewMode listModes[3] = {QListView::IconMode, QListView::ListMode,
                                              QListView::ListMode};
    for (int i = 0; i < 3; ++i) {
        w.m_ListView[i]->trigger();
        QCOMPARE(w.lv[0]->currentView(), static_cast<QAbstractItemView*>(w.lv[0]->listView()));
        QCOMPARE(w.lv[0]->listView()->viewMode(), listModes[i]);
        QCOMPARE(w.lv[0]->listView()->iconSize(), i == 0 ? QSize(32, 32) : QSize(16, 16));
        QCOMPARE(w.lv[0]->selectedRow(), RowOf(w.lv[0], "b.txt"));
    }
    QCOMPARE(w.lv[1]->viewMode(), int(PaneView::Details)); // the host pane has its own view
    w.m_ListView[3]->trigger();
    QCOMPARE(w.lv[0]->currentView(), static_cast<QAbstractItemView*>(w.lv[0]->detailsView()));
    w.h_ListView[0]->trigger();
    QCOMPARE(w.lv[1]->viewMode(), int(PaneView::LargeIcons));
    // A double-click in the large-icon view opens a folder as well.
    MakeDir(h.local("c"));
    w.m_ReLoad->trigger();
    w.m_ListView[0]->trigger();
    DoubleClickItem(w.lv[0], "c");
    QCOMPARE(w.Cmb_Dir[0]->currentText(), Q(h.local("c/")));
}

void MainWindowTest::everyViewShowsWholeNames() {
    WindowHarness h;
    const QStringList names{"a.txt", "index.html.before-the-redesign-of-2024-kept-for-reference",
                            "お知らせ一覧のページ（二〇二四年度版）の下書きと写真.html",
                            "words that wrap at their spaces under a large icon.txt"};
    for (const QString& name : names) {
        MakeFile(h.local(name.toStdString()));
    }
    Frm_Main& w = h.start();
    PaneView* pane = w.lv[0];
    QStyledItemDelegate plain; // measures a whole name as the view draws it
    for (int mode : {0, 1, 2, 3}) {
        w.m_ListView[mode]->trigger();
        QTest::qWait(0);
        const QAbstractItemView* view = pane->currentView();
        for (const QString& name : names) {
            const QModelIndex index = pane->model()->index(RowOf(pane, name), 0);
            QStyleOptionViewItem option = ItemOption(view);
            option.rect = view->visualRect(index);
            const QSize whole = plain.sizeHint(option, index);
            QVERIFY2(whole.width() <= option.rect.width() && whole.height() <= option.rect.height(),
                     qPrintable(QStringLiteral("view %1: %2").arg(mode).arg(name)));
        }
    }
}

void MainWindowTest::profileSwitchAndClosingSaveTheSettings() {
    WindowHarness h;
    MakeDir(h.local("a-start"));
    MakeFile(h.local("b-start/in-b.txt"));
    h.writeFtpIni(
        "[Oxlip]\nUser=A\nListCache=False\n[Extension]\nExtension0=CGI\nExtension1=txt\n");
    h.writeUserIni("[A]\nServer=a.example\nLDir=" + h.local("a-start/") + "\nTransMode=2\n" +
                   "LastPathLocal=" + h.local("a-start/") +
                   "\n[B]\nServer=b.example\nLDir=" + h.local("b-start/") +
                   "\nTransMode=0\nLastPathLocal=" + h.local("b-start/") + "\n");
    Settings reread(h.settingsDir.path());
    auto stored = [&reread](const char* name) {
        reread.profile.ProfileName = name;
        reread.LoadProfile();
        return QStringLiteral("%1 %2").arg(Q(reread.profile.Server)).arg(reread.profile.TransMode);
    };
    {
        Frm_Main& w = h.start();
        QCOMPARE(ItemTexts(w.cmb), (QStringList{"A", "B"}));
        QCOMPARE(w.cmb->currentText(), QStringLiteral("A"));
        QCOMPARE(w.Cmb_Trs->currentIndex(), 2);
        QCOMPARE(w.Cmb_Dir[0]->currentText(), Q(h.local("a-start/")));

        // The user picks ASCII, then the profile B: A is stored with its new mode.
        w.Cmb_Trs->setFocus();
        QTest::keyClick(w.Cmb_Trs, Qt::Key_Up);
        QCOMPARE(w.Cmb_Trs->currentIndex(), 1);
        QCOMPARE(h.settings->profile.TransMode, 1);
        w.cmb->setFocus();
        QTest::keyClick(w.cmb, Qt::Key_Down);
        QCOMPARE(w.cmb->currentText(), QStringLiteral("B"));
        QCOMPARE(Q(h.settings->profile.ProfileName), QStringLiteral("B"));
        QCOMPARE(Q(h.settings->profile.Server), QStringLiteral("b.example"));
        QCOMPARE(w.Cmb_Trs->currentIndex(), 0);
        QCOMPARE(w.Cmb_Dir[0]->currentText(), Q(h.local("b-start/")));
        QCOMPARE(PaneNames(w.lv[0]), QStringList{"in-b.txt"});
        QCOMPARE(stored("A"), QStringLiteral("a.example 1"));

        // Binary for B, then closing, which asks nothing while not connected.
        w.Cmb_Trs->setFocus();
        QTest::keyClick(w.Cmb_Trs, Qt::Key_End);
        QCOMPARE(w.Cmb_Trs->currentIndex(), 2);
        MessageScript messages;
        QVERIFY(w.close());
        QVERIFY(messages.texts.isEmpty());
    }
    reread.LoadAsciiExtensions();
    reread.LoadAppSettings(nullptr);
    QCOMPARE(Q(reread.profile.ProfileName), QStringLiteral("B"));
    QCOMPARE(reread.ListCache, false);
    QCOMPARE(reread.AsciiExtensionList, (std::vector<std::string>{"CGI", "txt"}));
    QCOMPARE(stored("B"), QStringLiteral("b.example 2"));
    // The placement in twips: the outer size of the window as it was.
    const std::string ftpIni = ReadFileBytes(h.settingsDir.file("Ftp.ini"));
    QVERIFY2(ftpIni.find("Width=10620\r\n") != std::string::npos, ftpIni.c_str());
    QVERIFY2(ftpIni.find("Height=5790\r\n") != std::string::npos, ftpIni.c_str());
}

void MainWindowTest::aFailedSaveIsReported() {
    WindowHarness h;
    // The settings folder is a file: nothing can be written into it.
    const std::string blocked = h.settingsDir.file("blocked");
    WriteFileBytes(blocked, "x");
    h.settings = std::make_unique<Settings>(blocked);
    Frm_Main& w = h.start();
    h.settings->profile.ProfileName = "P";
    MessageScript messages;
    QVERIFY(w.close());
    QCOMPARE(messages.texts.size(), 1);
    QVERIFY(messages.texts[0].startsWith(QStringLiteral("設定を保存出来ませんでした\r\n")));
    QVERIFY(messages.texts[0].contains(QStringLiteral("Ftp.ini")));
    QVERIFY(messages.texts[0].contains(QStringLiteral("User.ini")));
}

void MainWindowTest::statusLogKeepsTheNewestLineInView() {
    WindowHarness h;
    Frm_Main& w = h.start();
    for (int i = 0; i < 20; ++i) {
        w.StatList->appendLine(QStringLiteral("line %1").arg(i));
    }
    QListWidgetItem* last = w.StatList->item(w.StatList->count() - 1);
    QTRY_VERIFY(w.StatList->viewport()->rect().contains(w.StatList->visualItemRect(last)));
    QVERIFY(!w.StatList->viewport()->rect().intersects(
        w.StatList->visualItemRect(w.StatList->item(0))));
}

void MainWindowTest::progressWindowBar() {
    Frm_State state;
    state.show();
    QCOMPARE(state.windowTitle(), QStringLiteral("処理中です..."));
    QCOMPARE(state.size(), QSize(267, 153));
    QCOMPARE(state.Btn_Cancel->text(), QStringLiteral("キャンセル"));
    QVERIFY(!state.Prog->isVisible());
    QVERIFY(state.Lbl[0]->text().isEmpty());

    state.clearBar();
    QVERIFY(state.Prog->isVisible());
    QCOMPARE(state.Prog->filledWidth(), 0);
    state.setBar(5000, 10000);
    QCOMPARE(state.Prog->filledWidth(), 125);
    state.setBar(1000, 10000); // never shrinks
    QCOMPARE(state.Prog->filledWidth(), 125);
    state.setBar(20000, 10000); // never past its end
    QCOMPARE(state.Prog->filledWidth(), 250);
    state.setBar(1, 0); // nothing expected: nothing drawn anew
    QCOMPARE(state.Prog->filledWidth(), 250);
    state.clearBar();
    QCOMPARE(state.Prog->filledWidth(), 0);

    // The count line: whole kilobytes, rounded half up, grouped; below one half is empty.
    const std::vector<std::tuple<int64_t, int64_t, QString>> counts = {
        {1234 * 1024, 5678 * 1024, QStringLiteral("1,234KB / 5,678KB")},
        {5000, 10000, QStringLiteral("5KB / 10KB")},
        {511, 512, QStringLiteral("KB / 1KB")},
        {0, 0, QStringLiteral("KB / KB")},
        {int64_t(5) << 30, int64_t(6) << 30, QStringLiteral("5,242,880KB / 6,291,456KB")},
    };
    for (const auto& [done, expected, text] : counts) {
        QCOMPARE(FormatProgressCounts(done, expected), text);
    }
}

// The window's sink is the one place that words the core's events.
void MainWindowTest::windowSinkWordsEveryEvent() {
    StatusListBox log;
    Frm_State state;
    QtEventPump pump;
    WindowSink sink([&] { return &log; }, [&] { return &state; }, pump);
    const std::vector<std::pair<LogEvent, QString>> lines = {
        {{LogKind::Connecting, "h:21", ""}, QStringLiteral("ホスト　h:21に接続しています。")},
        {{LogKind::Connected, "", ""}, QStringLiteral("接続しました。")},
        {{LogKind::TlsEstablished, "TLS 1.3", "TLS_AES_256_GCM_SHA384"},
         QStringLiteral("TLS 1.3 (TLS_AES_256_GCM_SHA384) で暗号化しました")},
        {{LogKind::TlsFellBack, "", ""},
         QStringLiteral("サーバが暗号化に対応していないため、暗号化せずに接続しました。")},
        {{LogKind::LoggingIn, "", ""}, QStringLiteral("パスワード確認中")},
        {{LogKind::LoggedIn, "", ""}, QStringLiteral("パスワード確認しました。")},
        {{LogKind::ConnectionLost, "", ""}, QStringLiteral("サーバとの接続が切れました。")},
        {{LogKind::UnsafeNameSkipped, "h:21", ""},
         QStringLiteral("×名前が安全でないため転送しませんでした・・・・h:21")},
        {{LogKind::FailedLinkSkipped, "h:21", ""},
         QStringLiteral("×リンクを転送できませんでした・・・・h:21")},
        {{LogKind::FolderLinkSkipped, "h:21", ""},
         QStringLiteral("フォルダへのリンクは転送しません・・・・h:21")},
    };
    QStringList expected;
    for (const auto& [event, line] : lines) {
        sink.log(event);
        expected << line;
    }
    QCOMPARE(log.lines(), expected);

    const struct {
        ProgressEvent event;
        QString item, mode, count;
    } steps[] = {
        {{ProgressPhase::Receiving, "a.txt", TransferMode::Ascii},
         "a.txt を受信中です...",
         "転送モード アスキー",
         ""},
        {{ProgressPhase::Sending, "b.bin", TransferMode::Binary},
         "b.bin を送信中です...",
         "転送モード バイナリ",
         ""},
        {{ProgressPhase::Started, "", TransferMode::Binary, 0, 2048},
         "b.bin を送信中です...",
         "転送モード バイナリ",
         ""},
        {{ProgressPhase::Bytes, "", TransferMode::Binary, 1024, 2048},
         "b.bin を送信中です...",
         "転送モード バイナリ",
         "1KB / 2KB"},
        {{ProgressPhase::Deleting, "c"}, "c を削除中です...", "転送モード バイナリ", "1KB / 2KB"},
    };
    for (const auto& step : steps) {
        sink.progress(step.event);
        QCOMPARE(state.Lbl[0]->text(), step.item);
        QCOMPARE(state.Lbl[1]->text(), step.mode);
        QCOMPARE(state.Lbl[2]->text(), step.count);
    }
    QCOMPARE(state.Prog->filledWidth(), 125);
}

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
