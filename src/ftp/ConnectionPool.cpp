#include "ftp/ConnectionPool.h"

#include <algorithm>
#include <chrono>
#include <variant>

namespace oxlip {

namespace {

constexpr auto kWaitStep = std::chrono::milliseconds(20);

bool StartsFile(const ProgressEvent& event) {
    return event.phase == ProgressPhase::Receiving || event.phase == ProgressPhase::Sending;
}

} // namespace

// The main connection's sink while the pool runs: the session's own, with the workers' events
// told at every pump. Its own file is numbered as the workers' are.
class ConnectionPool::Relay : public EventSink {
public:
    explicit Relay(ConnectionPool& pool) : pool_(pool) {}
    void log(const LogEvent& event) override {
        Tell(pool_.mainPorts_, event.kind, event.subject, event.detail);
    }
    void progress(const ProgressEvent& event) override {
        if (!pool_.ownFile_) {
            Show(pool_.mainPorts_, event);
            return;
        }
        ProgressEvent own = event;
        std::vector<QueuedEvent> queued; // the starts numbered before this one go first
        {
            std::lock_guard<std::mutex> lock(pool_.mutex_);
            pool_.number(own, pool_.ownNumber_);
            queued.swap(pool_.events_);
        }
        queued.emplace_back(std::move(own));
        pool_.tell(queued);
    }
    void pump() override {
        pool_.forward();
        Pump(pool_.mainPorts_);
    }

private:
    ConnectionPool& pool_;
};

// A worker connection's sink: progress goes to the queue at once, numbered; a file's log
// events are kept until it is done and then queued together. Its pump does nothing (the
// session's thread pumps). The login's own lines are not told: the session is logged in.
class ConnectionPool::WorkerSink : public EventSink {
public:
    explicit WorkerSink(ConnectionPool& pool) : pool_(pool) {}
    void log(const LogEvent& event) override {
        if (!quiet) {
            held_.push_back(event);
        }
    }
    void progress(const ProgressEvent& event) override {
        if (quiet) {
            return;
        }
        ProgressEvent numbered = event;
        std::lock_guard<std::mutex> lock(pool_.mutex_);
        pool_.number(numbered, file_);
        pool_.events_.emplace_back(std::move(numbered));
    }
    void pump() override {}
    int file() const { return file_; }
    // The file's log events to the queue (the caller holds the mutex).
    void flush() {
        pool_.events_.insert(pool_.events_.end(), held_.begin(), held_.end());
        held_.clear();
        file_ = 0;
    }
    bool quiet = true;

private:
    ConnectionPool& pool_;
    std::vector<LogEvent> held_;
    int file_ = 0;
};

ConnectionPool::ConnectionPool(Session& session, int connections)
    : session_(session), mainPorts_(session.ports()) {
    if (connections < 2 || !session.connected()) {
        return;
    }
    certificate_ = session.client()->tlsState().certificate;
    relay_ = std::make_unique<Relay>(*this);
    SessionPorts relayed = mainPorts_;
    relayed.sink = relay_.get();
    session.client()->setPorts(relayed);
    for (int i = 1; i < connections; ++i) {
        workers_.emplace_back([this] { work(); });
    }
}

ConnectionPool::~ConnectionPool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tasks_.clear();
        closing_ = true;
    }
    ready_.notify_all();
    // A worker may still be logging in: the session's thread keeps pumping meanwhile.
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (exited_ == workers_.size() ||
                ready_.wait_for(lock, kWaitStep, [this] { return exited_ == workers_.size(); })) {
                break;
            }
        }
        forward();
        Pump(mainPorts_);
    }
    for (std::thread& worker : workers_) {
        worker.join();
    }
    forward();
    if (relay_ && session_.client()) {
        session_.client()->setPorts(mainPorts_);
    }
}

namespace {

// A worker asks nobody: it takes the certificate the session's own connection was opened with
// (verified, pinned, or let through by the user for this session), and no other.
struct SameCertificate : ftp::CertificateJudge {
    std::string fingerprint;
    ftp::CertificateDecision decide(const ftp::CertificateProblem& problem) override {
        return !fingerprint.empty() && problem.fingerprint == fingerprint
                   ? ftp::CertificateDecision::ConnectOnce
                   : ftp::CertificateDecision::Cancel;
    }
};

} // namespace

void ConnectionPool::work() {
    WorkerSink sink(*this);
    Session session(SessionPorts{&sink, mainPorts_.asciiExtensions, mainPorts_.cancel});
    SessionLogin login = session_.login();
    SameCertificate judge;
    judge.fingerprint = certificate_;
    login.options.tls.judge = &judge;
    const Status opened = OpenSession(session, login);
    sink.quiet = false;
    if (!opened) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(LogEvent{LogKind::ExtraConnectionRefused, opened.reply, {}});
        ++exited_;
        ready_.notify_all();
        return;
    }
    for (;;) {
        Task task;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            ready_.wait(lock, [this] { return closing_ || !tasks_.empty(); });
            if (tasks_.empty()) {
                break;
            }
            task = std::move(tasks_.front());
            tasks_.pop_front();
            ++running_;
        }
        Status status = task.job(session.client());
        {
            std::lock_guard<std::mutex> lock(mutex_);
            --running_;
            finished_.push_back(Finished{std::move(task.done), std::move(status), sink.file()});
            sink.flush();
        }
        ready_.notify_all();
    }
    CloseSession(session);
    std::lock_guard<std::mutex> lock(mutex_);
    ++exited_;
    ready_.notify_all();
}

void ConnectionPool::number(ProgressEvent& event, int& file) {
    if (StartsFile(event)) {
        file = ++started_;
    }
    event.file = file;
}

void ConnectionPool::forward() {
    std::vector<QueuedEvent> events;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events.swap(events_);
    }
    tell(events);
}

void ConnectionPool::tell(std::vector<QueuedEvent>& events) {
    for (QueuedEvent& event : events) {
        if (const LogEvent* log = std::get_if<LogEvent>(&event)) {
            Tell(mainPorts_, log->kind, log->subject, log->detail);
        } else {
            show(std::get<ProgressEvent>(event));
        }
    }
    showTree();
}

void ConnectionPool::show(const ProgressEvent& event) {
    if (event.phase == ProgressPhase::Bytes && event.file > 0) {
        int64_t& moved = fileBytes_[event.file];
        bytesDone_ += event.done - moved;
        moved = event.done;
        treeChanged_ = true;
    }
    Show(mainPorts_, event);
}

void ConnectionPool::showTree(int done) {
    if (!treeChanged_ || !relay_) {
        return;
    }
    treeChanged_ = false;
    ProgressEvent tree{ProgressPhase::Tree, {}};
    tree.done = bytesDone_;
    tree.total = std::max(bytes_, bytesDone_); // a link's size is known only when it moves
    tree.filesDone = filesDone_;
    tree.files = files_;
    tree.file = done;
    Show(mainPorts_, tree);
}

void ConnectionPool::followUp(const Finished& finished) {
    fail(finished.done(finished.status));
    ++filesDone_;
    treeChanged_ = true;
    showTree(finished.number);
}

void ConnectionPool::fail(Status status) {
    if (!failure_.ok() || status.ok()) {
        return;
    }
    failure_ = std::move(status);
    std::lock_guard<std::mutex> lock(mutex_);
    tasks_.clear(); // no more files are handed out; the running ones finish
}

void ConnectionPool::settle() {
    forward();
    std::vector<Finished> finished;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finished.swap(finished_);
    }
    for (Finished& item : finished) {
        followUp(item);
    }
}

void ConnectionPool::submit(Job job, Done done, int64_t size) {
    settle();
    if (failure_.ok()) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            tasks_.push_back(Task{std::move(job), std::move(done)});
        }
        ++files_;
        bytes_ += std::max<int64_t>(size, 0);
        treeChanged_ = true;
        showTree();
    }
    ready_.notify_one();
}

Status ConnectionPool::finish() {
    bool transfersLeft = true;
    for (;;) {
        settle();
        Task task;
        bool idle = false;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (tasks_.empty() && running_ == 0 && finished_.empty()) {
                break;
            }
            if (tasks_.empty()) {
                idle = true;
                ready_.wait_for(lock, kWaitStep);
            } else {
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
        }
        if (task.job) {
            ownFile_ = true;
            ownNumber_ = 0;
            Status status = task.job(session_.client());
            ownFile_ = false;
            followUp(Finished{std::move(task.done), std::move(status), ownNumber_});
        } else {
            // Nothing more comes to this connection: a data connection it asked for ahead is
            // given back now, not left open while the others finish (servers time those out).
            if (idle && transfersLeft && session_.client()) {
                transfersLeft = false;
                session_.client()->setTransfersFollow(false);
            }
            Pump(mainPorts_);
        }
    }
    settle();
    return failure_;
}

} // namespace oxlip
