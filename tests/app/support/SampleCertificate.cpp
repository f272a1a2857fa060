#include "support/SampleCertificate.h"

#include <cstdio>

namespace oxlip::test {

std::string SampleFingerprint(int seed) {
    std::string text;
    for (int i = 0; i < 32; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02X", (seed + i * 37) & 0xFF);
        text += (i ? ":" : "") + std::string(pair);
    }
    return text;
}

ftp::CertificateProblem SampleCertificateProblem(ftp::CertificateFault fault) {
    ftp::CertificateProblem p;
    p.hostPort = "ftp.example.jp:990";
    p.subject = "CN = ftp.example.jp, O = 山田商店";
    p.issuer = "CN = 山田商店 CA";
    p.notBefore = "2026-01-01 00:00:00";
    p.notAfter = "2027-01-01 00:00:00";
    p.fingerprint = SampleFingerprint(0x3A);
    p.fault = fault;
    p.detail = "unable to get local issuer certificate";
    if (fault == ftp::CertificateFault::Changed) {
        p.trustedFingerprint = SampleFingerprint(0xC4);
    }
    return p;
}

} // namespace oxlip::test
