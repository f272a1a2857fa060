#pragma once
// Extra connections of a session's login for a tree transfer: files are handed to whichever
// connection is free. Each extra connection has a worker thread of its own; its events are
// queued and told to the session's sink from the thread that owns the session, whose event
// pump keeps running. The main connection takes files too once the walk has handed out all.

#include "ftp/Session.h"

#include <condition_variable>
#include <deque>
#include <functional>
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

    // Hands a file out (after the first failure: dropped). Follows up what has finished.
    void submit(Job job, Done done);
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
    };
    class Relay;
    void work();
    void forward(); // the queued events to the session's sink
    void settle();  // forward, then follow up finished transfers
    void fail(Status status);

    Session& session_;
    SessionPorts mainPorts_;
    std::unique_ptr<Relay> relay_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Task> tasks_;
    std::vector<Finished> finished_;
    std::vector<std::variant<LogEvent, ProgressEvent>> events_; // the workers' events
    int running_ = 0;
    std::size_t exited_ = 0; // workers that have ended
    bool closing_ = false;
    bool ownFile_ = false; // the main connection moves a file (the session's thread only)
    Status failure_ = Status::Ok();
    std::vector<std::thread> workers_;
};

} // namespace oxlip
