#pragma once
// What every core operation returns: whether it worked and, when not, what kind of failure it
// was and the server's reply where there is one. The window words its messages from the kind.

#include <string>
#include <utility>

namespace oxlip {

enum class ErrorKind {
    None,
    NotConnected,   // no session is open
    ConnectionLost, // the control connection went (421, reset, time-out)
    Refused,        // the server answered with a 4xx/5xx reply
    Protocol,       // the server answered in a way the client cannot use
    LocalIo,        // a local file or folder could not be read, written or made
    Unsafe,         // refused before anything was sent: a name or command that is not safe
    Exists,         // refused: the target is taken and would be replaced
    TooDeep,        // a tree walk reached its depth limit
    Incomplete,     // a tree transfer left entries out (each one told in the log)
    Cancelled,      // the user stopped the operation
};

struct [[nodiscard]] Status {
    ErrorKind kind = ErrorKind::None;
    int replyCode = 0; // the server's last reply code, 0 when none
    std::string reply; // the server's last reply text (or why none came)

    static Status Ok(int code = 0, std::string text = {}) {
        return {ErrorKind::None, code, std::move(text)};
    }
    static Status Fail(ErrorKind kind, int code = 0, std::string text = {}) {
        return {kind, code, std::move(text)};
    }
    bool ok() const { return kind == ErrorKind::None; }
    explicit operator bool() const { return ok(); }
};

// A value and the status of the operation that produced it (the value is default-made when
// the operation failed).
template <class T> class [[nodiscard]] Result {
public:
    Result(T value) : value_(std::move(value)) {}
    Result(Status status) : status_(std::move(status)) {}
    Result(T value, Status status) : value_(std::move(value)), status_(std::move(status)) {}

    bool ok() const { return status_.ok(); }
    explicit operator bool() const { return ok(); }
    const Status& status() const { return status_; }
    const T& value() const& { return value_; }
    T&& value() && { return std::move(value_); }

private:
    T value_{};
    Status status_;
};

// How a file crosses the wire: Auto decides by the extension against the program's list.
enum class TransferMode { Auto, Ascii, Binary };

} // namespace oxlip
