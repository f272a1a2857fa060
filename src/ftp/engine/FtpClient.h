#pragma once
// Our FTP client: one object per connection. Passive data connections only (EPSV, then
// PASV), non-blocking sockets, every wait a poll() of at most 50 ms followed by the event
// pump, until the time-out. A failed command leaves the connection usable; a lost control
// connection makes every later call fail at once.

#include "ftp/engine/NameCodec.h"
#include "ftp/engine/Ports.h"
#include "ftp/engine/Tls.h"
#include "localfs/DirEntry.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace oxlip::ftp {

constexpr int kConnectTimeoutMs = 20000;
constexpr int kReplyTimeoutMs = 60000; // any reply or data stall

// Passive: EPSV (PASV once EPSV failed). Active: EPRT (PORT once EPRT is refused), the server
// connecting to us on the control connection's local address.
enum class DataMode { Passive, Active };

// What a connection is opened with besides the server text ("host:port"), user and password.
struct ConnectionOptions {
    TlsOptions tls;
    DataMode data = DataMode::Passive;
    NameEncoding encoding = NameEncoding::Auto;
    // NOOP every this many seconds while the session is idle (the window's timer; 0 = never).
    int keepAliveSeconds = 60;
};

// Called with each block's byte count while a transfer moves data.
using BlockCallback = std::function<void(std::size_t bytes)>;

// What a listing tells besides its entries.
struct ListingNotes {
    // Read from MLSD, which some servers fill from what a link leads to (a link to a folder
    // comes out as a folder).
    bool mlsd = false;
    // Names left out because no path may be built from them ("/", CR, LF or NUL; "." and ".."
    // are not counted), decoded; at most kMaxRefusedNames of them.
    std::vector<std::string> refused;
};
constexpr std::size_t kMaxRefusedNames = 100;

class FtpClient {
public:
    explicit FtpClient(SessionPorts ports = {});
    ~FtpClient();
    FtpClient(const FtpClient&) = delete;
    FtpClient& operator=(const FtpClient&) = delete;

    const SessionPorts& ports() const;
    void setPorts(SessionPorts ports);
    // Shorter time-outs for tests.
    void setTimeouts(int connectMs, int replyMs);

    // FTPS for the next connect() (plain FTP by default).
    void setTls(TlsOptions options);
    // Everything for the next connect(): TLS, data connections, name encoding.
    void setOptions(const ConnectionOptions& options);
    const ConnectionOptions& options() const;
    // What the last connect() got; and the certificate it refused (or accepted only because
    // the judge said so), if any.
    const TlsState& tlsState() const;
    const std::optional<CertificateProblem>& certificateProblem() const;

    // server: "host", "host:port", "[v6addr]:port" or "[v6addr]"; port 21 by default (990
    // for implicit FTPS). Connects, secures the connection as the TLS options say (before
    // USER), logs in (USER/PASS), asks FEAT, turns on UTF8 when offered.
    bool connect(const std::string& server, const std::string& user, const std::string& password);
    bool isOpen() const; // logged in and the control connection not lost
    bool lost() const;   // the control connection was lost (421, reset, time-out)
    // QUIT (briefly waited for), then close the socket. Called from inside the event pump
    // while an operation waits, it makes that operation fail at once and drops the connection.
    void close();
    // Transfers follow one another (a tree, on): after a transfer's data has ended, the next
    // data connection is asked for (EPSV) before the transfer's final reply has come, which
    // spares a round trip a file. Off: a data connection asked for ahead and not used is given
    // back (ABOR). A server that does not answer such an EPSV with 229 gets no more of them.
    void setTransfersFollow(bool on);
    // NOOP, to keep an idle connection (and the routers on its way) from timing out.
    bool noop();

    // Current directory. The client keeps track of it, so that a listing of the folder the
    // session is in sends no CWD.
    bool changeDir(const std::string& path);
    std::optional<std::string> currentDir();
    // The current folder as the client knows it from its own CWD and PWD, without asking;
    // none when unknown.
    std::optional<std::string> knownDir() const;

    // Lists a folder or a pattern (a last component with * or ? keeps the matching
    // entries; "*.*" matches every name). A path without wildcards lists that folder.
    // The folder is made current (CWD) and listed there, and the session stays in it. An
    // empty folder is an empty listing; false when the listing failed.
    bool list(const std::string& pattern, std::vector<DirEntry>& out,
              ListingNotes* notes = nullptr);
    // Lists as list() does, but leaves the session where it is: a folder other than the
    // current one is named in the listing command (which some servers read as a pattern).
    // For lookups between commands that may hold paths relative to the current folder.
    bool listFromHere(const std::string& pattern, std::vector<DirEntry>& out);
    // Lists a folder ("" the current one) with LIST, which shows a link as a link, whatever
    // form list() reads; the session stays in the folder, as with list().
    bool listShowingLinks(const std::string& folder, std::vector<DirEntry>& out,
                          ListingNotes* notes = nullptr);
    // One entry by path: MLST where offered, otherwise SIZE/MDTM for a file or a LIST of its
    // folder (as listFromHere()).
    bool entry(const std::string& path, DirEntry& out);
    // Only the size of a file: MLST where offered, otherwise SIZE, otherwise a LIST.
    bool fileSize(const std::string& path, uint64_t& out);

    bool deleteFile(const std::string& path);
    bool rename(const std::string& from, const std::string& to);
    bool makeDir(const std::string& path);
    bool removeDir(const std::string& path); // a session inside it moves to its parent
    // A raw command line (a final CR is dropped; the engine adds its own CR LF). Returns the
    // final reply code, 0 when nothing could be sent. CR/LF/NUL inside is refused.
    int rawCommand(const std::string& command, std::string* replyText = nullptr);

    // Streams a host file into an open file descriptor (ascii: CR LF becomes LF). A binary
    // file must arrive with the size the server gives for it. listedSize is the size a
    // listing just showed: it spares the SIZE before the transfer, and only a file that
    // arrives with another size is asked about afterwards. restartAt (binary only): the
    // transfer starts there (REST), the descriptor written at its position, and the whole
    // file's size is checked.
    bool retrieve(const std::string& path, bool ascii, int fd, const BlockCallback& onBlock,
                  std::optional<uint64_t> listedSize = std::nullopt, uint64_t restartAt = 0);
    // Streams an open file descriptor to the host (ascii: LF becomes CR LF); append: onto the
    // end of the host file (APPE).
    bool store(const std::string& path, bool ascii, int fd, const BlockCallback& onBlock,
               bool append = false);

    // What the server offers.
    bool hasFeature(const std::string& name) const; // "MLST", "UTF8", "SIZE", "MDTM", "EPSV"
    // Names on the wire are UTF-8: the server offered UTF8 and took "OPTS UTF8 ON".
    bool namesUtf8() const;
    // The last reply's code and text, for messages and tests.
    int lastReplyCode() const;
    std::string lastReplyText() const;

private:
    bool listPattern(const std::string& pattern, std::vector<DirEntry>& out, ListingNotes* notes,
                     bool stay);
    // entry() and fileSize(): withTime asks for the date where it costs a command of its own.
    bool lookup(const std::string& path, DirEntry& out, bool withTime);

    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace oxlip::ftp
