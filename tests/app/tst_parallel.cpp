// Folder trees over several connections from the window: the connection count setting, the
// numbered log lines and the tree's figures.

#include "support/WindowTestSupport.h"

#include <QRegularExpression>
#include <QSpinBox>

using namespace oxlip;
using namespace Qt::StringLiterals;
using namespace oxlip::test;

class ParallelTest : public QObject {
    Q_OBJECT

private slots:
    void connectionCountThroughFtpIni();
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
        {"Parallel=8", 8, 1, "Parallel=1"},
        {"Parallel=0", 1, 2, "Parallel=2"},
        {"Parallel=12", 8, 8, "Parallel=8"},
        {"Parallel=two", 1, 1, "Parallel=1"},
    };
    const QRegularExpression line(u"^Parallel=[^\\r\\n]*"_s, QRegularExpression::MultilineOption);
    for (const auto& row : rows) {
        WindowHarness h;
        h.writeFtpIni(std::string("[Oxlip]\n") + row.stored + "\n");
        h.settings->LoadAppSettings(nullptr);
        Frm_Ftp dialog(*h.settings);
        const int shown = dialog.Spn_Parallel->value();
        dialog.Spn_Parallel->setValue(row.chosen);
        QVERIFY(h.settings->SaveAppSettings(nullptr));
        const QString saved =
            line.match(Q(ReadFileBytes(h.settingsDir.file("Ftp.ini")))).captured(0);
        QVERIFY2(
            shown == row.shown && saved == QString::fromUtf8(row.saved),
            qPrintable(u"%1 -> %2: %3 %4"_s.arg(row.stored).arg(row.chosen).arg(shown).arg(saved)));
    }
}

void ParallelTest::treeBothWays() {
    // One connection: the lines of old. Several: a numbered line for each file as it starts,
    // and the tree's files and bytes (381 KB) in the progress window's count line.
    std::unique_ptr<FtpServer> server;
    std::unique_ptr<WindowHarness> harness;
    std::unique_ptr<MessageScript> messages;
    if (!StartServerAndWindow(server, harness, messages)) {
        return;
    }
    harness->makeLocal(
        {{"T/a", 9}, {"T/b", 0}, {"T/s/c", 300000}, {"T/s/d/e", 90000}, {"T/g", 9}, {"dl/", 0}});
    const QStringList files{"a", "b", "c", "e", "g"};
    harness->writeServerProfile(*server, "/pub/", server->password());
    Frm_Main& w = harness->start();
    QVERIFY(Toggle(w));
    QStringList counts;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (const auto* state = ShownProgress(w)) {
            counts << state->Lbl[2]->text();
        }
    });
    watch.start(0); // at every pass of the event loop
    const QRegularExpression figures(u" / 5 ファイル　(\\d+)?KB / 381KB$"_s);

    for (const int connections : {1, 3}) {
        harness->settings->Parallel = connections;
        for (const bool upload : {true, false}) {
            const QString way = upload ? u"アップロード"_s : u"ダウンロード"_s;
            const QString file = upload ? u"ファイルをアップロード中・・・・→"_s
                                        : u"←ファイルをダウンロード中・・・・"_s;
            counts.clear();
            const int before = Log(w)->count();
            QVERIFY(w.SetLocalPath(harness->local(upload ? "" : "dl/")));
            TransferFrom(w, upload ? 0 : 1, {"T"});
            const QStringList log = Log(w)->lines().mid(before);
            QCOMPARE(log.mid(0, 2) + log.mid(log.size() - 2),
                     (QStringList{way + "開始！！",
                                  upload ? u"フォルダをアップロード中・・・・→"_s
                                         : u"←フォルダをダウンロード中・・・・"_s,
                                  way + "完了", kSeparator36}));
            QStringList named;
            for (qsizetype n = 2; n < log.size() - 2; ++n) {
                named << QString(log[n]).remove(u"[%1] "_s.arg(n - 1) + file);
            }
            named.sort();
            QCOMPARE(named, connections == 1 ? QStringList() : files);
            QVERIFY2(connections == 1 ? counts.filter(u"ファイル"_s).isEmpty()
                                      : !counts.filter(figures).isEmpty(),
                     qPrintable(counts.join('|')));
        }
    }
}

QTEST_MAIN(ParallelTest)
#include "tst_parallel.moc"
