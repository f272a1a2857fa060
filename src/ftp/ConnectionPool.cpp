#include "ftp/ConnectionPool.h"

#include <chrono>
#include <variant>

namespace oxlip {

namespace {

// A worker's event, kept until the session's thread tells it.
using QueuedEvent = std::variant<LogEvent, ProgressEvent>;

constexpr auto kWaitStep = std::chrono::milliseconds(20);

} // namespace

// The main connection's sink while the pool runs: the session's own, with the workers' events
// told at every pump.
class ConnectionPool::Relay : public EventSink {
public:
    Relay(ConnectionPool& pool, EventSink* inner) : pool_(pool), inner_(inner) {}
    void log(const LogEvent& event) override {
        if (inner_) {
            inner_->log(event);
        }
    }
    void progress(const ProgressEvent& event) override {
        if (inner_) {
            inner_->progress(event);
        }
    }
    void pump() override {
        if (!pool_.ownFile_) { // a file of the main connection keeps its events together
            pool_.forward();
        }
        if (inner_) {
            inner_->pump();
        }
    }

private:
    ConnectionPool& pool_;
    EventSink* inner_;
};

namespace {

// A worker connection's sink: a file's events are kept until it is done and then queued
// together, so that each file's lines and progress stay together; its pump does nothing (the
// session's thread pumps). The login's own lines are not told: the session is logged in.
class QueueSink : public EventSink {
public:
    explicit QueueSink(std::vector<QueuedEvent>& queue) : queue_(queue) {}
    void log(const LogEvent& event) override { push(event); }
    void progress(const ProgressEvent& event) override { push(event); }
    void pump() override {}
    // The file's events to the queue (the caller holds the mutex).
    void flush() {
        queue_.insert(queue_.end(), std::make_move_iterator(held_.begin()),
                      std::make_move_iterator(held_.end()));
        held_.clear();
    }
    bool quiet = true;

private:
    void push(QueuedEvent event) {
        if (!quiet) {
            held_.push_back(std::move(event));
        }
    }
    std::vector<QueuedEvent>& queue_;
    std::vector<QueuedEvent> held_;
};

} // namespace

ConnectionPool::ConnectionPool(Session& session, int connections)
    : session_(session), mainPorts_(session.ports()) {
    if (connections < 2 || !session.connected()) {
        return;
    }
    relay_ = std::make_unique<Relay>(*this, mainPorts_.sink);
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

void ConnectionPool::work() {
    QueueSink sink(events_);
    Session session(SessionPorts{&sink, mainPorts_.asciiExtensions, mainPorts_.cancel});
    SessionLogin login = session_.login();
    login.options.tls.judge = nullptr; // no question from a worker: pinned or verified only
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
            sink.flush();
            finished_.push_back(Finished{std::move(task.done), std::move(status)});
        }
        ready_.notify_all();
    }
    CloseSession(session);
    std::lock_guard<std::mutex> lock(mutex_);
    ++exited_;
    ready_.notify_all();
}

void ConnectionPool::forward() {
    std::vector<QueuedEvent> events;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events.swap(events_);
    }
    for (QueuedEvent& event : events) {
        if (const LogEvent* log = std::get_if<LogEvent>(&event)) {
            Tell(mainPorts_, log->kind, log->subject, log->detail);
        } else {
            Show(mainPorts_, std::get<ProgressEvent>(event));
        }
    }
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
        fail(item.done(std::move(item.status)));
    }
}

void ConnectionPool::submit(Job job, Done done) {
    settle();
    if (failure_.ok()) {
        std::lock_guard<std::mutex> lock(mutex_);
        tasks_.push_back(Task{std::move(job), std::move(done)});
    }
    ready_.notify_one();
}

Status ConnectionPool::finish() {
    for (;;) {
        settle();
        Task task;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (tasks_.empty() && running_ == 0 && finished_.empty()) {
                break;
            }
            if (tasks_.empty()) {
                ready_.wait_for(lock, kWaitStep);
            } else {
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
        }
        if (task.job) {
            ownFile_ = true;
            Status status = task.job(session_.client());
            ownFile_ = false;
            fail(task.done(std::move(status)));
        } else {
            Pump(mainPorts_);
        }
    }
    settle();
    return failure_;
}

} // namespace oxlip
