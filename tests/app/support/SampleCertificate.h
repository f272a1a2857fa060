#pragma once
// A certificate problem as the engine reports it, for the window's certificate tests.

#include "ftp/engine/Tls.h"

#include <string>

namespace oxlip::test {

// A SHA-256 fingerprint, "AB:CD:..." of 32 pairs that differ from one another; seeds give
// different fingerprints.
std::string SampleFingerprint(int seed);

// ftp.example.jp:990 with a Japanese subject and issuer, a year of validity and the
// fingerprint of seed 0x3A; a changed one also has the trusted fingerprint of seed 0xC4.
ftp::CertificateProblem SampleCertificateProblem(ftp::CertificateFault fault);

} // namespace oxlip::test
