#pragma once
// A test authority and server certificates of each kind, made at test time as PEM files.

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
    const std::string& caFile() const { return caFile_; } // the test authority
    CertFiles server(CertKind kind) const;

private:
    TempDir dir_;
    bool ok_ = false;
    std::string caFile_;
};

} // namespace oxlip::test
