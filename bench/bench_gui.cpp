// Window figures against a server on loopback (vsftpd, like the command-line benchmark, or
// pyftpdlib), on the offscreen platform:
//  - how long the host pane takes to fill with a folder of many entries in details view;
//  - while the window downloads a big file through its download command: the longest gap
//    between two turns of the event loop (a 10 ms timer) and how often the progress bar is
//    redrawn.
// Not a unit test: it prints figures and fails only when the set-up or a transfer fails.
//
// Environment: OXLIP_BENCH_ENTRIES (default 50000) entries in the listed folder,
// OXLIP_BENCH_BIG_MB (default 1024) MiB in the downloaded file, OXLIP_BENCH_SERVER "vsftpd"
// (default) or "pyftpdlib" (whose listing of a big folder alone takes about half a second).

#include "app/Frm_Main.h"
#include "app/PaneView.h"
#include "dialogs/Frm_State.h"
#include "settings/Settings.h"
#include "support/FtpServers.h"
#include "support/WindowTestSupport.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace oxlip;
using namespace oxlip::test;

namespace {

constexpr long kMaxEntries = 1000000;
constexpr long kMaxBigMb = 64 * 1024;
// Timer ticks kept: enough for well over an hour at 10 ms.
constexpr size_t kMaxTicks = 500000;

long EnvNumber(const char* name, long fallback, long max) {
    const char* text = std::getenv(name);
    if (!text || !*text) {
        return fallback;
    }
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value <= 0) {
        return fallback;
    }
    return std::min(value, max);
}

ServerKind BenchServer() {
    const char* name = std::getenv("OXLIP_BENCH_SERVER");
    return name && std::string(name) == "pyftpdlib" ? ServerKind::Pyftpdlib : ServerKind::Vsftpd;
}

// Empty files named f000000 ... in `folder`.
bool MakeEmptyFiles(const std::string& folder, long count) {
    std::filesystem::create_directories(folder);
    char name[32];
    for (long i = 0; i < count; ++i) {
        std::snprintf(name, sizeof name, "/f%06ld", i);
        const int fd = ::open((folder + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) {
            return false;
        }
        ::close(fd);
    }
    return true;
}

// A file of `bytes` zero bytes that takes no room on disk.
bool MakeSparseFile(const std::string& path, off_t bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        return false;
    }
    const bool ok = ::ftruncate(fd, bytes) == 0;
    ::close(fd);
    return ok;
}

const char* Verdict(bool met) {
    return met ? "met" : "MISSED";
}

// Counts the paint events of the widgets it watches.
class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

class GuiBench : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void hostPaneFill();
    void eventLoopDuringDownload();

private:
    Frm_Main& startConnected();

    std::unique_ptr<FtpServer> server_;
    std::unique_ptr<WindowHarness> harness_;
    std::unique_ptr<MessageScript> messages_;
};

void GuiBench::init() {
    StartServerAndWindow(server_, harness_, messages_, BenchServer());
}

void GuiBench::cleanup() {
    harness_.reset();
    messages_.reset();
    server_.reset();
}

Frm_Main& GuiBench::startConnected() {
    harness_->writeServerProfile(*server_, "/pub/", server_->password());
    Frm_Main& w = harness_->start();
    QTest::mouseClick(w.Btn_Con, Qt::LeftButton);
    return w;
}

void GuiBench::hostPaneFill() {
    const long entries = EnvNumber("OXLIP_BENCH_ENTRIES", 50000, kMaxEntries);
    QVERIFY(MakeEmptyFiles(server_->path("pub/many"), entries));
    Frm_Main& w = startConnected();
    QVERIFY(w.connected());
    w.h_ListView[PaneView::Details]->trigger();
    QCOMPARE(w.lv[kHostPane]->viewMode(), int(PaneView::Details));

    QElapsedTimer clock;
    clock.start();
    const bool listed = w.ShowHostFolder("/pub/many/");
    const qint64 filledNs = clock.nsecsElapsed();
    // And until the pane has been drawn with it.
    w.lv[kHostPane]->currentView()->viewport()->repaint();
    QCoreApplication::processEvents();
    const qint64 drawnNs = clock.nsecsElapsed();

    QVERIFY(listed);
    QCOMPARE(long(w.lv[kHostPane]->count()), entries);
    const double filled = double(filledNs) / 1e9;
    std::printf("GUI host pane fill, %ld entries, details view, %s: %.3f s (%.3f s until drawn)"
                "  target <= 1 s: %s\n",
                entries, ServerKindName(BenchServer()), filled, double(drawnNs) / 1e9,
                Verdict(double(drawnNs) / 1e9 <= 1.0));

    // Sorted by another column and listed again: the old rows go as quickly as they came.
    w.lv[kHostPane]->setSort(3, Qt::DescendingOrder);
    clock.restart();
    QVERIFY(w.ShowHostFolder("/pub/many/"));
    std::printf("GUI host pane sorted by date, then listed again: %.3f s\n",
                double(clock.nsecsElapsed()) / 1e9);
    std::fflush(stdout);
}

void GuiBench::eventLoopDuringDownload() {
    const long mb = EnvNumber("OXLIP_BENCH_BIG_MB", 1024, kMaxBigMb);
    const off_t bytes = off_t(mb) * 1024 * 1024;
    QVERIFY(MakeSparseFile(server_->path("pub/big.bin"), bytes));
    Frm_Main& w = startConnected();
    QVERIFY(w.connected());
    QVERIFY(PaneNames(w.lv[kHostPane]).contains("big.bin"));
    ClickItem(w.lv[kHostPane], "big.bin");

    // The progress window the command will show, made now so its redraws can be counted.
    Frm_State* state = w.stateWindow();
    PaintCounter barPaints, countPaints;
    state->Prog->installEventFilter(&barPaints);
    state->Lbl[2]->installEventFilter(&countPaints);

    QElapsedTimer clock;
    std::vector<qint64> ticks;
    ticks.reserve(kMaxTicks);
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, &timer, [&]() {
        if (ticks.size() < kMaxTicks) {
            ticks.push_back(clock.nsecsElapsed());
        }
    });
    clock.start();
    timer.start();
    QTest::mouseClick(w.Btn_Trs[1], Qt::LeftButton); // returns when the command has ended
    const qint64 endNs = clock.nsecsElapsed();
    timer.stop();

    QVERIFY(messages_->texts.isEmpty());
    const std::string local = harness_->local("big.bin");
    QVERIFY(std::filesystem::exists(local));
    QCOMPARE(std::filesystem::file_size(local), uintmax_t(bytes));

    // The gaps from the click to the first turn, between turns and from the last to the end;
    // longestAt is where the longest one began.
    ticks.push_back(endNs);
    qint64 longestNs = ticks.front();
    qint64 longestAt = 0;
    for (size_t i = 1; i < ticks.size(); ++i) {
        if (ticks[i] - ticks[i - 1] > longestNs) {
            longestNs = ticks[i] - ticks[i - 1];
            longestAt = ticks[i - 1];
        }
    }
    ticks.pop_back();
    const double seconds = double(endNs) / 1e9;
    const double longestMs = double(longestNs) / 1e6;
    const double barRate = barPaints.paints / seconds;
    const double countRate = countPaints.paints / seconds;
    std::printf("GUI download of %ld MiB: %.2f s (%.0f MB/s), %zu timer turns\n", mb, seconds,
                double(bytes) / 1e6 / seconds, ticks.size());
    std::printf("GUI longest event-loop gap during the download: %.1f ms (from %.3f s)"
                "  target <= 100 ms: %s\n",
                longestMs, double(longestAt) / 1e9, Verdict(longestMs <= 100.0));
    std::printf("GUI progress redraws: bar %d (%.1f/s), byte count %d (%.1f/s)"
                "  target <= 20/s: %s\n",
                barPaints.paints, barRate, countPaints.paints, countRate,
                Verdict(barRate <= 20.0 && countRate <= 20.0));
    std::fflush(stdout);
    std::filesystem::remove(local);
}

QTEST_MAIN(GuiBench)
#include "bench_gui.moc"
