// The main window without a server: start-up, layout, the local pane, profiles, closing.

#include "settings/Version.h"
#include "support/WindowTestSupport.h"

#include <QHeaderView>
#include <QListView>
#include <QStyledItemDelegate>
#include <QTreeView>

#include <atomic>
#include <chrono>
#include <thread>

using namespace oxlip;
using namespace Qt::StringLiterals;
using namespace oxlip::test;

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void firstStartWithoutSettings();
    void localNavigation();
    void aDriveThatDoesNotAnswerLeavesTheWindowUsable();
    void itemColumnsAndSorting();
    void viewModesShareTheSelectionAndShowWholeNames();
    void profileSwitchAndClosingSaveTheSettings();
    void aFailedSaveIsReported();
    void progressWindowAndEventWords();
};

void MainWindowTest::firstStartWithoutSettings() {
    WindowHarness h;
    h.makeLocal({{"readme.txt", 10}, {"sub/", 0}});
    Frm_Main& w = h.start();
    QCOMPARE(Shown(w, 0) << Q(h.settings->profile.LastPathLocal),
             (QStringList{Q(h.local()), "readme.txt", "sub", Q(h.local())}));
    QCOMPARE(Log(w)->lines(),
             (QStringList{"Welcom !!  Oxlip  Vre." + Q(VersionText()), QString(61, '-')}));
    // The new-folder and delete images start greyed, then follow the focused pane.
    QCOMPARE(ControlState(w) + " " + EditPairs(w), kDisconnectedState + " 1dd 1dd");
    for (int pane : {1, 0, 1}) {
        View(w, pane)->currentView()->setFocus();
        QCOMPARE(EditPairs(w), pane == 0 ? u"0ee 0ee"_s : u"1dd 1dd"_s);
    }
    QCOMPARE(EditMenuState(w, 0) + EditMenuState(w, 1), u"1011100000"_s);
    // The icon installed for the desktop's menu, pixel for pixel; the log's newest line in view.
    const QImage shown = w.windowIcon().pixmap(48, 48).toImage();
    QCOMPARE(shown, QImage(OXLIP_TEST_SERVERS_DIR "/../../data/icons/hicolor/48x48/apps/"
                                                  "org.oxlip.Oxlip.png")
                        .convertToFormat(shown.format()));
    for (int i = 0; i < 20; ++i) {
        Log(w)->appendLine(u"line %1"_s.arg(i));
    }
    QTRY_VERIFY(Log(w)->viewport()->rect().contains(Log(w)->visualItemRect(Log(w)->item(21))));

    // The layout follows the size and springs back from below the minimum.
    w.resize(1000, 700);
    const int W = ClientArea(w)->width();
    const int H = ClientArea(w)->height();
    QCOMPARE(View(w, 0)->geometry(), QRect(8, 112, qRound(W / 2.3), H - 185));
    QCOMPARE(View(w, 1)->geometry(), QRect(qRound(W / 1.822), 112, qRound(W / 2.3), H - 185));
    QCOMPARE(PathBox(w, 1)->geometry().right(), View(w, 1)->geometry().right());
    QCOMPARE(TransferButton(w, 0)->x(), qRound(W / 2.0 - 24.5));
    QCOMPARE(ConnectButton(w)->x(), View(w, 1)->geometry().right() + 1 - 236);
    QCOMPARE(Log(w)->geometry(), QRect(0, H - 185 + 112 + 3, 1000, 68));
    w.resize(400, 200);
    QTRY_COMPARE(w.frameGeometry().size(), QSize(kMinOuterWidthPx, kMinOuterHeightPx));
}

void MainWindowTest::localNavigation() {
    WindowHarness h;
    h.makeLocal({{"work/sub/file.bin", 5},
                 {"work/sub/deeper/", 0},
                 {"site/index.html", 0},
                 {"other/index.html", 0}});
    Frm_Main& w = h.start();
    const auto at = [&h](const char* relative) { return Q(h.local(relative)); };
    // In and Up again rebuilds the chain; a file's double-click or a relative path does nothing.
    QVERIFY(w.SetLocalPath(h.local("work/sub/")));
    DoubleClickItem(View(w, 0), "deeper");
    QTest::mouseClick(UpButton(w, 0), Qt::LeftButton);
    DoubleClickItem(View(w, 0), "file.bin");
    TypePath(PathBox(w, 0), u"relative/path"_s);
    QCOMPARE(Shown(w, 0) << PathBox(w, 0)->itemText(0),
             (QStringList{at("work/sub/"), "deeper", "file.bin", at("work/sub/")}));

    // A missing path passes; picking an ancestor from the list keeps the deeper entries.
    TypePath(PathBox(w, 0), at("missing/"));
    PathBox(w, 0)->setFocus();
    QTest::keyClick(PathBox(w, 0), Qt::Key_Down);
    QCOMPARE(Shown(w, 0) << PathBox(w, 0)->itemText(0),
             (QStringList{at(""), "other", "site", "work", at("missing/")}));

    // A path typed without Enter: delete, new folder and refresh act on the folder shown.
    QVERIFY(w.SetLocalPath(h.local("site/")));
    TypePath(PathBox(w, 0), at("other/"), false);
    ClickItem(View(w, 0), "index.html");
    MessageScript messages;
    QTest::keyClick(View(w, 0)->currentView(), Qt::Key_Delete);
    QVERIFY(std::filesystem::exists(h.local("other/index.html")));
    QTest::mouseClick(ToolbarPair(w, "imgMakeButton")->element(0), Qt::LeftButton);
    QTest::keyClick(View(w, 0)->currentView(), Qt::Key_F5);
    QCOMPARE(PaneNames(View(w, 0)), QStringList{"新しいフォルダ"});
}

void MainWindowTest::aDriveThatDoesNotAnswerLeavesTheWindowUsable() {
    WindowHarness h;
    MakeFile(h.local("kept.txt"));
    Frm_Main& w = h.start();
    const int drive = DriveBox(w)->currentIndex();
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
    DriveBox(w)->showPopup();
    QTest::keyClick(DriveBox(w)->view(), Qt::Key_Return);
    release->store(true);
    QVERIFY(turns >= 5); // the window kept working while it waited
    QCOMPARE(messages.texts, QStringList{DriveBox(w)->itemText(drive) + " が応答しません"});
    QCOMPARE(Shown(w, 0) << QString::number(DriveBox(w)->currentIndex()),
             (QStringList{Q(h.local()), "kept.txt", QString::number(drive)}));
    // A drive that answers is shown.
    w.setDriveProbe([](const std::string&) { return true; }, 300);
    DriveBox(w)->showPopup();
    QTest::keyClick(DriveBox(w)->view(), Qt::Key_Return);
    const QString root = DriveBox(w)->itemText(drive);
    QCOMPARE(PathBox(w, 0)->currentText(), root.endsWith('/') ? root : root + '/');
}

void MainWindowTest::itemColumnsAndSorting() {
    WindowHarness h;
    h.makeLocal({{"readme.txt", 10 * 1024},
                 {"Makefile", 1},
                 {"pic.PNG", 100 * 1024},
                 {"nine.bin", 9 * 1024},
                 {"dir.d/", 0}});
    Frm_Main& w = h.start();
    PaneView* pane = View(w, 0);
    // Name | size | type | icon (1 folder, 2 ASCII file, 3 other file) | whether a date is shown.
    QStringList cells;
    for (int row = 0; row < pane->count(); ++row) {
        cells << QStringList{pane->itemText(row), pane->cellText(row, 1), pane->cellText(row, 2),
                             QString::number(pane->iconIndex(row)),
                             pane->cellText(row, 3).isEmpty() ? "" : "date"}
                     .join('|');
    }
    QCOMPARE(cells, (QStringList{"dir.d||<フォルダ>|1|date", "Makefile|1KB||3|date",
                                 "nine.bin|9KB|BIN|3|date", "pic.PNG|100KB|PNG|3|date",
                                 "readme.txt|10KB|TXT|2|date"}));
    QCOMPARE(w.FindPaneItem(0, "readme.txt") * 10 + w.FindPaneItem(0, "README.TXT"),
             (RowOf(pane, "readme.txt") + 1) * 10);

    // The host pane's access column: the permission digits as hexadecimal text.
    DirEntry entry;
    entry.permissions = 0755;
    entry.size = 5'000'000'000ULL;
    QVERIFY(w.AddPaneItem(1, "big.iso", entry));
    QCOMPARE(View(w, 1)->cellText(0, 4) + " " + View(w, 1)->cellText(0, 1), u"755 4,882,812KB"_s);

    QHeaderView* header = pane->detailsView()->header();
    // Clicks a column's header; then the names shown.
    auto after = [&](int column) {
        const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(x, header->height() / 2));
        return PaneNames(pane);
    };
    // Names ignore case, sizes go by value; a column again flips, another or a listing keeps.
    const QStringList bySize{"dir.d", "Makefile", "nine.bin", "readme.txt", "pic.PNG"};
    const QStringList bySizeDown(bySize.rbegin(), bySize.rend());
    QCOMPARE(after(1), bySize);
    QCOMPARE(after(1), bySizeDown);
    QCOMPARE(after(0), (QStringList{"readme.txt", "pic.PNG", "nine.bin", "Makefile", "dir.d"}));
    QVERIFY(w.AddPaneItem(0, "middle.bin", entry)); // an item added later takes its sorted place
    QCOMPARE(PaneNames(pane).indexOf("middle.bin"), 3);
    after(1);
    w.ShowLocalFolder(h.local());
    QCOMPARE(PaneNames(pane), bySizeDown);
}

void MainWindowTest::viewModesShareTheSelectionAndShowWholeNames() {
    WindowHarness h;
    const QStringList names{"a.txt", "index.html.before-the-redesign-of-2024-kept-for-reference",
                            "お知らせ一覧のページ（二〇二四年度版）の下書きと写真.html",
                            "words that wrap at their spaces under a large icon.txt"};
    for (const QString& name : names) {
        MakeFile(h.local(name.toStdString()));
    }
    MakeFile(h.local("c/x"));
    Frm_Main& w = h.start();
    PaneView* pane = View(w, 0);
    ClickItem(pane, names.last());
    QStyledItemDelegate plain; // measures a whole name with the options the view draws it with
    struct Peek : QAbstractItemView {
        using QAbstractItemView::initViewItemOption;
    };
    // Large icons, small icons, list (view mode, icon size), then details; one selection.
    const char* shapes[] = {"1 32", "0 16", "0 16", "details"};
    for (int mode : {0, 1, 2, 3}) {
        Action(w, u"m_ListView%1"_s.arg(mode))->trigger();
        const QAbstractItemView* view = pane->currentView();
        const QListView* list = pane->listView();
        const QString shape = view != list
                                  ? u"details"_s
                                  : u"%1 %2"_s.arg(list->viewMode()).arg(list->iconSize().width());
        QCOMPARE(shape + " " + QString::number(pane->selectedRow()),
                 shapes[mode] + (" " + QString::number(RowOf(pane, names.last()))));
        for (const QString& name : names) {
            const QModelIndex index = pane->model()->index(RowOf(pane, name), 0);
            QStyleOptionViewItem option;
            (view->*(&Peek::initViewItemOption))(&option);
            option.rect = view->visualRect(index);
            const QSize whole = plain.sizeHint(option, index);
            QVERIFY2(whole.width() <= option.rect.width() && whole.height() <= option.rect.height(),
                     qPrintable(u"view %1: %2"_s.arg(mode).arg(name)));
        }
    }
    // The host pane has its own view.
    Action(w, "h_ListView0")->trigger();
    QCOMPARE(QList<int>({pane->viewMode(), View(w, 1)->viewMode()}),
             QList<int>({PaneView::Details, PaneView::LargeIcons}));
    // A double-click in the large-icon view opens a folder as well.
    Action(w, "m_ListView0")->trigger();
    DoubleClickItem(pane, "c");
    QCOMPARE(PathBox(w, 0)->currentText(), Q(h.local("c/")));
}

void MainWindowTest::profileSwitchAndClosingSaveTheSettings() {
    WindowHarness h;
    h.makeLocal({{"a-start/", 0}, {"b-start/in-b.txt", 0}});
    h.writeFtpIni("[Oxlip]\nUser=A\n");
    h.writeUserIni("[A]\nServer=a.example\nLDir=" + h.local("a-start/") + "\nTransMode=2\n" +
                   "LastPathLocal=" + h.local("a-start/") +
                   "\n[B]\nServer=b.example\nLDir=" + h.local("b-start/") +
                   "\nTransMode=0\nLastPathLocal=" + h.local("b-start/") + "\n");
    Settings reread(h.settingsDir.path());
    auto stored = [&reread](const char* name) {
        reread.profile.ProfileName = name;
        reread.LoadProfile();
        return u"%1 %2"_s.arg(Q(reread.profile.Server)).arg(reread.profile.TransMode);
    };
    Frm_Main& w = h.start();
    QCOMPARE(ItemTexts(ProfileBox(w))
                 << ProfileBox(w)->currentText() << QString::number(ModeBox(w)->currentIndex())
                 << PathBox(w, 0)->currentText(),
             (QStringList{"A", "B", "A", "2", Q(h.local("a-start/"))}));

    // The user picks ASCII, then the profile B: A is stored with its new mode.
    ModeBox(w)->setFocus();
    QTest::keyClick(ModeBox(w), Qt::Key_Up);
    ProfileBox(w)->setFocus();
    QTest::keyClick(ProfileBox(w), Qt::Key_Down);
    QCOMPARE(Shown(w, 0) << Q(h.settings->profile.Server)
                         << QString::number(ModeBox(w)->currentIndex()) << stored("A"),
             (QStringList{Q(h.local("b-start/")), "in-b.txt", "b.example", "0", "a.example 1"}));

    // Binary for B, then closing.
    ModeBox(w)->setFocus();
    QTest::keyClick(ModeBox(w), Qt::Key_End);
    MessageScript messages;
    QVERIFY(w.close());
    reread.LoadAppSettings(nullptr);
    QCOMPARE(Q(reread.profile.ProfileName) + " " + stored("B"), u"B b.example 2"_s);
    // The placement in twips: the outer size of the window as it was.
    const std::string ftpIni = ReadFileBytes(h.settingsDir.file("Ftp.ini"));
    QVERIFY2(ftpIni.find("Width=10620\r\nHeight=5790\r\n") != std::string::npos, ftpIni.c_str());
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
    QCOMPARE(messages.texts,
             QStringList{u"設定を保存出来ませんでした\r\n"_s + Q(h.settings->ftpIniPath()) +
                         "\r\n" + Q(h.settings->userIniPath())});
}

// The window's sink is the one place that words the core's events.
void MainWindowTest::progressWindowAndEventWords() {
    Frm_State state;
    state.show();
    QCOMPARE((QStringList{state.windowTitle(), state.Btn_Cancel->text(), state.Lbl[0]->text()}),
             (QStringList{"処理中です...", "キャンセル", ""}));
    QVERIFY(state.size() == QSize(267, 153) && !state.Prog->isVisible());

    // The 250-pixel bar never shrinks nor passes its end; clearing empties and shows it.
    const int64_t bars[][3] = {
        {5000, 10000, 125}, {1000, 10000, 125}, {20000, 10000, 250}, {1, 0, 250}};
    for (const auto& [done, expected, width] : bars) {
        state.setBar(done, expected);
        QCOMPARE(state.Prog->filledWidth(), int(width));
    }
    state.clearBar();
    QVERIFY(state.Prog->filledWidth() == 0 && state.Prog->isVisible());

    // The count line: whole kilobytes, rounded half up, grouped; below one half is empty.
    const std::vector<std::tuple<int64_t, int64_t, const char*>> counts = {
        {1234 * 1024, 5678 * 1024, "1,234KB / 5,678KB"},
        {5000, 10000, "5KB / 10KB"},
        {511, 512, "KB / 1KB"},
        {int64_t(5) << 30, int64_t(6) << 30, "5,242,880KB / 6,291,456KB"},
    };
    for (const auto& [done, expected, text] : counts) {
        QCOMPARE(FormatProgressCounts(done, expected), QString::fromUtf8(text));
    }

    StatusListBox log;
    QtEventPump pump;
    WindowSink sink([&] { return &log; }, [&] { return &state; }, pump);
    const std::vector<std::pair<LogEvent, const char*>> lines = {
        {{LogKind::Connecting, "h:21", ""}, "ホスト　h:21に接続しています。"},
        {{LogKind::Connected, "", ""}, "接続しました。"},
        {{LogKind::TlsEstablished, "TLS 1.3", "TLS_AES_256_GCM_SHA384"},
         "TLS 1.3 (TLS_AES_256_GCM_SHA384) で暗号化しました"},
        {{LogKind::TlsFellBack, "", ""},
         "サーバが暗号化に対応していないため、暗号化せずに接続しました。"},
        {{LogKind::LoggingIn, "", ""}, "パスワード確認中"},
        {{LogKind::LoggedIn, "", ""}, "パスワード確認しました。"},
        {{LogKind::ConnectionLost, "", ""}, "サーバとの接続が切れました。"},
        {{LogKind::UnsafeNameSkipped, "h:21", ""},
         "×名前が安全でないため転送しませんでした・・・・h:21"},
        {{LogKind::FailedLinkSkipped, "h:21", ""}, "×リンクを転送できませんでした・・・・h:21"},
        {{LogKind::FolderLinkSkipped, "h:21", ""}, "フォルダへのリンクは転送しません・・・・h:21"},
        {{LogKind::Cancelled, "3", ""}, "キャンセルしました（3 個のファイルを転送済み）"},
        {{LogKind::Reconnected, "/site/", ""}, "再接続しました。"},
        {{LogKind::DataFellBack, "", ""}, "EPSV のデータ接続ができないため、PASV で接続します。"},
        {{LogKind::FinalReplyLost, "a.bin", ""},
         "転送完了の応答がありませんが、サイズが一致したため受信したファイルを保存し"
         "ました・・・・a.bin"},
    };
    for (const auto& [event, line] : lines) {
        sink.log(event);
        QCOMPARE(log.lines().last(), QString::fromUtf8(line));
    }

    // The three lines and the bar of the progress window after each event.
    const std::pair<ProgressEvent, QString> steps[] = {
        {{ProgressPhase::Receiving, "a.txt", TransferMode::Ascii},
         "a.txt を受信中です...|転送モード アスキー||0"},
        {{ProgressPhase::Bytes, "", TransferMode::Binary, 1024, 2048},
         "a.txt を受信中です...|転送モード アスキー|1KB / 2KB|125"},
        {{ProgressPhase::Sending, "b.bin", TransferMode::Binary},
         "b.bin を送信中です...|転送モード バイナリ|1KB / 2KB|125"},
        {{ProgressPhase::Started, "", TransferMode::Binary, 0, 2048},
         "b.bin を送信中です...|転送モード バイナリ|1KB / 2KB|0"},
        {{ProgressPhase::Deleting, "c"}, "c を削除中です...|転送モード バイナリ|1KB / 2KB|0"},
    };
    for (const auto& [event, lines] : steps) {
        sink.progress(event);
        QCOMPARE(state.Lbl[0]->text() + "|" + state.Lbl[1]->text() + "|" + state.Lbl[2]->text() +
                     "|" + QString::number(state.Prog->filledWidth()),
                 lines);
    }
}

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
