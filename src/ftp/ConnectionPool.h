#pragma once
// Extra connections of a session's login for a tree transfer: files are handed to whichever
// connection is free. Each extra connection has a worker thread of its own; its events are
// queued and told to the session's sink from the thread that owns the session, whose event
// pump keeps running. The main connection takes files too once the walk has handed out all.
//
// What the sink is told: each file's progress events carry the file's number (from 1 in the
// order the files start) and flow while the file moves; a worker's log events are held until
// its file is done and then told together. A Tree event follows each change of the tree's
// figures (a file found, a file done: its number, bytes moved).

#include "ftp/Session.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <variant>
#include <vector>

namespace oxlip {

class ConnectionPool {
public:
    // A file's transfer on a connection (any thread).
    using Job = std::function<Status(FtpClient*)>;
    // What follows a transfer, on the thread that owns the session, never inside the engine's
    // wait; its failure is the pool's failure.
    using Done = std::function<Status(Status)>;

    // connections: the session's own plus connections - 1 extra ones (none below 2).
    ConnectionPool(Session& session, int connections);
    ConnectionPool(const ConnectionPool&) = delete;
    ConnectionPool& operator=(const ConnectionPool&) = delete;
    // Waits for the workers and closes every extra connection.
    ~ConnectionPool();

    // Hands a file of `size` bytes (0: not known) out (after the first failure: dropped).
    // Follows up what has finished.
    void submit(Job job, Done done, int64_t size);
    // Whether a transfer has failed (no more files are handed out then).
    bool failed() const { return !failure_.ok(); }
    // The main connection takes the files not yet handed out, then waits for the running ones;
    // the first failure, or Ok.
    Status finish();

private:
    struct Task {
        Job job;
        Done done;
    };
    struct Finished {
        Done done;
        Status status;
        int number = 0; // the file's number (0: it never started)
    };
    class Relay;
    class WorkerSink;
    using QueuedEvent = std::variant<LogEvent, ProgressEvent>;
    void work();
    void forward(); // the queued events to the session's sink
    void tell(std::vector<QueuedEvent>& events);
    void show(const ProgressEvent& event); // to the session's sink, counting the tree's bytes
    // The tree's figures, when they changed; `done`: the number of a file just done.
    void showTree(int done = 0);
    void settle(); // forward, then follow up finished transfers
    void fail(Status status);
    void followUp(const Finished& finished);
    // A file's event takes the file's number: a start the next one (the caller holds the
    // mutex, so the queue holds the starts in the numbers' order).
    void number(ProgressEvent& event, int& file);

    Session& session_;
    SessionPorts mainPorts_;
    std::string certificate_; // the fingerprint of the session's server certificate, if any
    std::unique_ptr<Relay> relay_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Task> tasks_;
    std::vector<Finished> finished_;
    std::vector<QueuedEvent> events_; // the workers' events
    int running_ = 0;
    int started_ = 0; // files numbered so far
    int ownNumber_ = 0;
    std::size_t exited_ = 0; // workers that have ended
    bool closing_ = false;
    bool ownFile_ = false; // the main connection moves a file (the session's thread only)
    Status failure_ = Status::Ok();
    // The tree's figures (the session's thread only).
    int64_t files_ = 0;
    int64_t filesDone_ = 0;
    int64_t bytes_ = 0;
    int64_t bytesDone_ = 0;
    std::map<int, int64_t> fileBytes_; // by number: the bytes each file has moved
    bool treeChanged_ = false;
    std::vector<std::thread> workers_;
};

} // namespace oxlip
