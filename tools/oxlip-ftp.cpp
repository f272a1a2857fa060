// oxlip-ftp: a command-line driver over the core, for scripts, tests and benchmarks. It calls
// the same operations as the window.

#include "ToolHelp.h"
#include "ftp/RemoteDir.h"
#include "ftp/RemoteOps.h"
#include "ftp/Session.h"
#include "ftp/Transfer.h"
#include "ftp/engine/ListingParser.h"
#include "settings/Settings.h"
#include "settings/Version.h"
#include "tools/CommandLine.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <iterator>
#include <unistd.h>
#include <utility>

using namespace oxlip;

namespace {

// SIGINT and SIGTERM raise the session's cancel request; the program then ends with 128 plus
// the signal's number. A second signal ends it at once (the handler is reset).
std::atomic<bool> gCancel{false};
volatile std::sig_atomic_t gSignal = 0;

extern "C" void OnStopSignal(int signal) {
    gSignal = signal;
    gCancel.store(true);
}

void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "oxlip-ftp: %s\n", message.c_str());
    return 1;
}

// Counts the files and bytes a transfer moves and shows progress on standard error when it
// is a terminal; names what a tree transfer left out there too. The session's own lines
// (connecting, encryption, a lost connection) are shown only on a terminal: for a script the
// one error line of a failure says it.
class ToolSink : public EventSink {
public:
    explicit ToolSink(bool show) : show_(show) {}
    // The event in English; empty when it is not to be shown.
    std::string Words(const LogEvent& event) const {
        std::string line;
        switch (event.kind) {
        case LogKind::UnsafeNameSkipped:
            return "skipped an unsafe name: " + event.subject;
        case LogKind::FailedLinkSkipped:
            return "skipped a link that failed: " + event.subject;
        case LogKind::FolderLinkSkipped:
            return "left a link to a folder alone: " + event.subject;
        case LogKind::Connecting:
            line = "connecting to " + event.subject;
            break;
        case LogKind::Connected:
            line = "connected";
            break;
        case LogKind::TlsEstablished:
            line = "encrypted with " + event.subject + " (" + event.detail + ")";
            break;
        case LogKind::TlsFellBack:
            line = "the server offers no encryption: connected without it";
            break;
        case LogKind::LoggingIn:
            line = "logging in";
            break;
        case LogKind::LoggedIn:
            line = "logged in";
            break;
        case LogKind::ConnectionLost:
            line = "the connection to the server was lost";
            break;
        case LogKind::ExtraConnectionRefused:
            return "could not open another connection, going on with fewer: " + event.subject;
        case LogKind::Cancelled:
            return "cancelled after " + event.subject + " files";
        case LogKind::Reconnected:
            line = "connected again";
            break;
        case LogKind::DataFellBack:
            line = "EPSV data connections failed: using PASV";
            break;
        case LogKind::FinalReplyLost:
            return "the server's final reply was lost; the file arrived whole: " + event.subject;
        }
        return show_ ? line : std::string();
    }
    void pump() override {}
    void log(const LogEvent& event) override {
        const std::string line = Words(event);
        if (!line.empty()) {
            endLine();
            std::fprintf(stderr, "oxlip-ftp: %s\n", line.c_str());
        }
    }
    void progress(const ProgressEvent& event) override {
        switch (event.phase) {
        case ProgressPhase::Receiving:
        case ProgressPhase::Sending:
            if (event.file == 0) { // the files of a tree over several connections overlap
                finishFile();
            }
            ++files_;
            item_ =
                (event.phase == ProgressPhase::Receiving ? "receiving " : "sending ") + event.name;
            break;
        case ProgressPhase::Deleting:
        case ProgressPhase::Started:
            break;
        case ProgressPhase::Bytes:
            if (event.file > 0) {
                break; // a tree over several connections: its Tree events count the bytes
            }
            current_ = event.done;
            if (show_) {
                std::fprintf(stderr, "\r\033[K%s: %lld of %lld bytes", item_.c_str(),
                             static_cast<long long>(event.done),
                             static_cast<long long>(event.total));
                lineOpen_ = true;
            }
            break;
        case ProgressPhase::Tree:
            treeBytes_ = event.done;
            if (show_) {
                std::fprintf(
                    stderr, "\r\033[K%lld of %lld files, %lld of %lld bytes",
                    static_cast<long long>(event.filesDone), static_cast<long long>(event.files),
                    static_cast<long long>(event.done), static_cast<long long>(event.total));
                lineOpen_ = true;
            }
            break;
        }
    }
    void finishFile() {
        bytes_ += current_;
        current_ = 0;
        bytes_ += std::exchange(treeBytes_, 0);
    }
    int64_t files() const { return files_; }
    int64_t bytes() const { return bytes_; }
    void endLine() {
        if (lineOpen_) {
            std::fputs("\n", stderr);
            lineOpen_ = false;
        }
    }

private:
    bool show_;
    bool lineOpen_ = false;
    std::string item_;
    int64_t files_ = 0;
    int64_t bytes_ = 0;
    int64_t current_ = 0;
    int64_t treeBytes_ = 0; // a tree over several connections: the bytes its files moved
};

ftp::CivilTime LocalNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1,         tm.tm_mday, tm.tm_hour, tm.tm_min,
            tm.tm_sec,         int(tm.tm_gmtoff / 60)};
}

// Standard input as one listing body, as the engine parses a listing (so entries that a
// server wraps onto two lines come out whole).
int ParseListing(const ToolRequest& request) {
    const ftp::CivilTime now = request.now ? *request.now : LocalNow();
    ftp::ListingAccumulator accumulator(request.mlsd, now);
    char buffer[65536];
    while (std::cin.read(buffer, sizeof buffer) || std::cin.gcount() > 0) {
        accumulator.Feed(std::string_view(buffer, std::size_t(std::cin.gcount())));
    }
    for (const DirEntry& entry : accumulator.Finish()) {
        std::printf("%s\n", FormatEntryLine(entry).c_str());
    }
    return 0;
}

Status RunTransfer(Session& client, const ToolRequest& request) {
    const std::string& from = request.args[0];
    const std::string& to = request.args[1];
    if (request.command == "get") {
        return DownloadFile(client, from, to, request.mode, request.resume);
    }
    if (request.command == "put") {
        return UploadFile(client, from, to, request.mode, request.resume);
    }
    if (request.command == "getdir") {
        return DownloadFolder(client, from, to, request.mode, request.parallel);
    }
    return UploadFolder(client, from, to, request.mode, request.parallel);
}

std::string ReplyOf(const std::string& text) {
    return text.empty() ? "" : ": " + text;
}

// The server's reply, or what went wrong on this side (a local failure is never worded by the
// server's last reply, which may well be a success).
std::string ReplyOf(const Status& status) {
    if (!status.reply.empty() && status.kind != ErrorKind::LocalIo) {
        return ReplyOf(status.reply);
    }
    switch (status.kind) {
    case ErrorKind::LocalIo:
        return ": a local file or folder could not be read, written or made";
    case ErrorKind::Unsafe:
        return ": a name is not safe to send to the server";
    case ErrorKind::TooDeep:
        return ": the tree is nested too deeply";
    case ErrorKind::Incomplete:
        return ": entries were left out (see above)";
    case ErrorKind::ConnectionLost:
        return ": the connection was lost";
    default:
        return "";
    }
}

// The arguments that name host paths.
std::vector<std::string> HostPaths(const ToolRequest& request) {
    const std::string& command = request.command;
    if (command == "get" || command == "getdir") {
        return {request.args[0]};
    }
    if (command == "put" || command == "putdir") {
        return {request.args[1]};
    }
    return command == "quote" ? std::vector<std::string>{} : request.args;
}

int RunCommand(Session& client, const ToolRequest& request) {
    const std::string& command = request.command;
    const auto& args = request.args;
    if (command == "ls") {
        const std::string path = args.empty() ? "" : args[0];
        if (auto opened = HostCurrentDirectory(client, path); !opened) {
            return Fail("cannot open the folder \"" + path + "\"" + ReplyOf(opened.status()));
        }
        std::vector<DirEntry> entries;
        if (Status listed = ListHostFolder(client, entries, "*.*"); !listed) {
            return Fail("cannot list the folder \"" + path + "\"" + ReplyOf(listed));
        }
        for (const DirEntry& entry : entries) {
            std::printf("%s\n", FormatEntryLine(entry).c_str());
        }
        return 0;
    }
    if (command == "pwd") {
        const auto current = HostCurrentDirectory(client, "");
        if (!current) {
            return Fail("cannot read the current folder" + ReplyOf(current.status()));
        }
        std::printf("%s\n", current.value().c_str());
        return 0;
    }
    if (command == "quote") {
        const Status sent = SendFtpCommand(client, args[0]);
        if (!sent) {
            return Fail("the server refused the command" + ReplyOf(sent));
        }
        std::printf("%s\n", sent.reply.c_str());
        return 0;
    }
    Status ok = Status::Fail(ErrorKind::Protocol);
    if (command == "rm") {
        ok = DeleteHostFile(client, args[0]);
    } else if (command == "rmdir") {
        ok = DeleteHostFolder(client, args[0]);
    } else if (command == "mkdir") {
        ok = CreateHostFolder(client, args[0]);
    } else if (command == "mv") {
        ok = RenameHostFile(client, args[0], args[1]);
        if (ok.kind == ErrorKind::Exists) {
            return Fail("mv: \"" + args[1] + "\" already exists");
        }
    }
    return ok ? 0 : Fail(command + " failed" + ReplyOf(ok));
}

// Runs the request's command on the open session: the exit status.
int RunOnce(Session& client, const ToolRequest& request, ToolSink& progress) {
    const std::string& command = request.command;
    int status = 0;
    // Names typed here go out in the encoding of the server's names, as names from listings do.
    for (const std::string& path : HostPaths(request)) {
        LearnHostPathNames(client, path);
    }
    if (command == "get" || command == "put" || command == "getdir" || command == "putdir") {
        const auto start = std::chrono::steady_clock::now();
        const Status ok = RunTransfer(client, request);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        progress.finishFile();
        progress.endLine();
        if (ok) {
            std::printf("%lld files, %lld bytes, %.3f s\n",
                        static_cast<long long>(progress.files()),
                        static_cast<long long>(progress.bytes()), seconds);
        } else {
            status = Fail(command + " failed" + ReplyOf(ok));
        }
    } else {
        status = RunCommand(client, request);
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    if (const auto text = InfoOptionText({argv + 1, argv + argc}, "oxlip-ftp", kToolHelp)) {
        std::fputs(text->c_str(), stdout);
        return 0;
    }
    std::string error;
    const auto request = ParseToolArgs(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!request) {
        return Fail(error);
    }
    if (request->command == "parse-listing") {
        return ParseListing(*request);
    }

    Settings settings("");
    settings.SetDefaultAsciiExtensions();
    ToolSink progress(::isatty(STDERR_FILENO) != 0);
    SessionPorts ports;
    ports.sink = &progress;
    ports.asciiExtensions = &settings.AsciiExtensionList;
    ports.cancel = &gCancel;
    CatchStopSignals();

    // FTPS: a certificate that does not verify is refused (no judge), and named.
    SessionLogin connection{request->url->server, request->url->user, request->url->password, {}};
    connection.options.tls.policy = request->url->tls;
    connection.options.tls.caFile = request->caFile;
    connection.options.data = request->active ? ftp::DataMode::Active : ftp::DataMode::Passive;
    connection.options.encoding = request->encoding;
    Session client(ports);
    std::optional<ftp::CertificateProblem> certificate;
    const Status login = OpenSession(client, connection, &certificate);
    if (gSignal) {
        return 128 + gSignal;
    }
    if (!login && certificate) {
        const ftp::CertificateProblem& problem = *certificate;
        std::string text = "the certificate of " + problem.hostPort + " does not verify (" +
                           problem.detail + "); SHA-256 fingerprint " + problem.fingerprint;
        if (!problem.trustedFingerprint.empty()) {
            text += ", trusted before: " + problem.trustedFingerprint;
        }
        return Fail(text);
    }
    if (!login) {
        return Fail("cannot log in to " + request->url->server + ReplyOf(login));
    }
    int status = RunOnce(client, *request, progress);
    // A connection lost on the way (an idle time-out, a reset) is made again once.
    if (status != 0 && !gSignal && client.client() && client.client()->lost() &&
        ReconnectSession(client, "")) {
        status = RunOnce(client, *request, progress);
    }
    CloseSession(client);
    return gSignal ? 128 + gSignal : status;
}
