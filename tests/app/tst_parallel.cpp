// Folder trees over several connections from the window: the connection count setting, the
// numbered log lines and the tree's figures.

#include "support/WindowTestSupport.h"

#include <QRegularExpression>
#include <QSpinBox>

using namespace oxlip;
using namespace Qt::StringLiterals;
using namespace oxlip::test;

namespace {

// The tree under T: relative path and size (about 700 KB, so that the figures have no comma).
const std::vector<std::pair<std::string, size_t>> kTree = {
    {"a.bin", 3000},
    {"b.txt", 10},
    {"empty.bin", 0},
    {"sub/c.bin", 200000},
    {"sub/d.bin", 150001},
    {"sub/deep/e.bin", 70000},
    {"sub/deep/f.bin", 250000},
    {"g.bin", 40000},
};

} // namespace

class ParallelTest : public QObject {
    Q_OBJECT

private slots:
    void connectionCountThroughFtpIni();
    void treeBothWays_data();
    void treeBothWays();
};

void ParallelTest::connectionCountThroughFtpIni() {
    // The Parallel line of Ftp.ini (none: ""), the count shown, the count chosen, the line saved.
    const struct {
        const char* stored;
        int shown, chosen;
        const char* saved;
    } rows[] = {
        {"", 1, 1, ""},
        {"", 1, 4, "Parallel=4"},
        {"Parallel=3", 3, 3, "Parallel=3"},
        {"Parallel=8", 8, 1, "Parallel=1"},
        {"Parallel=0", 1, 2, "Parallel=2"},
        {"Parallel=12", 8, 8, "Parallel=8"},
        {"Parallel=-4", 1, 1, "Parallel=1"},
        {"Parallel=two", 1, 1, "Parallel=1"},
    };
    for (const auto& row : rows) {
        const QString name = u"%1 -> %2"_s.arg(row.stored).arg(row.chosen);
        TempDir folder;
        WriteFileBytes(folder.file("Ftp.ini"),
                       std::string("[Oxlip]\nListCache=True\n") + row.stored + "\n");
        Settings settings(folder.path());
        settings.LoadAppSettings(nullptr);
        Frm_Ftp dialog(settings);
        QVERIFY2(dialog.Spn_Parallel->value() == row.shown, qPrintable(name));
        dialog.Spn_Parallel->setValue(row.chosen);
        QVERIFY2(settings.Parallel == row.chosen, qPrintable(name)); // at once
        QVERIFY(settings.SaveAppSettings(nullptr));
        const QString saved = QString::fromStdString(ReadFileBytes(folder.file("Ftp.ini")));
        const QRegularExpression line(u"^Parallel=[^\\r\\n]*"_s,
                                      QRegularExpression::MultilineOption);
        QVERIFY2(line.match(saved).captured(0) == QString::fromUtf8(row.saved),
                 qPrintable(name + ": " + saved));
        Settings again(folder.path());
        again.LoadAppSettings(nullptr);
        QVERIFY2(again.Parallel == row.chosen, qPrintable(name));
    }
}

void ParallelTest::treeBothWays_data() {
    QTest::addColumn<int>("connections");
    QTest::addColumn<int>("kind");
    QTest::newRow("one") << 1 << int(ServerKind::Pyftpdlib);
    QTest::newRow("three on pyftpdlib") << 3 << int(ServerKind::Pyftpdlib);
    QTest::newRow("three on vsftpd") << 3 << int(ServerKind::Vsftpd);
}

void ParallelTest::treeBothWays() {
    QFETCH(int, connections);
    QFETCH(int, kind);
    std::unique_ptr<FtpServer> server;
    std::unique_ptr<WindowHarness> harness;
    std::unique_ptr<MessageScript> messages;
    if (!StartServerAndWindow(server, harness, messages, ServerKind(kind))) {
        return;
    }
    std::size_t total = 0;
    QStringList wanted; // the files' names
    for (const auto& [path, size] : kTree) {
        MakeFile(harness->local("T/" + path));
        WriteFileBytes(harness->local("T/" + path), RandomBytes(size, unsigned(size)));
        total += size;
        wanted << Q(path).section('/', -1);
    }
    wanted.sort();
    std::filesystem::create_directories(harness->local("dl"));
    harness->writeServerProfile(*server, "/pub/", server->password());
    Frm_Main& w = harness->start();
    QVERIFY(Toggle(w));
    harness->settings->Parallel = connections;

    // What the progress window's count line showed while the command ran.
    QStringList counts;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (const auto* state = ShownProgress(w)) {
            counts << state->Lbl[2]->text();
        }
    });
    watch.start(0); // at every pass of the event loop

    const struct {
        bool upload;
        QString start, folder, fileLine, end;
    } ways[] = {
        {true, "アップロード開始！！", "フォルダをアップロード中・・・・→",
         "ファイルをアップロード中・・・・→", "アップロード完了"},
        {false, "ダウンロード開始！！", "←フォルダをダウンロード中・・・・",
         "←ファイルをダウンロード中・・・・", "ダウンロード完了"},
    };
    for (const auto& way : ways) {
        counts.clear();
        const int before = Log(w)->count();
        if (!way.upload) {
            QVERIFY(w.SetLocalPath(harness->local("dl/")));
        }
        SelectNames(View(w, way.upload ? 0 : 1), {"T"});
        QTest::mouseClick(TransferButton(w, way.upload ? 0 : 1), Qt::LeftButton);
        QVERIFY2(messages->texts.isEmpty(), qPrintable(messages->texts.join('|')));
        const std::string deep = "T/sub/deep/f.bin"; // the bytes of one file
        QVERIFY(ReadFileBytes(harness->local(deep)) ==
                (way.upload ? server->readFile("pub/" + deep)
                            : ReadFileBytes(harness->local("dl/" + deep))));

        // One connection: the lines of old. Several: a line numbered in order for each file.
        QStringList expected{way.start, way.folder};
        QStringList files = Log(w)->lines().mid(before + 2);
        files = files.mid(0, files.size() - 2);
        if (connections > 1) {
            QStringList names;
            for (int n = 0; n < files.size(); ++n) {
                const QString prefix = u"[%1] "_s.arg(n + 1) + way.fileLine;
                QVERIFY2(files[n].startsWith(prefix), qPrintable(files[n]));
                names << files[n].mid(prefix.size());
            }
            names.sort();
            QCOMPARE(names, wanted);
            expected << files;
        }
        expected << way.end << kSeparator36;
        QCOMPARE(Log(w)->lines().mid(before), expected);

        // The tree's figures: some of all files, of all bytes; none on one connection.
        const QString whole = u" / %1 ファイル　"_s.arg(kTree.size()) +
                              u"(\\d+)?KB / %1KB$"_s.arg((total + 512) / 1024);
        const QStringList tree = counts.filter(QRegularExpression(whole));
        QVERIFY2(connections == 1 ? counts.filter(u"ファイル"_s).isEmpty() : !tree.isEmpty(),
                 qPrintable(counts.join('|')));
    }
}

QTEST_MAIN(ParallelTest)
#include "tst_parallel.moc"
