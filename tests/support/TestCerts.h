#pragma once
// Certificates made at test time (OpenSSL): a test authority and server certificates signed
// by it, for 127.0.0.1 or another name, current or expired, and one signed by an authority
// nobody trusts. Written as PEM files into a temporary folder.

#include "support/TempDir.h"

#include <string>

namespace oxlip::test {

enum class CertKind {
    Good,          // 127.0.0.1 (and "localhost"), valid now, signed by the test authority
    OtherName,     // for "other.example" only
    Expired,       // valid until yesterday
    UnknownIssuer, // signed by an authority that is not in the CA file
    SelfSigned,    // its own issuer
};

struct CertFiles {
    std::string cert; // PEM certificate
    std::string key;  // PEM private key
};

class TestCerts {
public:
    TestCerts();
    bool ok() const { return ok_; }
    // The test authority's certificate: what --cacert and TlsOptions::caFile take.
    const std::string& caFile() const { return caFile_; }
    // The server certificate of the kind.
    CertFiles server(CertKind kind) const;

private:
    TempDir dir_;
    bool ok_ = false;
    std::string caFile_;
};

} // namespace oxlip::test
