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

// The options a view draws its items with.
struct OptionPeek : QAbstractItemView {
    using QAbstractItemView::initViewItemOption;
};
QStyleOptionViewItem ItemOption(const QAbstractItemView* view) {
    QStyleOptionViewItem option;
    (view->*(&OptionPeek::initViewItemOption))(&option);
    return option;
}

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
    h.makeLocal({{"readme.txt", 10}, {"sub/", 0}});
    Frm_Main& w = h.start();

    QCOMPARE(ProfileBox(w)->count(), 0);
    QCOMPARE(PathBox(w, 0)->currentText(), Q(h.local()));
    QCOMPARE(Q(h.settings->profile.LastPathLocal), Q(h.local()));
    QCOMPARE(PaneNames(View(w, 0)), (QStringList{"readme.txt", "sub"}));
    QCOMPARE(View(w, 1)->count(), 0);
    QCOMPARE(PathBox(w, 1)->count(), 0);
    QCOMPARE(Log(w)->lines(),
             (QStringList{"Welcom !!  Oxlip  Vre." + Q(VersionText()), QString(61, '-')}));
    QCOMPARE(ControlState(w), kDisconnectedState);
    // The new-folder and delete images start greyed; the local pane's focus makes them active.
    QCOMPARE(ToolbarPair(w, "imgMakeButton")->shownElement() +
                 ToolbarPair(w, "imgDelButton")->shownElement(),
             2);
    QCOMPARE(ModeBox(w)->currentIndex(), 0);
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
    const int W = ClientArea(w)->width();
    const int H = ClientArea(w)->height();
    QCOMPARE(W, 1000);
    QCOMPARE(View(w, 0)->geometry(), QRect(8, 112, qRound(W / 2.3), H - 185));
    QCOMPARE(View(w, 1)->geometry(), QRect(qRound(W / 1.822), 112, qRound(W / 2.3), H - 185));
    QCOMPARE(DriveBox(w)->x(), 32);
    QCOMPARE(PathBox(w, 0)->geometry().right() + 1, View(w, 0)->geometry().right() + 1 - 8);
    QCOMPARE(UpButton(w, 1)->x(), View(w, 1)->x());
    QCOMPARE(PathBox(w, 1)->x(), View(w, 1)->x() + 24);
    QCOMPARE(PathBox(w, 1)->geometry().right(), View(w, 1)->geometry().right());
    QCOMPARE(TransferButton(w, 0)->x(), qRound(W / 2.0 - 24.5));
    QCOMPARE(TransferButton(w, 1)->x(), TransferButton(w, 0)->x());
    QCOMPARE(DetailsButton(w)->x(), View(w, 1)->geometry().right() + 1 - 76);
    QCOMPARE(SettingsButton(w)->x(), DetailsButton(w)->x() - 80);
    QCOMPARE(ConnectButton(w)->x(), SettingsButton(w)->x() - 80);
    QCOMPARE(Log(w)->geometry(), QRect(0, H - 185 + 112 + 3, W, 68));
    // Fixed places.
    QCOMPARE(ProfileBox(w)->pos(), QPoint(8, 48));
    QCOMPARE(ModeBox(w)->pos(), QPoint(176, 48));
    QCOMPARE(ConnectButton(w)->y(), 32);

    // Smaller than the minimum: back to an outer size of 708 x 386.
    w.resize(400, 200);
    QTRY_COMPARE(w.frameGeometry().size(), QSize(kMinOuterWidthPx, kMinOuterHeightPx));
    QCOMPARE(View(w, 0)->height(), ClientArea(w)->height() - 185);
    QCOMPARE(View(w, 0)->width(), qRound(ClientArea(w)->width() / 2.3));
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
    QCOMPARE(ItemTexts(PathBox(w, 0)), expected);
    QCOMPARE(expected.last(), QStringLiteral("/"));

    // Typed without its final "/": entry 0 stays as typed; a folder opened in it gets one.
    // A double-click on a file opens nothing.
    h.makeLocal({{"work/sub/deeper/", 0}, {"work/sub/file.bin", 5}});
    QVERIFY(w.SetLocalPath(h.local("work/sub")));
    QCOMPARE(PathBox(w, 0)->itemText(0), Q(h.local("work/sub")));
    QCOMPARE(PathBox(w, 0)->itemText(1), Q(h.local("work/")));
    DoubleClickItem(View(w, 0), "file.bin");
    QCOMPARE(PathBox(w, 0)->currentText(), Q(h.local("work/sub")));
    QCOMPARE(View(w, 0)->count(), 2);
    DoubleClickItem(View(w, 0), "deeper");
    QCOMPARE(PathBox(w, 0)->currentText(), Q(h.local("work/sub/deeper/")));
    QCOMPARE(PathBox(w, 0)->itemText(1), Q(h.local("work/sub/")));

    // Up by the button rebuilds the chain; Backspace goes up too; at the root nothing happens.
    QTest::mouseClick(UpButton(w, 0), Qt::LeftButton);
    QCOMPARE(PathBox(w, 0)->currentText(), Q(h.local("work/sub/")));
    QCOMPARE(PathBox(w, 0)->itemText(0), Q(h.local("work/sub/")));
    QCOMPARE(PaneNames(View(w, 0)), (QStringList{"deeper", "file.bin"}));
    QVERIFY(UpButton(w, 0)->isEnabled());
    View(w, 0)->currentView()->setFocus();
    QTest::keyClick(View(w, 0)->currentView(), Qt::Key_Backspace);
    QCOMPARE(PathBox(w, 0)->currentText(), Q(h.local("work/")));
    QVERIFY(w.SetLocalPath("/"));
    QTest::mouseClick(UpButton(w, 0), Qt::LeftButton);
    QCOMPARE(PathBox(w, 0)->currentText(), QStringLiteral("/"));
    QCOMPARE(ItemTexts(PathBox(w, 0)), QStringList{"/"});

    // The host side: "/" alone, and a deeper path, without a connection.
    QVERIFY(w.SetHostPath("/"));
    QCOMPARE(ItemTexts(PathBox(w, 1)), QStringList{"/"});
    QVERIFY(w.SetHostPath("/pub/sub/"));
    QCOMPARE(ItemTexts(PathBox(w, 1)), (QStringList{"/pub/sub/", "/pub/", "/"}));
}

void MainWindowTest::enterAndFailingEnter() {
    WindowHarness h;
    MakeFile(h.local("a/inside.txt"));
    Frm_Main& w = h.start();

    TypePathAndEnter(PathBox(w, 0), Q(h.local("a/")));
    QCOMPARE(PathBox(w, 0)->currentText(), Q(h.local("a/")));
    QCOMPARE(PaneNames(View(w, 0)), QStringList{"inside.txt"});

    // Not absolute: the probe refuses it, and the box shows the current folder again.
    TypePathAndEnter(PathBox(w, 0), QStringLiteral("relative/path"));
    QCOMPARE(PathBox(w, 0)->currentText(), Q(h.local("a/")));
    QCOMPARE(PathBox(w, 0)->itemText(0), Q(h.local("a/")));
    QCOMPARE(PaneNames(View(w, 0)), QStringList{"inside.txt"});

    // A path that merely does not exist passes: the pane is left empty.
    TypePathAndEnter(PathBox(w, 0), Q(h.local("missing/")));
    QCOMPARE(PathBox(w, 0)->currentText(), Q(h.local("missing/")));
    QCOMPARE(View(w, 0)->count(), 0);

    // Picking an ancestor from the list shows it and keeps the deeper entries.
    TypePathAndEnter(PathBox(w, 0), Q(h.local("a/")));
    const int parent = PathBox(w, 0)->findText(Q(h.local()));
    QVERIFY(parent > 0);
    PathBox(w, 0)->setFocus();
    for (int i = 0; i < parent; ++i) {
        QTest::keyClick(PathBox(w, 0), Qt::Key_Down);
    }
    QCOMPARE(PathBox(w, 0)->currentText(), Q(h.local()));
    QCOMPARE(PaneNames(View(w, 0)), QStringList{"a"});
    QCOMPARE(PathBox(w, 0)->itemText(0), Q(h.local("a/")));
}

void MainWindowTest::commandsIgnoreAPathTypedWithoutEnter() {
    WindowHarness h;
    h.makeLocal({{"site/index.html", 0}, {"other/index.html", 0}});
    Frm_Main& w = h.start();
    QVERIFY(w.SetLocalPath(h.local("site/")));
    TypePath(PathBox(w, 0), Q(h.local("other/")));
    ClickItem(View(w, 0), "index.html");

    // Delete, new folder and refresh act on the folder the pane shows.
    MessageScript messages;
    QTest::keyClick(View(w, 0)->currentView(), Qt::Key_Delete);
    QCOMPARE(messages.texts.size(), 1);
    QVERIFY(std::filesystem::exists(h.local("other/index.html")));
    QVERIFY(!std::filesystem::exists(h.local("site/index.html")));
    QTest::mouseClick(ToolbarPair(w, "imgMakeButton")->element(0), Qt::LeftButton);
    QVERIFY(std::filesystem::is_directory(h.local("site/新しいフォルダ")));
    QTest::keyClick(View(w, 0)->currentView(), Qt::Key_F5);
    QCOMPARE(PaneNames(View(w, 0)), QStringList{"新しいフォルダ"});
    QVERIFY(!std::filesystem::exists(h.local("other/新しいフォルダ")));
}

void MainWindowTest::aDriveThatDoesNotAnswerLeavesTheWindowUsable() {
    WindowHarness h;
    MakeFile(h.local("kept.txt"));
    Frm_Main& w = h.start();
    const QString shown = PathBox(w, 0)->currentText();
    const int drive = DriveBox(w)->currentIndex();
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
    DriveBox(w)->showPopup();
    QTest::keyClick(DriveBox(w)->view(), Qt::Key_Return);
    release->store(true);
    QVERIFY(took.elapsed() < 5000);
    QVERIFY(turns >= 5); // the window kept working while it waited
    QCOMPARE(messages.texts, QStringList{DriveBox(w)->itemText(drive) + " が応答しません"});
    QCOMPARE(PathBox(w, 0)->currentText(), shown);
    QCOMPARE(PaneNames(View(w, 0)), QStringList{"kept.txt"});
    QCOMPARE(DriveBox(w)->currentIndex(), drive);

    // A drive that answers is shown.
    w.setDriveProbe([](const std::string&) { return true; }, 300);
    DriveBox(w)->showPopup();
    QTest::keyClick(DriveBox(w)->view(), Qt::Key_Return);
    QString root = DriveBox(w)->itemText(drive);
    QCOMPARE(PathBox(w, 0)->currentText(), root.endsWith('/') ? root : root + '/');
}

void MainWindowTest::itemColumnsAndIcons() {
    WindowHarness h;
    h.makeLocal({{"readme.txt", 3000}, {"Makefile", 1}, {"pic.PNG", 1}, {"dir.d/", 0}});
    Frm_Main& w = h.start();
    PaneView* pane = View(w, 0);

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

    // The host pane's access column: the permission digits as hexadecimal text.
    DirEntry entry;
    entry.permissions = 0755;
    entry.size = 5'000'000'000ULL;
    QVERIFY(w.AddPaneItem(1, "big.iso", entry));
    QCOMPARE(View(w, 1)->cellText(0, 4), QStringLiteral("755"));
    QCOMPARE(View(w, 1)->cellText(0, 1), QStringLiteral("4,882,812KB"));
}

void MainWindowTest::sortingBySizeValueAndOrder() {
    WindowHarness h;
    h.makeLocal({{"nine.bin", 9 * 1024},
                 {"ten.bin", 10 * 1024},
                 {"hundred.bin", 100 * 1024},
                 {"Alpha/", 0}});
    Frm_Main& w = h.start();
    PaneView* pane = View(w, 0);
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
    // On the local pane, then the host's.
    QCOMPARE(EditMenuState(w, 0), QStringLiteral("10111"));
    QCOMPARE(EditMenuState(w, 1), QStringLiteral("00000"));
}

void MainWindowTest::toolbarPairsFollowTheFocusedPane() {
    WindowHarness h;
    Frm_Main& w = h.start();
    w.activateWindow();
    // The new-folder and delete pairs: active for the local pane, greyed for the host's.
    for (int pane : {1, 0, 1}) {
        View(w, pane)->currentView()->setFocus();
        QTRY_COMPARE(w.ActivePane, pane);
        QCOMPARE(Look(*ToolbarPair(w, "imgMakeButton")) + " " +
                     Look(*ToolbarPair(w, "imgDelButton")),
                 pane == 0 ? QStringLiteral("0ee 0ee") : QStringLiteral("1dd 1dd"));
    }
}

void MainWindowTest::viewsShareModelAndSelection() {
    WindowHarness h;
    h.makeLocal({{"a.txt", 0}, {"b.txt", 0}});
    Frm_Main& w = h.start();
    ClickItem(View(w, 0), "b.txt");
    QCOMPARE(View(w, 0)->selectedRow(), RowOf(View(w, 0), "b.txt"));
    const QListView::ViewMode listModes[3] = {QListView::IconMode, QListView::ListMode,
                                              QListView::ListMode};
    for (int i = 0; i < 3; ++i) {
        Action(w, QStringLiteral("m_ListView%1").arg(i))->trigger();
        QCOMPARE(View(w, 0)->currentView(),
                 static_cast<QAbstractItemView*>(View(w, 0)->listView()));
        QCOMPARE(View(w, 0)->listView()->viewMode(), listModes[i]);
        QCOMPARE(View(w, 0)->listView()->iconSize(), i == 0 ? QSize(32, 32) : QSize(16, 16));
        QCOMPARE(View(w, 0)->selectedRow(), RowOf(View(w, 0), "b.txt"));
    }
    QCOMPARE(View(w, 1)->viewMode(), int(PaneView::Details)); // the host pane has its own view
    Action(w, QStringLiteral("m_ListView%1").arg(3))->trigger();
    QCOMPARE(View(w, 0)->currentView(), static_cast<QAbstractItemView*>(View(w, 0)->detailsView()));
    Action(w, QStringLiteral("h_ListView%1").arg(0))->trigger();
    QCOMPARE(View(w, 1)->viewMode(), int(PaneView::LargeIcons));
    // A double-click in the large-icon view opens a folder as well.
    MakeDir(h.local("c"));
    Action(w, "m_ReLoad")->trigger();
    Action(w, QStringLiteral("m_ListView%1").arg(0))->trigger();
    DoubleClickItem(View(w, 0), "c");
    QCOMPARE(PathBox(w, 0)->currentText(), Q(h.local("c/")));
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
    PaneView* pane = View(w, 0);
    QStyledItemDelegate plain; // measures a whole name as the view draws it
    for (int mode : {0, 1, 2, 3}) {
        Action(w, QStringLiteral("m_ListView%1").arg(mode))->trigger();
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
    h.makeLocal({{"a-start/", 0}, {"b-start/in-b.txt", 0}});
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
        QCOMPARE(ItemTexts(ProfileBox(w)), (QStringList{"A", "B"}));
        QCOMPARE(ProfileBox(w)->currentText(), QStringLiteral("A"));
        QCOMPARE(ModeBox(w)->currentIndex(), 2);
        QCOMPARE(PathBox(w, 0)->currentText(), Q(h.local("a-start/")));

        // The user picks ASCII, then the profile B: A is stored with its new mode.
        ModeBox(w)->setFocus();
        QTest::keyClick(ModeBox(w), Qt::Key_Up);
        QCOMPARE(ModeBox(w)->currentIndex(), 1);
        QCOMPARE(h.settings->profile.TransMode, 1);
        ProfileBox(w)->setFocus();
        QTest::keyClick(ProfileBox(w), Qt::Key_Down);
        QCOMPARE(ProfileBox(w)->currentText(), QStringLiteral("B"));
        QCOMPARE(Q(h.settings->profile.ProfileName), QStringLiteral("B"));
        QCOMPARE(Q(h.settings->profile.Server), QStringLiteral("b.example"));
        QCOMPARE(ModeBox(w)->currentIndex(), 0);
        QCOMPARE(PathBox(w, 0)->currentText(), Q(h.local("b-start/")));
        QCOMPARE(PaneNames(View(w, 0)), QStringList{"in-b.txt"});
        QCOMPARE(stored("A"), QStringLiteral("a.example 1"));

        // Binary for B, then closing, which asks nothing while not connected.
        ModeBox(w)->setFocus();
        QTest::keyClick(ModeBox(w), Qt::Key_End);
        QCOMPARE(ModeBox(w)->currentIndex(), 2);
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
        Log(w)->appendLine(QStringLiteral("line %1").arg(i));
    }
    QListWidgetItem* last = Log(w)->item(Log(w)->count() - 1);
    QTRY_VERIFY(Log(w)->viewport()->rect().contains(Log(w)->visualItemRect(last)));
    QVERIFY(!Log(w)->viewport()->rect().intersects(Log(w)->visualItemRect(Log(w)->item(0))));
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
        {{LogKind::Cancelled, "3", ""},
         QStringLiteral("キャンセルしました（3 個のファイルを転送済み）")},
        {{LogKind::Reconnected, "/site/", ""}, QStringLiteral("再接続しました。")},
        {{LogKind::DataFellBack, "", ""},
         QStringLiteral("EPSV のデータ接続ができないため、PASV で接続します。")},
        {{LogKind::FinalReplyLost, "a.bin", ""},
         QStringLiteral("転送完了の応答がありませんが、サイズが一致したため受信したファイルを保存し"
                        "ました・・・・a.bin")},
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
