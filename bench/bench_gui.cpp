// Window figures against a server on loopback (vsftpd, like the command-line benchmark, or
// pyftpdlib), on the offscreen platform:
//  - how long the host pane takes to fill with a folder of many entries in details view;
//  - a big file downloaded and uploaded through the window's commands and through oxlip-ftp
//    from the same server in turns: both times side by side, and during the window's
//    transfers the longest gap between two turns of the event loop (a 10 ms timer) and how
//    often the progress window is redrawn.
// Not a unit test: it prints figures and fails only when the set-up or a transfer fails.
//
// Environment: OXLIP_BENCH_ENTRIES (default 50000) entries in the listed folder,
// OXLIP_BENCH_BIG_MB (default 1024) MiB in the transferred file, OXLIP_BENCH_RUNS (default 3)
// runs of each transfer, OXLIP_BENCH_SERVER "vsftpd" (default) or "pyftpdlib" (whose listing
// of a big folder alone takes about half a second).

#include "app/Frm_Main.h"
#include "app/PaneView.h"
#include "dialogs/Frm_State.h"
#include "settings/Settings.h"
#include "support/FtpServers.h"
#include "support/WindowTestSupport.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

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

// Reads a file through once (the server then serves it from memory).
bool ReadWhole(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        return false;
    }
    std::vector<char> block(1 << 20);
    while (::read(fd, block.data(), block.size()) > 0) {
    }
    ::close(fd);
    return true;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : (n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2);
}

// The command-line driver's URL for the server.
std::string ToolUrl(const FtpServer& server) {
    auto part = [](const std::string& text) {
        return QUrl::toPercentEncoding(QString::fromStdString(text)).toStdString();
    };
    return "ftp://" + part(server.user()) + ":" + part(server.password()) + "@" + server.server() +
           "/";
}

// Runs oxlip-ftp (built beside this benchmark) and returns its wall time in seconds, or -1
// when it failed or took longer than ten minutes.
double RunTool(const QStringList& args) {
    QProcess tool;
    QElapsedTimer clock;
    clock.start();
    tool.start(QStringLiteral(OXLIP_FTP_TOOL), args);
    const bool ended = tool.waitForFinished(600000);
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    if (!ended || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0) {
        tool.kill();
        tool.waitForFinished(5000);
        std::fprintf(stderr, "oxlip-ftp: %s\n", tool.readAllStandardError().constData());
        return -1;
    }
    return seconds;
}

const char* Verdict(bool met) {
    return met ? "met" : "MISSED";
}

// Notes when the widgets it watches are painted.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(const QElapsedTimer& clock) : clock_(clock) {}
    std::vector<qint64> paintsNs;

    // The most paints within any one second.
    int busiestSecond() const {
        int most = 0;
        for (size_t first = 0, last = 0; first < paintsNs.size(); ++first) {
            while (last < paintsNs.size() && paintsNs[last] - paintsNs[first] < 1000000000) {
                ++last;
            }
            most = std::max(most, int(last - first));
        }
        return most;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            paintsNs.push_back(clock_.nsecsElapsed());
        }
        return QObject::eventFilter(watched, event);
    }

private:
    const QElapsedTimer& clock_;
};

} // namespace

class GuiBench : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void hostPaneFill();
    void windowAgainstTool();

private:
    struct WindowRun {
        double seconds = 0;
        double longestGapMs = 0;
        int redrawsInASecond = 0; // the busiest second, of the bar or the byte count
    };
    Frm_Main& startConnected();
    WindowRun timeWindowCommand(Frm_Main& w, QToolButton* button);

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
    QTest::mouseClick(ConnectButton(w), Qt::LeftButton);
    return w;
}

void GuiBench::hostPaneFill() {
    const long entries = EnvNumber("OXLIP_BENCH_ENTRIES", 50000, kMaxEntries);
    QVERIFY(MakeEmptyFiles(server_->path("pub/many"), entries));
    Frm_Main& w = startConnected();
    QVERIFY(w.connected());
    Action(w, QStringLiteral("h_ListView%1").arg(PaneView::Details))->trigger();
    QCOMPARE(View(w, kHostPane)->viewMode(), int(PaneView::Details));

    QElapsedTimer clock;
    clock.start();
    const bool listed = w.ShowHostFolder("/pub/many/");
    const qint64 filledNs = clock.nsecsElapsed();
    // And until the pane has been drawn with it.
    View(w, kHostPane)->currentView()->viewport()->repaint();
    QCoreApplication::processEvents();
    const qint64 drawnNs = clock.nsecsElapsed();

    QVERIFY(listed);
    QCOMPARE(long(View(w, kHostPane)->count()), entries);
    const double filled = double(filledNs) / 1e9;
    std::printf("GUI host pane fill, %ld entries, details view, %s: %.3f s (%.3f s until drawn)"
                "  target <= 1 s: %s\n",
                entries, ServerKindName(BenchServer()), filled, double(drawnNs) / 1e9,
                Verdict(double(drawnNs) / 1e9 <= 1.0));

    // Sorted by another column and listed again: the old rows go as quickly as they came.
    View(w, kHostPane)->setSort(3, Qt::DescendingOrder);
    clock.restart();
    QVERIFY(w.ShowHostFolder("/pub/many/"));
    std::printf("GUI host pane sorted by date, then listed again: %.3f s\n",
                double(clock.nsecsElapsed()) / 1e9);
    std::fflush(stdout);
}

// One command of the window, timed from the click to its return, with the event loop's longest
// gap and the progress window's redraws meanwhile.
GuiBench::WindowRun GuiBench::timeWindowCommand(Frm_Main& w, QToolButton* button) {
    Frm_State* state = w.stateWindow();
    QElapsedTimer clock;
    PaintCounter barPaints(clock), countPaints(clock);
    state->Prog->installEventFilter(&barPaints);
    state->Lbl[2]->installEventFilter(&countPaints);

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
    QTest::mouseClick(button, Qt::LeftButton); // returns when the command has ended
    const qint64 endNs = clock.nsecsElapsed();
    timer.stop(); // the progress window may be gone now; the counters leave with this scope

    // The gaps from the click to the first turn, between turns and from the last to the end.
    ticks.push_back(endNs);
    qint64 longestNs = ticks.front();
    for (size_t i = 1; i < ticks.size(); ++i) {
        longestNs = std::max(longestNs, ticks[i] - ticks[i - 1]);
    }
    WindowRun run;
    run.seconds = double(endNs) / 1e9;
    run.longestGapMs = double(longestNs) / 1e6;
    run.redrawsInASecond = std::max(barPaints.busiestSecond(), countPaints.busiestSecond());
    return run;
}

// The same file through the window's commands and through oxlip-ftp against the same server,
// taking turns (which goes first alternates), so that a busy spell of the shared machine hits
// both. The file holds real bytes and is read once before the timing, so that the server
// serves it from memory: a sparse file costs the server more than the client.
void GuiBench::windowAgainstTool() {
    const long mb = EnvNumber("OXLIP_BENCH_BIG_MB", 1024, kMaxBigMb);
    const long runs = EnvNumber("OXLIP_BENCH_RUNS", 3, 20);
    const off_t bytes = off_t(mb) * 1024 * 1024;
    const std::string source = harness_->local("up.bin");
    MakeFile(source, size_t(bytes));
    std::filesystem::copy_file(source, server_->path("pub/big.bin"));
    QVERIFY(ReadWhole(server_->path("pub/big.bin")));
    Frm_Main& w = startConnected();
    QVERIFY(w.connected());
    const std::string url = ToolUrl(*server_);

    std::vector<double> winDown, toolDown, winUp, toolUp;
    // Each result is checked and removed at once, so no run waits for another's writeback.
    auto landed = [&](const std::string& path) {
        const bool whole = std::filesystem::file_size(path) == uintmax_t(bytes);
        std::filesystem::remove(path);
        return whole;
    };
    double longestGapMs = 0;
    int redrawsInASecond = 0;
    auto window = [&](bool download) {
        if (download) {
            ClickItem(View(w, kHostPane), "big.bin");
        } else {
            ClickItem(View(w, kLocalPane), "up.bin");
        }
        ::sync(); // what the last run left for the disk is not this run's to wait for
        const WindowRun run = timeWindowCommand(w, TransferButton(w, download ? 1 : 0));
        std::printf("  window %s %.3f s, longest gap %.1f ms, %d redraws in its busiest second\n",
                    download ? "download" : "upload  ", run.seconds, run.longestGapMs,
                    run.redrawsInASecond);
        (download ? winDown : winUp).push_back(run.seconds);
        longestGapMs = std::max(longestGapMs, run.longestGapMs);
        redrawsInASecond = std::max(redrawsInASecond, run.redrawsInASecond);
        QVERIFY(messages_->texts.isEmpty());
        QVERIFY(landed(download ? harness_->local("big.bin") : server_->path("pub/up.bin")));
    };
    auto tool = [&](bool download) {
        const QStringList args =
            download ? QStringList{QString::fromStdString(url), "get", "/pub/big.bin",
                                   QString::fromStdString(harness_->local("tool.bin"))}
                     : QStringList{QString::fromStdString(url), "put",
                                   QString::fromStdString(source), "/pub/tool-up.bin"};
        ::sync();
        const double seconds = RunTool(args);
        QVERIFY2(seconds > 0, "oxlip-ftp failed");
        std::printf("  tool   %s %.3f s\n", download ? "download" : "upload  ", seconds);
        (download ? toolDown : toolUp).push_back(seconds);
        QVERIFY(landed(download ? harness_->local("tool.bin") : server_->path("pub/tool-up.bin")));
    };
    for (long r = 0; r < runs; ++r) {
        for (const bool download : {true, false}) {
            if (r % 2 == 0) {
                window(download);
                tool(download);
            } else {
                tool(download);
                window(download);
            }
            if (QTest::currentTestFailed()) {
                return;
            }
        }
    }

    const double megabytes = double(bytes) / 1e6;
    auto report = [&](const char* what, std::vector<double>& win, std::vector<double>& cli) {
        const double a = Median(win), b = Median(cli);
        std::printf("GUI %s of %ld MiB, median of %ld: window %.2f s (%.0f MB/s), oxlip-ftp %.2f s"
                    " (%.0f MB/s); window %.2f× the tool's time  target <= 1.10: %s\n",
                    what, mb, runs, a, megabytes / a, b, megabytes / b, a / b,
                    Verdict(a <= 1.1 * b));
    };
    report("download", winDown, toolDown);
    report("upload", winUp, toolUp);
    std::printf("GUI longest event-loop gap during the window's transfers: %.1f ms"
                "  target <= 100 ms: %s\n",
                longestGapMs, Verdict(longestGapMs <= 100.0));
    std::printf("GUI progress redraws in the busiest second of the window's transfers: %d"
                "  target <= 20: %s\n",
                redrawsInASecond, Verdict(redrawsInASecond <= 20));
    std::fflush(stdout);
}

QTEST_MAIN(GuiBench)
#include "bench_gui.moc"
