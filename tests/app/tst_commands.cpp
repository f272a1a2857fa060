// The main window against a real FTP server: connection, host navigation, the commands.

#include "support/WindowTestSupport.h"

#include <QLineEdit>
#include <QMimeData>
#include <QUrl>

using namespace oxlip;
using namespace Qt::StringLiterals;
using namespace oxlip::test;

namespace {

void EnterName(const QString& name) {
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    QVERIFY(editor);
    editor->setText(name);
    QTest::keyClick(editor, Qt::Key_Return);
}

// Drags data over a pane and drops it there when the pane accepts it; true when dropped.
bool DropOn(PaneView* pane, QMimeData* data) {
    std::unique_ptr<QMimeData> owned(data);
    QWidget* viewport = pane->currentView()->viewport();
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    if (enter.isAccepted()) {
        QCoreApplication::sendEvent(viewport, &drop);
    }
    return enter.isAccepted() && drop.isAccepted();
}

QMimeData* PaneDrag(PaneView* pane) {
    return pane->model()->mimeData(pane->selection()->selectedRows());
}

QMimeData* FileDrag(const QStringList& urls) {
    auto* data = new QMimeData;
    data->setUrls(QUrl::fromStringList(urls));
    return data;
}

} // namespace

class CommandsTest : public QObject {
    Q_OBJECT

private slots:
    void init() { StartServerAndWindow(server_, harness_, messages_); }
    void cleanup() {
        harness_.reset();
        messages_.reset();
        server_.reset();
    }

    void connectNavigateAndDisconnect();
    void upStopsAtTheStartFolderAndAnEmptyOneIsTheLoginFolder();
    void failedConnects();
    void secondConnectIgnoredAndClosingAsks();

    void uploadAndDownloadAMixedSelectionChangingTheMode();
    void listCacheAndFailedDownloads();
    void drops();
    void busyRefusesCommandsAndClosingEndsAfterTheCurrentFile();
    void fileCommands();

private:
    Frm_Main& startWindow(const std::string& dir = "/pub/") {
        harness_->writeServerProfile(*server_, dir, server_->password());
        return harness_->start();
    }
    Frm_Main& startConnected() {
        Frm_Main& w = startWindow();
        Toggle(w);
        return w;
    }
    void seedTree() const {
        server_->makeDir("pub/sub");
        server_->writeFile("pub/readme.txt", "read me\n");
        server_->makeDir("pub/日本語フォルダ");
        server_->writeFile("top.bin", "b");
    }
    QStringList logSince(int before) const { return Log(*harness_->window)->lines().mid(before); }

    std::unique_ptr<FtpServer> server_;
    std::unique_ptr<WindowHarness> harness_;
    std::unique_ptr<MessageScript> messages_;
};

void CommandsTest::connectNavigateAndDisconnect() {
    seedTree();
    Frm_Main& w = startWindow();
    Action(w, "m_Connect")->trigger();
    QCOMPARE(ControlState(w), kConnectedState);
    QCOMPARE(ItemTexts(PathBox(w, 1)) << Q(harness_->settings->profile.LastPathHost),
             (QStringList{"/pub/", "/", "/pub/"}));
    QCOMPARE(Shown(w, 1), (QStringList{"/pub/", "readme.txt", "sub", "日本語フォルダ"}));
    View(w, 1)->currentView()->setFocus();
    QCOMPARE(EditPairs(w) + " " + EditMenuState(w, 1), u"0ee 0ee 11111"_s);

    // A folder that cannot be entered leaves the pane empty, the connection usable.
    TypePath(PathBox(w, 1), u"/pub/sub"_s);
    QCOMPARE(ItemTexts(PathBox(w, 1)), (QStringList{"/pub/sub", "/pub/", "/"}));
    TypePath(PathBox(w, 1), u"/nowhere/"_s);
    QCOMPARE(View(w, 1)->count(), 0);
    TypePath(PathBox(w, 1), u"/pub/"_s);
    server_->writeFile("pub/new.txt", "n");
    View(w, 1)->currentView()->setFocus();
    QTest::keyClick(View(w, 1)->currentView(), Qt::Key_F5);

    Action(w, "m_Disconnect")->trigger();
    QCOMPARE(logSince(Log(w)->count() - 3),
             (QStringList{"切断中", "切断しました。", QString(38, '-')}));
    QCOMPARE(ControlState(w), kDisconnectedState);

    // Nothing in the disconnected pane moves it or clears the listing it keeps.
    QAbstractItemView* view = View(w, 1)->currentView();
    const std::function<void()> tries[] = {
        [view]() { QTest::keyClick(view, Qt::Key_F5); },
        [view]() { QTest::keyClick(view, Qt::Key_Backspace); },
        [&w]() { DoubleClickItem(View(w, 1), "sub"); },
        [&w]() { QTest::mouseClick(UpButton(w, 1), Qt::LeftButton); },
        [&w]() { TypePath(PathBox(w, 1), u"/pub/sub/"_s); },
    };
    for (const auto& attempt : tries) {
        view->setFocus();
        attempt();
        QCOMPARE(Shown(w, 1),
                 (QStringList{"/pub/", "new.txt", "readme.txt", "sub", "日本語フォルダ"}));
    }
}

void CommandsTest::upStopsAtTheStartFolderAndAnEmptyOneIsTheLoginFolder() {
    seedTree();
    Frm_Main& w = startWindow("/pub"); // written without its final "/"
    QVERIFY(Toggle(w));
    QTest::mouseClick(UpButton(w, 1), Qt::LeftButton); // refused right after connecting
    QCOMPARE(ItemTexts(PathBox(w, 1)) << PathBox(w, 1)->currentText(),
             (QStringList{"/pub", "/", "/pub"}));
    DoubleClickItem(View(w, 1), "sub");
    QCOMPARE(ItemTexts(PathBox(w, 1)), (QStringList{"/pub/sub/", "/pub/", "/"}));
    QTest::mouseClick(UpButton(w, 1), Qt::LeftButton);
    // "/pub/" is not the text "/pub": Up goes on to the root; the chain is kept.
    QTest::mouseClick(UpButton(w, 1), Qt::LeftButton);
    QCOMPARE(Shown(w, 1) + ItemTexts(PathBox(w, 1)),
             (QStringList{"/", "pub", "top.bin", "/pub/sub/", "/pub/", "/"}));

    harness_->window.reset();
    Frm_Main& login = startWindow("");
    QVERIFY(Toggle(login));
    QCOMPARE(ItemTexts(PathBox(login, 1)) + PaneNames(View(login, 1)),
             (QStringList{"/", "pub", "top.bin"}));
}

void CommandsTest::failedConnects() {
    harness_->writeServerProfile(*server_, "/pub/", "wrong-password");
    Frm_Main& w = harness_->start();
    QVERIFY(!Toggle(w));
    QCOMPARE(messages_->texts, QStringList{Q(server_->server()) + u" へ接続出来ませんでした"_s});
    QCOMPARE(ControlState(w), kDisconnectedState);
    QVERIFY(ConnectButton(w)->isEnabled());

    // No server at all: the same message without a name, and nothing logged.
    harness_->window.reset();
    harness_->writeUserIni("[S]\nServer=\n");
    Frm_Main& empty = harness_->start();
    const int lines = Log(empty)->count();
    QVERIFY(!Toggle(empty));
    QCOMPARE(messages_->texts.last(), u" へ接続出来ませんでした"_s);
    QCOMPARE(Log(empty)->count(), lines);
}

void CommandsTest::secondConnectIgnoredAndClosingAsks() {
    MisbehavingServer silent("silent-quit");
    harness_->writeServerProfile(silent, "/", silent.password());
    Frm_Main& w = harness_->start();
    // Queued now, run by the event pump while the first attempt waits on the server.
    int attempts = 0;
    QTimer::singleShot(0, &w, [&w, &attempts]() {
        ++attempts;
        QVERIFY(w.busy());
        Action(w, "m_Connect")->trigger();
        ToolbarPair(w, "imgConnecttButton")->element(0)->clicked();
    });
    QVERIFY(Toggle(w));
    QCOMPARE(attempts, 1);
    QCOMPARE(Log(w)->lines().filter(u"に接続しています。"_s).size(), 1);

    // Closing while connected asks; No keeps the connection.
    messages_->answers.push_back(ui::MsgResult::No);
    QVERIFY(!w.close());
    QCOMPARE(messages_->texts,
             QStringList{Q(silent.server()) + u" へ接続中ですが、切断しますか？"_s});
    QVERIFY(w.isVisible() && w.connected());
    QVERIFY(!Q(ReadFileBytes(harness_->settingsDir.file("Ftp.ini"))).contains("Width="));
    // Yes: while the window waits for the answer to QUIT, the user tries to disconnect.
    bool tried = false;
    DuringCommand(
        w, [&w] { return w.busy(); },
        [&w, &tried] {
            Action(w, "m_Disconnect")->trigger();
            QTest::mouseClick(ConnectButton(w), Qt::LeftButton);
            tried = true;
        });
    QVERIFY(w.close());
    QVERIFY(tried && !w.connected());
    QVERIFY(!Log(w)->lines().contains(u"切断中"_s));
}

void CommandsTest::uploadAndDownloadAMixedSelectionChangingTheMode() {
    harness_->makeLocal(
        {{"B/", 0}, {"c.bin", 1}, {"dl/", 0}, {"fail/a1", 1}, {"fail/b2", 1}, {"fail/c3", 1}});
    // CR LF line ends: made LF by an ASCII upload, kept by a binary one.
    WriteFileBytes(harness_->local("a.txt"), std::string(200000, 'a') + "\r\nend\r\n");
    WriteFileBytes(harness_->local("B/inner.txt"), "line one\r\nline two\r\n");
    Frm_Main& w = startConnected();
    DuringCommand(
        w, [&w]() { return Log(w)->lines().last() == u"ファイルをアップロード中・・・・→1"_s; },
        [&w]() {
            ModeBox(w)->setFocus();
            QTest::keyClick(ModeBox(w), Qt::Key_End); // binary from the next item on
        });
    int before = Log(w)->count();
    TransferFrom(w, 0, {"a.txt", "B", "c.bin"});
    QCOMPARE(logSince(before),
             (QStringList{"アップロード開始！！", "ファイルをアップロード中・・・・→1",
                          "フォルダをアップロード中・・・・→", "ファイルをアップロード中・・・・→2",
                          "アップロード完了", kSeparator36}));
    QCOMPARE(Q(server_->readFile("pub/a.txt")).right(5), u"\nend\n"_s);
    QCOMPARE(server_->readFile("pub/B/inner.txt"), std::string("line one\r\nline two\r\n"));

    // And back down into another local folder, through the toolbar image.
    QVERIFY(w.SetLocalPath(harness_->local("dl/")));
    SelectNames(View(w, 1), {"a.txt", "B", "c.bin"});
    before = Log(w)->count();
    QTest::mouseClick(ToolbarPair(w, "imgDounButtonUp")->element(0), Qt::LeftButton);
    QCOMPARE(logSince(before),
             (QStringList{"ダウンロード開始！！", "←ファイルをダウンロード中・・・・1",
                          "←フォルダをダウンロード中・・・・", "←ファイルをダウンロード中・・・・2",
                          "ダウンロード完了", kSeparator36}));

    // A failing item (a folder where the second file should go) ends the command.
    server_->makeDir("pub/b2");
    QVERIFY(w.SetLocalPath(harness_->local("fail/")));
    before = Log(w)->count();
    TransferFrom(w, 0, {"a1", "b2", "c3"});
    QCOMPARE(messages_->texts, QStringList{"ファイルの送信に失敗しました"});
    QCOMPARE(logSince(before),
             (QStringList{"アップロード開始！！", "ファイルをアップロード中・・・・→1",
                          "ファイルをアップロード中・・・・→2", "アップロード完了", kSeparator36}));
    QCOMPARE(ControlState(w), kConnectedState);
}

void CommandsTest::listCacheAndFailedDownloads() {
    // With the cache the target's entries are updated in place, kept or not added on failures.
    server_->writeFile("pub/x.txt", std::string(5000, 'x'));
    server_->writeFile("pub/y.bin", "y");
    server_->writeFile("pub/kept.bin", std::string(5000, 'n'));
    server_->writeFile("pub/vanished.bin", "v");
    harness_->makeLocal({{"x.txt", 10}, {"kept.bin", 3000}});
    Frm_Main& w = startConnected();
    MakeFile(harness_->local("behind-the-back.bin"));
    std::filesystem::remove(server_->path("pub/kept.bin"));
    std::filesystem::remove(server_->path("pub/vanished.bin"));
    TransferFrom(w, 1, {"x.txt", "y.bin"});
    TransferFrom(w, 1, {"kept.bin"});
    TransferFrom(w, 1, {"vanished.bin"});
    QCOMPARE(messages_->texts, QStringList(2, u"ファイルの受信に失敗しました"_s));
    QCOMPARE(PaneNames(View(w, 0)), (QStringList{"kept.bin", "x.txt", "y.bin"}));
    QCOMPARE(View(w, 0)->cellText(0, 1) + View(w, 0)->cellText(1, 1), u"2KB4KB"_s);
    QCOMPARE(View(w, 0)->iconIndex(RowOf(View(w, 0), "x.txt")), 2);

    // Without it the target is listed afresh, the source left alone.
    harness_->settings->ListCache = false;
    server_->writeFile("pub/added-on-host.bin", "h");
    TransferFrom(w, 1, {"y.bin"});
    QCOMPARE(PaneNames(View(w, 0)),
             (QStringList{"behind-the-back.bin", "kept.bin", "x.txt", "y.bin"}));
    QCOMPARE(PaneNames(View(w, 1)), (QStringList{"kept.bin", "vanished.bin", "x.txt", "y.bin"}));
}

void CommandsTest::drops() {
    harness_->makeLocal(
        {{"up.bin", 7}, {"elsewhere/dropped.txt", 5}, {"elsewhere/tree/inner.bin", 3}});
    Frm_Main& w = startConnected();
    const QString elsewhere = "file://" + Q(harness_->local("elsewhere/"));

    // Refused: files onto the local pane, data without files, a pane's rows onto itself.
    SelectNames(View(w, 0), {"up.bin"});
    QVERIFY(!DropOn(View(w, 0), FileDrag({elsewhere + "dropped.txt"})));
    QVERIFY(!DropOn(View(w, 1), new QMimeData));
    QVERIFY(!DropOn(View(w, 0), PaneDrag(View(w, 0))));

    // Files from another program onto the host pane: those files, not the local selection.
    QVERIFY(DropOn(View(w, 1), FileDrag({elsewhere + "dropped.txt", elsewhere + "tree"})));
    QTRY_COMPARE(PaneNames(View(w, 1)), (QStringList{"dropped.txt", "tree"}));

    // A drag between the panes transfers the other pane's selection.
    QTRY_VERIFY(!w.busy());
    QVERIFY(DropOn(View(w, 1), PaneDrag(View(w, 0))));
    QTRY_VERIFY(server_->exists("pub/up.bin"));
    QTRY_VERIFY(!w.busy());
}

void CommandsTest::busyRefusesCommandsAndClosingEndsAfterTheCurrentFile() {
    harness_->makeLocal({{"f1.bin", 20 * 1024 * 1024}, {"f2.bin", 10}});
    Frm_Main& w = startConnected();
    bool stillConnected = false;
    DuringCommand(
        w, [&w]() { return Log(w)->lines().last().endsWith(u"→1"_s); },
        [&w, &stillConnected]() {
            // A second transfer, a delete, a disconnect, navigation: all refused.
            QTest::mouseClick(TransferButton(w, 0), Qt::LeftButton);
            View(w, 0)->currentView()->setFocus();
            QTest::keyClick(View(w, 0)->currentView(), Qt::Key_Delete);
            Action(w, "m_Disconnect")->trigger();
            QTest::mouseClick(UpButton(w, 0), Qt::LeftButton);
            stillConnected = w.connected();
            w.close(); // asks, and ends after the current file
        });
    TransferFrom(w, 0, {"f1.bin", "f2.bin"});
    QVERIFY(stillConnected);
    QCOMPARE(messages_->texts.size(), 1); // the closing question, no delete question
    QCOMPARE(Log(w)->lines().filter(u"開始！！"_s).size(), 1);
    QCOMPARE(PathBox(w, 0)->currentText(), Q(harness_->local()));
    QCOMPARE(server_->readFile("pub/f1.bin").size(), size_t(20 * 1024 * 1024));
    QVERIFY(!server_->exists("pub/f2.bin"));
    QTRY_VERIFY(!w.isVisible() && !w.connected());
}

void CommandsTest::fileCommands() {
    harness_->makeLocal(
        {{"d1", 1}, {"d2", 1}, {"d3", 1}, {"新しいフォルダ2/", 0}, {"old", 1}, {"taken", 1}});
    server_->makeDir("pub/tree");
    server_->writeFile("pub/tree/f", "f");
    server_->writeFile("pub/a.txt", "a");
    std::filesystem::permissions(server_->path("pub/a.txt"), std::filesystem::perms(0644));
    server_->makeDir("pub/NewFolder");
    server_->makeDir("pub/NewFolderOld");
    Frm_Main& w = startConnected();
    DialogRecorder dialogs;
    QAbstractItemView* local = View(w, 0)->currentView();
    QAbstractItemView* host = View(w, 1)->currentView();

    // Delete: No, then Yes (the items leave pane and disk), then a host tree from the menu.
    local->setFocus();
    SelectNames(View(w, 0), {"d1", "d2", "d3"});
    messages_->answers.push_back(ui::MsgResult::No);
    QTest::keyClick(local, Qt::Key_Delete);
    QCOMPARE(messages_->texts,
             QStringList{"選択したファイルを全て削除しますが\r\nよろしいですか？"});
    QCOMPARE(View(w, 0)->count(), 6);
    QTest::keyClick(local, Qt::Key_Delete);
    QCOMPARE(PaneNames(View(w, 0)), (QStringList{"old", "taken", "新しいフォルダ2"}));
    QTRY_VERIFY(w.isActiveWindow());
    host->setFocus();
    SelectNames(View(w, 1), {"tree"});
    Action(w, "m_DelFile")->trigger();
    QCOMPARE(PaneNames(View(w, 1)), (QStringList{"a.txt", "NewFolder", "NewFolderOld"}));
    messages_->texts.clear();

    // New folders: a taken number moves on; NewFolder and NewFolderOld give NewFolder3.
    local->setFocus();
    QTRY_COMPARE(w.ActivePane, 0);
    QTest::mouseClick(ToolbarPair(w, "imgMakeButton")->element(0), Qt::LeftButton);
    QVERIFY(PaneNames(View(w, 0)).contains("新しいフォルダ3"));
    host->setFocus();
    Action(w, "m_MakeFolder")->trigger();
    QVERIFY(PaneNames(View(w, 1)).contains("NewFolder3"));

    // Rename in place. Local: F2, type, Enter; a taken name is refused, nothing overwritten.
    local->setFocus();
    SelectNames(View(w, 0), {"old"});
    QTest::keyClick(local, Qt::Key_F2);
    EnterName("new");
    QTRY_VERIFY(PaneNames(View(w, 0)).contains("new"));
    QTest::keyClick(local, Qt::Key_F2);
    EnterName("taken");
    QTRY_COMPARE(
        messages_->texts,
        QStringList{"ファイル名が重複しているか、有効ではありません\r\n名前を変更出来ません"});
    QTRY_VERIFY(PaneNames(View(w, 0)).contains("new"));
    // Host: a rename the server refuses (onto a folder) puts the old label back; then a good one.
    host->setFocus();
    for (const char* name : {"NewFolder", "b.txt"}) {
        SelectNames(View(w, 1), {"a.txt"});
        Action(w, "m_ChangeName")->trigger();
        EnterName(name);
        QTRY_COMPARE(messages_->texts.size(), 2);
    }
    QTRY_VERIFY(server_->exists("pub/b.txt"));
    QTRY_VERIFY(PaneNames(View(w, 1)).contains("b.txt") &&
                !PaneNames(View(w, 1)).contains("a.txt"));

    // Permissions: Ctrl+P does nothing in the local pane; from the host pane 744 goes through.
    SelectNames(View(w, 1), {"b.txt"});
    local->setFocus();
    QTest::keyClick(local, Qt::Key_P, Qt::ControlModifier);
    QCOMPARE(dialogs.classNames, QStringList());
    QString shown;
    dialogs.hook = [&shown](QDialog* dialog) {
        auto* pms = qobject_cast<Frm_Pms*>(dialog);
        shown = pms->strFilename + " " + pms->strPms;
        pms->ownerBoxes[2]->setChecked(true);
        pms->cmd_ok_Click();
        return int(QDialog::Accepted);
    };
    host->setFocus();
    QTest::keyClick(host, Qt::Key_P, Qt::ControlModifier);
    QCOMPARE(shown, u"b.txt 644"_s);
    QCOMPARE(ModeOf(server_->path("pub/b.txt")), 0744);
    QCOMPARE(View(w, 1)->cellText(RowOf(View(w, 1), "b.txt"), 4).trimmed(), u"744"_s);
}

QTEST_MAIN(CommandsTest)
#include "tst_commands.moc"
