#pragma once
// FTPS: TLS under the stream layer (OpenSSL 3). The engine takes a security policy per
// connection; a certificate that does not verify against the system's trust store (plus an
// optional CA file) and the host name stops the connection before the login, and a judge
// given by the caller (the window asks the user, the command-line driver refuses) decides.
// Certificates the user trusts although they did not verify are pinned per "host:port" by
// their SHA-256 fingerprint in a TrustStore; a pinned certificate that changes is refused.

#include "ftp/engine/Stream.h"

#include <memory>
#include <optional>
#include <string>

struct ssl_st;
struct ssl_ctx_st;
struct ssl_session_st;

namespace oxlip {
class TrustStore;
}

namespace oxlip::ftp {

enum class TlsPolicy {
    IfAvailable, // AUTH TLS; plain only when the server refuses it
    Required,    // AUTH TLS or no login at all
    Implicit,    // TLS from the first byte (port 990 by default)
    None,        // plain FTP
};

constexpr uint16_t kImplicitFtpsPort = 990;

// Why a certificate was not accepted.
enum class CertificateFault {
    UnknownIssuer, // no chain to a trusted authority
    SelfSigned,
    Expired,
    NotYetValid,
    NameMismatch, // issued for another host name or address
    Changed,      // differs from the certificate trusted before for this server
    Other,
};

// A certificate that was not accepted, with what a dialog shows about it.
struct CertificateProblem {
    std::string hostPort; // "host:port", the key of the trust store
    std::string subject;  // one line, "CN = ..., O = ..." (UTF-8)
    std::string issuer;
    std::string notBefore; // "YYYY-MM-DD HH:MM:SS" (UTC)
    std::string notAfter;
    std::string fingerprint; // SHA-256, "AB:CD:..." (32 pairs)
    CertificateFault fault = CertificateFault::Other;
    std::string detail;             // OpenSSL's reason, in English
    std::string trustedFingerprint; // Changed only: the fingerprint trusted before
};

enum class CertificateDecision {
    Cancel,      // no connection
    ConnectOnce, // this connection only
    TrustAlways, // pinned in the trust store, then connect
};

// Decides about a certificate that did not verify (the window asks the user). A changed
// pinned certificate is refused without asking.
struct CertificateJudge {
    virtual ~CertificateJudge() = default;
    virtual CertificateDecision decide(const CertificateProblem& problem) = 0;
};

struct TlsOptions {
    TlsPolicy policy = TlsPolicy::None;
    std::string caFile;                // PEM certificates trusted besides the system's
    TrustStore* trust = nullptr;       // pinned certificates; null: none
    CertificateJudge* judge = nullptr; // null: a certificate that does not verify is refused
};

// What a connection got.
struct TlsState {
    bool control = false;    // the control connection is encrypted
    bool data = false;       // data connections are too (PROT P)
    bool fellBack = false;   // "if available": the server refused AUTH TLS, all is plain
    std::string protocol;    // "TLSv1.3"
    std::string cipher;      // "TLS_AES_256_GCM_SHA384"
    std::string certificate; // the server certificate's SHA-256 fingerprint ("AB:CD:...")
};

// One client configuration: trusted authorities, TLS 1.2 at least, and the newest session
// ticket for resuming on data connections.
class TlsContext {
public:
    // False with a reason when OpenSSL or the CA file fails.
    bool init(const std::string& caFile, std::string& error);
    ~TlsContext();
    ssl_ctx_st* get() const { return ctx_; }
    ssl_session_st* latestSession() const { return latest_; }
    void keepSession(ssl_session_st* session); // takes ownership

private:
    ssl_ctx_st* ctx_ = nullptr;
    ssl_session_st* latest_ = nullptr;
};

// TLS over one connected stream.
class TlsLayer {
public:
    ~TlsLayer();
    // Non-blocking handshake on the stream (the pump runs, the time-out counts). resume: a
    // session of the control connection to resume (data connections). host names the server
    // for SNI and the name check.
    static std::unique_ptr<TlsLayer> Handshake(TlsContext& context, Stream& stream,
                                               const std::string& host, bool resume, int timeoutMs,
                                               std::string& error);

    // As recv()/send(): > 0 bytes, 0 at a clean close (close_notify), -1 with errno (EAGAIN:
    // try again once the socket is ready; ECONNRESET: closed without close_notify).
    long recv(char* buffer, std::size_t size);
    long send(const char* data, std::size_t size);
    // Decrypted bytes (or the end) wait inside, though the socket may have nothing more.
    bool hasBuffered() const;
    // The poll events the last call waits for besides the caller's.
    short wants() const { return wants_; }
    // Sends close_notify (once, without waiting).
    void closeNotify();

    // The certificate checks of the handshake: nullopt when the peer's certificate verified.
    std::optional<CertificateProblem> problem(const std::string& hostPort) const;
    std::string fingerprint() const;
    bool resumed() const;
    TlsState state() const;

private:
    TlsLayer() = default;
    long fail(int ret);

    ssl_st* ssl_ = nullptr;
    short wants_ = 0;
    bool broken_ = false;
    bool closed_ = false;
    bool notified_ = false;
    bool starved_ = false; // the last read ended for want of bytes from the socket
};

// Judges the certificate of a fresh control connection: verified, pinned, or allowed by the
// judge. Returns false, with problem set, when the connection must stop.
bool AcceptCertificate(const TlsLayer& tls, const std::string& hostPort, const TlsOptions& options,
                       std::optional<CertificateProblem>& problem);

// "host:port" ("[v6]:port" for an IPv6 address).
std::string HostPortKey(const std::string& host, uint16_t port);

} // namespace oxlip::ftp
