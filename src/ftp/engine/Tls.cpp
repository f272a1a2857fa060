#include "ftp/engine/Tls.h"

#include "settings/TrustStore.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

namespace oxlip::ftp {

namespace {

using Clock = std::chrono::steady_clock;

// What one recv() on a TLS connection may bring: many records at once.
constexpr std::size_t kReadAheadBytes = 256 * 1024;

// The context's object for the new-session callback.
int ContextIndex() {
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

// Every new session (TLS 1.3 tickets arrive after the handshake) replaces the one kept, so
// that a data connection resumes with a fresh ticket even where the server takes each once.
int OnNewSession(SSL* ssl, SSL_SESSION* session) {
    auto* context =
        static_cast<TlsContext*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), ContextIndex()));
    if (!context) {
        return 0;
    }
    context->keepSession(session);
    return 1;
}

std::string OpenSslError(const char* what) {
    unsigned long code = ERR_get_error();
    ERR_clear_error();
    char text[256] = {};
    if (code != 0) {
        ERR_error_string_n(code, text, sizeof text);
    }
    return code != 0 ? std::string(what) + ": " + text : std::string(what);
}

std::string NameText(const X509_NAME* name) {
    BIO* bio = BIO_new(BIO_s_mem());
    if (!bio) {
        return "";
    }
    X509_NAME_print_ex(bio, name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    long size = BIO_get_mem_data(bio, &data);
    std::string text(data, size > 0 ? std::size_t(size) : 0);
    BIO_free(bio);
    return text;
}

std::string TimeText(const ASN1_TIME* time) {
    std::tm tm{};
    if (!time || ASN1_TIME_to_tm(time, &tm) != 1) {
        return "";
    }
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

std::string Fingerprint(const X509* cert) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!cert || X509_digest(cert, EVP_sha256(), digest, &size) != 1) {
        return "";
    }
    std::string text;
    for (unsigned int i = 0; i < size; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, i + 1 < size ? "%02X:" : "%02X", digest[i]);
        text += pair;
    }
    return text;
}

CertificateFault FaultOf(long result) {
    switch (result) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return CertificateFault::Expired;
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return CertificateFault::NotYetValid;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return CertificateFault::NameMismatch;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return CertificateFault::SelfSigned;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return CertificateFault::UnknownIssuer;
    default:
        return CertificateFault::Other;
    }
}

bool IsIpAddress(const std::string& host) {
    ASN1_OCTET_STRING* ip = a2i_IPADDRESS(host.c_str());
    if (ip) {
        ASN1_OCTET_STRING_free(ip);
    }
    return ip != nullptr;
}

// Writes with MSG_NOSIGNAL: a peer that went away is an error, never a SIGPIPE that ends the
// program. Everything else is OpenSSL's socket BIO.
int WriteNoSignal(BIO* bio, const char* data, int size) {
    int fd = -1;
    BIO_get_fd(bio, &fd);
    BIO_clear_retry_flags(bio);
    const long n = ::send(fd, data, std::size_t(std::max(size, 0)), MSG_NOSIGNAL);
    if (n < 0 && BIO_sock_should_retry(-1)) {
        BIO_set_retry_write(bio);
    }
    return int(n);
}

const BIO_METHOD* SocketMethod() {
    static BIO_METHOD* const method = [] {
        const BIO_METHOD* base = BIO_s_socket();
        BIO_METHOD* m = BIO_meth_new(BIO_TYPE_SOCKET, "socket without SIGPIPE");
        if (m) {
            BIO_meth_set_write(m, WriteNoSignal);
            BIO_meth_set_read(m, BIO_meth_get_read(base));
            BIO_meth_set_puts(m, BIO_meth_get_puts(base));
            BIO_meth_set_ctrl(m, BIO_meth_get_ctrl(base));
            BIO_meth_set_create(m, BIO_meth_get_create(base));
            BIO_meth_set_destroy(m, BIO_meth_get_destroy(base));
        }
        return m;
    }();
    return method;
}

} // namespace

// --- TlsContext ----------------------------------------------------------------------------

bool TlsContext::init(const std::string& caFile, std::string& error) {
    ctx_ = SSL_CTX_new(TLS_client_method());
    if (!ctx_) {
        error = OpenSslError("TLS set-up failed");
        return false;
    }
    SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
    // Certificates are judged after the handshake (see AcceptCertificate), so that a problem
    // can be shown with the certificate itself rather than ending in a handshake alert.
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_NONE, nullptr);
    SSL_CTX_set_default_verify_paths(ctx_);
    if (!caFile.empty() && SSL_CTX_load_verify_locations(ctx_, caFile.c_str(), nullptr) != 1) {
        error = OpenSslError(("cannot read the CA file " + caFile).c_str());
        return false;
    }
    // The record buffers stay for the connection's life (freeing them after each record costs
    // an allocation per 16 KiB), and records are read ahead in large blocks: one recv() brings
    // many records instead of two calls per record (header, then body).
    SSL_CTX_set_mode(ctx_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_read_ahead(ctx_, 1);
    SSL_CTX_set_default_read_buffer_len(ctx_, kReadAheadBytes);
    SSL_CTX_set_ex_data(ctx_, ContextIndex(), this);
    SSL_CTX_set_session_cache_mode(ctx_, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(ctx_, OnNewSession);
    return true;
}

TlsContext::~TlsContext() {
    if (latest_) {
        SSL_SESSION_free(latest_);
    }
    if (ctx_) {
        SSL_CTX_free(ctx_);
    }
}

void TlsContext::keepSession(SSL_SESSION* session) {
    if (latest_) {
        SSL_SESSION_free(latest_);
    }
    latest_ = session;
}

// --- TlsLayer ------------------------------------------------------------------------------

TlsLayer::~TlsLayer() {
    if (ssl_) {
        SSL_free(ssl_);
    }
}

std::unique_ptr<TlsLayer> TlsLayer::Handshake(TlsContext& context, Stream& stream,
                                              const std::string& host, bool resume, int timeoutMs,
                                              std::string& error) {
    std::unique_ptr<TlsLayer> tls(new TlsLayer);
    tls->ssl_ = SSL_new(context.get());
    BIO* bio = SocketMethod() ? BIO_new(SocketMethod()) : nullptr;
    if (!tls->ssl_ || !bio) {
        BIO_free(bio);
        error = OpenSslError("TLS set-up failed");
        return nullptr;
    }
    BIO_set_fd(bio, stream.fd(), BIO_NOCLOSE);
    SSL_set_bio(tls->ssl_, bio, bio);
    X509_VERIFY_PARAM* param = SSL_get0_param(tls->ssl_);
    if (IsIpAddress(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
    } else {
        X509_VERIFY_PARAM_set1_host(param, host.c_str(), 0);
        SSL_set_tlsext_host_name(tls->ssl_, host.c_str());
    }
    if (resume && context.latestSession()) {
        SSL_set_session(tls->ssl_, context.latestSession());
    }
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (int rounds = 0; rounds < 1000000; ++rounds) {
        ERR_clear_error();
        int ret = SSL_connect(tls->ssl_);
        if (ret == 1) {
            return tls;
        }
        int reason = SSL_get_error(tls->ssl_, ret);
        short event = reason == SSL_ERROR_WANT_READ    ? POLLIN
                      : reason == SSL_ERROR_WANT_WRITE ? POLLOUT
                                                       : 0;
        if (event == 0) {
            error = OpenSslError("TLS handshake failed");
            return nullptr;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        Stream* self = &stream;
        int ready = WaitStreams(&self, &event, 1, int(std::max<long long>(left.count(), 0)),
                                stream.pumper());
        if (ready <= 0) {
            error = ready == 0 ? "TLS handshake timed out" : "stopped";
            return nullptr;
        }
    }
    error = "TLS handshake failed";
    return nullptr;
}

long TlsLayer::fail(int ret) {
    int reason = SSL_get_error(ssl_, ret);
    if (reason == SSL_ERROR_WANT_READ || reason == SSL_ERROR_WANT_WRITE) {
        wants_ = reason == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
        starved_ = reason == SSL_ERROR_WANT_READ;
        errno = EAGAIN;
        return -1;
    }
    if (reason == SSL_ERROR_ZERO_RETURN) {
        closed_ = true;
        return 0; // close_notify: the data ended as the peer meant
    }
    // Anything else, an end of the socket without close_notify among it, may have cut the
    // data short: it is a failure, and stays one.
    ERR_clear_error();
    broken_ = true;
    errno = ECONNRESET;
    return -1;
}

long TlsLayer::recv(char* buffer, std::size_t size) {
    if (broken_) {
        errno = ECONNRESET;
        return -1;
    }
    if (closed_) {
        return 0;
    }
    wants_ = 0;
    ERR_clear_error();
    std::size_t got = 0;
    int ret = SSL_read_ex(ssl_, buffer, size, &got);
    if (ret == 1) {
        starved_ = false;
        return long(got);
    }
    return fail(ret);
}

long TlsLayer::send(const char* data, std::size_t size) {
    if (broken_) {
        errno = ECONNRESET;
        return -1;
    }
    wants_ = 0;
    ERR_clear_error();
    std::size_t sent = 0;
    int ret = SSL_write_ex(ssl_, data, size, &sent);
    return ret == 1 ? long(sent) : fail(ret);
}

bool TlsLayer::hasBuffered() const {
    // The end, once read, is there for the next read too, though the socket may stay open.
    // Records read ahead but not yet decrypted count too (the socket will not signal them
    // again), unless the last read wanted more: then what waits is part of a record only.
    return closed_ || SSL_pending(ssl_) > 0 || (!starved_ && SSL_has_pending(ssl_) == 1);
}

void TlsLayer::closeNotify() {
    if (!notified_ && !broken_) {
        notified_ = true;
        ERR_clear_error();
        SSL_shutdown(ssl_);
        ERR_clear_error();
    }
}

std::string TlsLayer::fingerprint() const {
    X509* cert = SSL_get1_peer_certificate(ssl_);
    std::string text = Fingerprint(cert);
    X509_free(cert);
    return text;
}

bool TlsLayer::resumed() const {
    return SSL_session_reused(ssl_) == 1;
}

TlsState TlsLayer::state() const {
    TlsState state;
    state.control = true;
    state.protocol = SSL_get_version(ssl_);
    const char* cipher = SSL_get_cipher_name(ssl_);
    state.cipher = cipher ? cipher : "";
    state.certificate = fingerprint();
    return state;
}

std::optional<CertificateProblem> TlsLayer::problem(const std::string& hostPort) const {
    long result = SSL_get_verify_result(ssl_);
    X509* cert = SSL_get1_peer_certificate(ssl_);
    if (result == X509_V_OK && cert) {
        X509_free(cert);
        return std::nullopt;
    }
    CertificateProblem problem;
    problem.hostPort = hostPort;
    if (cert) {
        problem.subject = NameText(X509_get_subject_name(cert));
        problem.issuer = NameText(X509_get_issuer_name(cert));
        problem.notBefore = TimeText(X509_get0_notBefore(cert));
        problem.notAfter = TimeText(X509_get0_notAfter(cert));
        problem.fingerprint = Fingerprint(cert);
        problem.fault = FaultOf(result);
        problem.detail = X509_verify_cert_error_string(result);
        X509_free(cert);
    } else {
        problem.detail = "the server sent no certificate";
    }
    return problem;
}

// --- judging -------------------------------------------------------------------------------

bool AcceptCertificate(const TlsLayer& tls, const std::string& hostPort, const TlsOptions& options,
                       std::optional<CertificateProblem>& problem) {
    problem = tls.problem(hostPort);
    if (!problem) {
        return true;
    }
    if (problem->fingerprint.empty()) {
        return false;
    }
    if (options.trust) {
        if (auto pinned = options.trust->find(hostPort)) {
            if (*pinned == problem->fingerprint) {
                problem.reset();
                return true;
            }
            problem->trustedFingerprint = *pinned;
            problem->fault = CertificateFault::Changed;
            return false;
        }
    }
    if (!options.judge) {
        return false;
    }
    switch (options.judge->decide(*problem)) {
    case CertificateDecision::TrustAlways:
        if (options.trust) {
            options.trust->trust(hostPort, problem->fingerprint);
        }
        [[fallthrough]];
    case CertificateDecision::ConnectOnce:
        return true;
    case CertificateDecision::Cancel:
        break;
    }
    return false;
}

std::string HostPortKey(const std::string& host, uint16_t port) {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

} // namespace oxlip::ftp
